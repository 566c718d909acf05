#include "lanrelay/gui/config_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "lanrelay/gui/place_near_cursor.h"
#include "lanrelay/shell/shell_front.h"

namespace gui {
namespace {

QString toQ(const std::string& text) { return QString::fromStdString(text); }

// One number field of the group: caption above, edit box with the unit
// label to its right.
QLineEdit* addField(QGridLayout* grid, int row, const QString& caption, const QString& unit, QWidget* parent) {
  auto* label = new QLabel(caption, parent);
  auto* edit = new QLineEdit(parent);
  label->setBuddy(edit);
  grid->addWidget(label, row, 0, 1, 2);
  grid->addWidget(edit, row + 1, 0);
  if (!unit.isEmpty()) grid->addWidget(new QLabel(unit, parent), row + 1, 1);
  return edit;
}

}  // namespace

ConfigDialog::ConfigDialog(const engine::RelaySettings& current, QWidget* parent)
    : QDialog(parent), values_(current) {
  setWindowTitle("Program Configulation");
  complain_ = [this](const QString& text) {
    QMessageBox::warning(this, shell::kProgramCaption, text);
  };
  chooseFolder_ = [this] {
    return QFileDialog::getExistingDirectory(this, "Log data save folder", QString(), QFileDialog::ShowDirsOnly);
  };

  auto* system = new QGroupBox("System Configuration", this);
  auto* systemGrid = new QGridLayout(system);
  boardPort_ = addField(systemGrid, 0, "Connecting Port Number(&C)", QString(), system);
  aliveTime_ = addField(systemGrid, 2, "Alive Interval Time(&A)", "sec", system);
  nonCommTime_ = addField(systemGrid, 4, "Alive Interval Time\n     For No Communication(&N)", "sec", system);
  responseTime_ = addField(systemGrid, 6, "Response Timeout(&R)", "mili sec", system);
  errorCount_ = addField(systemGrid, 8, "Error Filtering Count(&E)", "time(s)", system);
  systemGrid->setColumnStretch(2, 1);

  auto* serverGrid = new QGridLayout;
  serverPort_ = addField(serverGrid, 0, "Reception Port Number(&S)", QString(), this);
  serverGrid->setColumnStretch(2, 1);
  popupEnabled_ = new QCheckBox("Poup Message Display Enable(&P)", this);

  auto* log = new QGroupBox("System Log", this);
  auto* logLayout = new QGridLayout(log);
  logEnabled_ = new QCheckBox("Enable", log);
  auto* folderLabel = new QLabel("Folder(&F)", log);
  logFolder_ = new QLineEdit(log);
  folderLabel->setBuddy(logFolder_);
  browse_ = new QPushButton("Refference(&D)...", log);
  logLayout->addWidget(logEnabled_, 0, 0, 1, 2);
  logLayout->addWidget(folderLabel, 1, 0, 1, 2);
  logLayout->addWidget(logFolder_, 2, 0);
  logLayout->addWidget(browse_, 2, 1);

  ok_ = new QPushButton("OK", this);
  cancel_ = new QPushButton("Cancel", this);
  ok_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(system);
  layout->addLayout(serverGrid);
  layout->addWidget(popupEnabled_);
  layout->addWidget(log);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(ok_, &QPushButton::clicked, this, &ConfigDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &ConfigDialog::reject);
  connect(logEnabled_, &QCheckBox::clicked, this, [this] { enableClicked(); });
  connect(browse_, &QPushButton::clicked, this, [this] { browseClicked(); });

  showValues();
  logFolder_->setEnabled(values_.logFlag != 0);
  // Typing stops at 255 characters; a longer folder read from the settings
  // file is shown whole (not silently cut) and fails the length check on OK.
  if (logFolder_->text().size() <= static_cast<qsizetype>(kLogFolderLimit)) {
    logFolder_->setMaxLength(static_cast<int>(kLogFolderLimit));
  }
  adjustSize();
  placeNearCursor(*this);
}

QLineEdit* ConfigDialog::edit(ConfigField field) const {
  switch (field) {
    case ConfigField::AliveTime: return aliveTime_;
    case ConfigField::BoardPort: return boardPort_;
    case ConfigField::LogFolder: return logFolder_;
    case ConfigField::NonCommTime: return nonCommTime_;
    case ConfigField::ResponseTime: return responseTime_;
    case ConfigField::ServerPort: return serverPort_;
    case ConfigField::ErrorCount: return errorCount_;
    case ConfigField::LogEnabled:
    case ConfigField::PopupEnabled: break;
  }
  return nullptr;
}

bool ConfigDialog::readControls() {
  ConfigFormInput input;
  input.logEnabled = logEnabled_->isChecked();
  input.popupEnabled = popupEnabled_->isChecked();
  input.aliveTime = aliveTime_->text().toStdString();
  input.boardPort = boardPort_->text().toStdString();
  input.logFolder = logFolder_->text().toStdString();
  input.nonCommTime = nonCommTime_->text().toStdString();
  input.responseTime = responseTime_->text().toStdString();
  input.serverPort = serverPort_->text().toStdString();
  input.errorCount = errorCount_->text().toStdString();
  std::optional<ConfigFailure> failure = readConfigForm(input, values_);
  if (!failure) return true;
  complain_(toQ(failure->message));
  QWidget* control = edit(failure->field);
  if (control == nullptr) control = failure->field == ConfigField::LogEnabled ? logEnabled_ : popupEnabled_;
  control->setFocus();
  if (auto* line = qobject_cast<QLineEdit*>(control)) line->selectAll();
  return false;
}

void ConfigDialog::showValues() {
  const ConfigFormInput input = configFormFor(values_);
  logEnabled_->setChecked(input.logEnabled);
  popupEnabled_->setChecked(input.popupEnabled);
  aliveTime_->setText(toQ(input.aliveTime));
  boardPort_->setText(toQ(input.boardPort));
  logFolder_->setText(toQ(input.logFolder));
  nonCommTime_->setText(toQ(input.nonCommTime));
  responseTime_->setText(toQ(input.responseTime));
  serverPort_->setText(toQ(input.serverPort));
  errorCount_->setText(toQ(input.errorCount));
}

void ConfigDialog::accept() {
  if (!readControls()) return;
  if (values_.logFlag != 0 && !logFolderExists(values_.logFolder)) {
    complain_("Folder Not Exist");
    return;
  }
  QDialog::accept();
}

void ConfigDialog::enableClicked() {
  // The check box is read first, so its new state counts even when a later
  // field fails.
  readControls();
  logFolder_->setEnabled(logEnabled_->isChecked());
}

void ConfigDialog::browseClicked() {
  readControls();  // a failing field has shown its message; the browser opens all the same
  const QString folder = chooseFolder_();
  if (folder.isEmpty()) return;
  values_.logFolder = folder.toStdString();
  showValues();
}

}  // namespace gui
