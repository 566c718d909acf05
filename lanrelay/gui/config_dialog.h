// "Program Configulation": the dialog that edits the relay's nine settings
// while it runs. It works on its own copy; the caller applies that copy to
// the running relay only when the dialog ends with OK. Reading the controls
// follows the fixed field order of ConfigField and stops at the first field
// that fails, with that field's message and the focus on it.
// Thread: the GUI thread.
#pragma once

#include <QDialog>
#include <functional>

#include "lanrelay/engine/relay_settings.h"
#include "lanrelay/gui/config_form.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace gui {

class ConfigDialog final : public QDialog {
 public:
  ConfigDialog(const engine::RelaySettings& current, QWidget* parent = nullptr);

  // The dialog's copy of the values (the accepted ones after OK).
  const engine::RelaySettings& values() const { return values_; }

  // How a problem reaches the user (a message box by default) and how a
  // folder is picked (the desktop's folder browser by default; an empty
  // text means none was picked). Replaceable for tests.
  void setComplain(std::function<void(const QString& text)> complain) { complain_ = std::move(complain); }
  void setChooseFolder(std::function<QString()> chooseFolder) { chooseFolder_ = std::move(chooseFolder); }

  QLineEdit* edit(ConfigField field) const;
  QCheckBox* logEnabledBox() const { return logEnabled_; }
  QCheckBox* popupEnabledBox() const { return popupEnabled_; }
  QPushButton* browseButton() const { return browse_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

  // Reads the controls into the copy; false (after the message) at the first
  // field that fails.
  bool readControls();
  // Shows the copy in the controls.
  void showValues();

  void accept() override;

 private:
  void enableClicked();
  void browseClicked();

  engine::RelaySettings values_;
  std::function<void(const QString&)> complain_;
  std::function<QString()> chooseFolder_;

  QLineEdit* boardPort_;
  QLineEdit* aliveTime_;
  QLineEdit* nonCommTime_;
  QLineEdit* responseTime_;
  QLineEdit* errorCount_;
  QLineEdit* serverPort_;
  QCheckBox* popupEnabled_;
  QCheckBox* logEnabled_;
  QLineEdit* logFolder_;
  QPushButton* browse_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace gui
