// The configuration dialog's widgets on the offscreen platform: its fields,
// the messages of OK in reading order, "Enable" and "Refference(&D)...".
#include "lanrelay/gui/config_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "gui_test_app.h"

namespace gui {
namespace {

class GuiConfigDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    gui_test::application();
    current_.aliveTime = 15;
    current_.logFolder = "/no/such/folder";
    dialog_ = std::make_unique<ConfigDialog>(current_);
    dialog_->setComplain([this](const QString& text) { complaints_.push_back(text.toStdString()); });
    dialog_->setChooseFolder([this] { return chosen_; });
    dialog_->show();
  }

  void type(ConfigField field, const QString& text) {
    QLineEdit* edit = dialog_->edit(field);
    edit->selectAll();
    edit->setFocus();
    QTest::keyClicks(edit, text);
  }
  void clickOk() { QTest::mouseClick(dialog_->okButton(), Qt::LeftButton); }

  engine::RelaySettings current_;
  std::unique_ptr<ConfigDialog> dialog_;
  std::vector<std::string> complaints_;
  QString chosen_;
};

TEST_F(GuiConfigDialog, TitleLabelsAndValues) {
  EXPECT_EQ(dialog_->windowTitle(), "Program Configulation");
  QStringList labels;
  for (QLabel* label : dialog_->findChildren<QLabel*>()) labels << label->text();
  for (const char* text : {"Connecting Port Number(&C)", "Alive Interval Time(&A)",
                           "Alive Interval Time\n     For No Communication(&N)", "Response Timeout(&R)",
                           "Error Filtering Count(&E)", "Reception Port Number(&S)", "Folder(&F)", "sec",
                           "mili sec", "time(s)"}) {
    EXPECT_TRUE(labels.contains(text)) << text;
  }
  QStringList groups;
  for (QGroupBox* box : dialog_->findChildren<QGroupBox*>()) groups << box->title();
  EXPECT_TRUE(groups.contains("System Configuration"));
  EXPECT_TRUE(groups.contains("System Log"));
  EXPECT_EQ(dialog_->logEnabledBox()->text(), "Enable");
  EXPECT_EQ(dialog_->popupEnabledBox()->text(), "Poup Message Display Enable(&P)");
  EXPECT_EQ(dialog_->browseButton()->text(), "Refference(&D)...");

  EXPECT_EQ(dialog_->edit(ConfigField::AliveTime)->text(), "15");
  EXPECT_EQ(dialog_->edit(ConfigField::BoardPort)->text(), "10001");
  EXPECT_EQ(dialog_->edit(ConfigField::ServerPort)->text(), "10010");
  EXPECT_EQ(dialog_->edit(ConfigField::LogFolder)->text(), "/no/such/folder");
  EXPECT_FALSE(dialog_->logEnabledBox()->isChecked());
  EXPECT_TRUE(dialog_->popupEnabledBox()->isChecked());
  // The folder box follows "Enable"; the browse button is always there.
  EXPECT_FALSE(dialog_->edit(ConfigField::LogFolder)->isEnabled());
  EXPECT_TRUE(dialog_->browseButton()->isEnabled());
  EXPECT_EQ(dialog_->edit(ConfigField::LogFolder)->maxLength(), 255);
}

TEST_F(GuiConfigDialog, OkWithoutChangesAcceptsTheSameValues) {
  clickOk();
  EXPECT_TRUE(complaints_.empty());
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(dialog_->values(), current_);
}

TEST_F(GuiConfigDialog, FirstBadFieldInReadingOrderOncePerOk) {
  type(ConfigField::BoardPort, "70000");
  type(ConfigField::AliveTime, "0");
  clickOk();
  ASSERT_EQ(complaints_.size(), 1u);
  EXPECT_EQ(complaints_[0], "1 から 100000 までの整数を入力してください。");
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(dialog_->focusWidget(), dialog_->edit(ConfigField::AliveTime));

  type(ConfigField::AliveTime, "5");
  clickOk();
  ASSERT_EQ(complaints_.size(), 2u);
  EXPECT_EQ(complaints_[1], "0 から 65535 までの整数を入力してください。");
  EXPECT_EQ(dialog_->focusWidget(), dialog_->edit(ConfigField::BoardPort));

  type(ConfigField::BoardPort, "0");
  type(ConfigField::ErrorCount, "two");
  clickOk();
  ASSERT_EQ(complaints_.size(), 3u);
  EXPECT_EQ(complaints_[2], "整数を入力してください。");
  EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(GuiConfigDialog, EnableTogglesTheFolderBoxEvenWhenAFieldFails) {
  type(ConfigField::ResponseTime, "x");
  dialog_->logEnabledBox()->click();
  EXPECT_EQ(complaints_, std::vector<std::string>{"整数を入力してください。"});
  EXPECT_TRUE(dialog_->edit(ConfigField::LogFolder)->isEnabled());
  EXPECT_EQ(dialog_->values().logFlag, 1);
  dialog_->logEnabledBox()->click();
  EXPECT_FALSE(dialog_->edit(ConfigField::LogFolder)->isEnabled());
}

TEST_F(GuiConfigDialog, FolderMustExistOnlyWhileTheLogIsEnabled) {
  dialog_->logEnabledBox()->click();
  clickOk();
  EXPECT_EQ(complaints_, std::vector<std::string>{"Folder Not Exist"});
  EXPECT_TRUE(dialog_->isVisible());

  gui_test::TempFolder folder;
  type(ConfigField::LogFolder, QString::fromStdString(folder.path()));
  clickOk();
  EXPECT_EQ(complaints_.size(), 1u);
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(dialog_->values().logFolder, folder.path());
  EXPECT_EQ(dialog_->values().logFlag, 1);
}

TEST_F(GuiConfigDialog, BrowsedFolderReplacesTheTextAndRefreshesTheFields) {
  type(ConfigField::NonCommTime, "abc");
  chosen_ = "/picked/folder";
  QTest::mouseClick(dialog_->browseButton(), Qt::LeftButton);
  // The failing field was reported, the browser opened all the same, and the
  // refresh shows that field's last accepted value again.
  EXPECT_EQ(complaints_, std::vector<std::string>{"整数を入力してください。"});
  EXPECT_EQ(dialog_->edit(ConfigField::LogFolder)->text(), "/picked/folder");
  EXPECT_EQ(dialog_->edit(ConfigField::NonCommTime)->text(), "10");

  chosen_.clear();  // browser cancelled: nothing changes
  dialog_->edit(ConfigField::LogFolder)->setText("/typed");
  QTest::mouseClick(dialog_->browseButton(), Qt::LeftButton);
  EXPECT_EQ(dialog_->edit(ConfigField::LogFolder)->text(), "/typed");
}

TEST_F(GuiConfigDialog, LongFolderFromTheFileIsShownWholeAndFailsOnOk) {
  current_.logFolder = std::string(259, 'f');
  ConfigDialog dialog(current_);
  std::vector<std::string> complaints;
  dialog.setComplain([&](const QString& text) { complaints.push_back(text.toStdString()); });
  EXPECT_EQ(dialog.edit(ConfigField::LogFolder)->text().size(), 259);
  dialog.accept();
  EXPECT_EQ(complaints, std::vector<std::string>{"255 文字以内で入力してください。"});
  EXPECT_NE(dialog.result(), QDialog::Accepted);
}

TEST_F(GuiConfigDialog, OutOfRangeValueFromTheFileFailsWhenUntouched) {
  current_.aliveTime = 0;
  ConfigDialog dialog(current_);
  std::vector<std::string> complaints;
  dialog.setComplain([&](const QString& text) { complaints.push_back(text.toStdString()); });
  dialog.accept();
  EXPECT_EQ(complaints, std::vector<std::string>{"1 から 100000 までの整数を入力してください。"});
}

TEST_F(GuiConfigDialog, CancelAndEscapeReject) {
  QTest::mouseClick(dialog_->cancelButton(), Qt::LeftButton);
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
  EXPECT_FALSE(dialog_->isVisible());
  dialog_->show();
  QTest::keyClick(dialog_.get(), Qt::Key_Escape);
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_TRUE(complaints_.empty());
}

}  // namespace
}  // namespace gui
