// Reading the configuration dialog's fields: integers, ranges, the folder's
// length and, above all, the fixed order in which the fields are checked.
#include "lanrelay/gui/config_form.h"

#include <gtest/gtest.h>

#include "gui_test_app.h"

namespace gui {
namespace {

struct IntegerCase {
  const char* text;
  std::optional<int32_t> value;
};

void PrintTo(const IntegerCase& c, std::ostream* os) { *os << "'" << c.text << "'"; }

class GuiDialogInteger : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(GuiDialogInteger, ReadsWholeIntegersOnly) {
  EXPECT_EQ(parseDialogInteger(GetParam().text), GetParam().value) << "text: '" << GetParam().text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GuiDialogInteger,
    ::testing::Values(IntegerCase{"10", 10}, IntegerCase{"0", 0}, IntegerCase{" 42 ", 42}, IntegerCase{"-5", -5},
                      IntegerCase{"+7", 7}, IntegerCase{"", std::nullopt}, IntegerCase{"  ", std::nullopt},
                      IntegerCase{"abc", std::nullopt}, IntegerCase{"12abc", std::nullopt},
                      IntegerCase{"1 2", std::nullopt}, IntegerCase{"-", std::nullopt},
                      IntegerCase{"1.5", std::nullopt},
                      // Beyond 32 bits: clamped, so the range check reports it.
                      IntegerCase{"99999999999", 2147483647}, IntegerCase{"-99999999999", -2147483647 - 1}));

ConfigFormInput validInput() { return configFormFor(engine::RelaySettings{}); }

TEST(GuiConfigForm, ShowsValuesAsDecimalText) {
  engine::RelaySettings values;
  values.aliveTime = 0;
  values.logFolder = "/var/log/relay";
  values.logFlag = 1;
  values.popupFlag = 0;
  ConfigFormInput input = configFormFor(values);
  EXPECT_EQ(input.aliveTime, "0");
  EXPECT_EQ(input.boardPort, "10001");
  EXPECT_EQ(input.responseTime, "300");
  EXPECT_EQ(input.serverPort, "10010");
  EXPECT_EQ(input.errorCount, "2");
  EXPECT_EQ(input.logFolder, "/var/log/relay");
  EXPECT_TRUE(input.logEnabled);
  EXPECT_FALSE(input.popupEnabled);
}

TEST(GuiConfigForm, AcceptsValidValuesAndPortZero) {
  ConfigFormInput input = validInput();
  input.boardPort = "0";
  input.serverPort = "0";
  input.aliveTime = "100000";
  input.errorCount = "99999";
  input.logEnabled = true;
  engine::RelaySettings values;
  EXPECT_EQ(readConfigForm(input, values), std::nullopt);
  EXPECT_EQ(values.boardPort, 0);
  EXPECT_EQ(values.serverPort, 0);
  EXPECT_EQ(values.aliveTime, 100000);
  EXPECT_EQ(values.errorCount, 99999);
  EXPECT_EQ(values.logFlag, 1);
}

struct FieldCase {
  ConfigField field;
  std::string ConfigFormInput::*text;
  const char* tooLow;   // nullptr: no lower case to try
  const char* tooHigh;
  const char* bounds;   // the range message
};

void PrintTo(const FieldCase& c, std::ostream* os) { *os << "field " << static_cast<int>(c.field); }

class GuiConfigFormField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(GuiConfigFormField, ReportsLettersAndRangeWithItsBounds) {
  const FieldCase& c = GetParam();
  for (const char* text : {c.tooLow, c.tooHigh}) {
    ConfigFormInput input = validInput();
    input.*c.text = text;
    engine::RelaySettings values;
    auto failure = readConfigForm(input, values);
    ASSERT_TRUE(failure.has_value()) << text;
    EXPECT_EQ(failure->field, c.field);
    EXPECT_EQ(failure->message, c.bounds);
  }
  ConfigFormInput input = validInput();
  input.*c.text = "1x";
  engine::RelaySettings values;
  auto failure = readConfigForm(input, values);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->field, c.field);
  EXPECT_EQ(failure->message, "整数を入力してください。");
}

INSTANTIATE_TEST_SUITE_P(
    Fields, GuiConfigFormField,
    ::testing::Values(
        FieldCase{ConfigField::AliveTime, &ConfigFormInput::aliveTime, "0", "100001",
                  "1 から 100000 までの整数を入力してください。"},
        FieldCase{ConfigField::BoardPort, &ConfigFormInput::boardPort, "-1", "65536",
                  "0 から 65535 までの整数を入力してください。"},
        FieldCase{ConfigField::NonCommTime, &ConfigFormInput::nonCommTime, "0", "100001",
                  "1 から 100000 までの整数を入力してください。"},
        FieldCase{ConfigField::ResponseTime, &ConfigFormInput::responseTime, "0", "100001",
                  "1 から 100000 までの整数を入力してください。"},
        FieldCase{ConfigField::ServerPort, &ConfigFormInput::serverPort, "-1", "65536",
                  "0 から 65535 までの整数を入力してください。"},
        FieldCase{ConfigField::ErrorCount, &ConfigFormInput::errorCount, "0", "100000",
                  "1 から 99999 までの整数を入力してください。"}));

TEST(GuiConfigForm, FolderOfMoreThan255CharactersFails) {
  ConfigFormInput input = validInput();
  input.logFolder = std::string(255, 'f');
  engine::RelaySettings values;
  EXPECT_EQ(readConfigForm(input, values), std::nullopt);
  // Characters, not bytes: 255 two-byte characters still fit.
  std::string wide;
  for (int i = 0; i < 255; ++i) wide += "é";
  input.logFolder = wide;
  EXPECT_EQ(readConfigForm(input, values), std::nullopt);
  input.logFolder = std::string(256, 'f');
  auto failure = readConfigForm(input, values);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->field, ConfigField::LogFolder);
  EXPECT_EQ(failure->message, "255 文字以内で入力してください。");
}

// Two bad fields: only the first in reading order is reported, whatever their
// places on the form (ALIVE_TIME is read before CLIENT PORT, though lower).
TEST(GuiConfigForm, ReportsOnlyTheFirstFailingFieldInReadingOrder) {
  struct Pair {
    std::string ConfigFormInput::*first;
    ConfigField firstField;
    std::string ConfigFormInput::*second;
  };
  const Pair pairs[] = {
      {&ConfigFormInput::aliveTime, ConfigField::AliveTime, &ConfigFormInput::boardPort},
      {&ConfigFormInput::boardPort, ConfigField::BoardPort, &ConfigFormInput::nonCommTime},
      {&ConfigFormInput::nonCommTime, ConfigField::NonCommTime, &ConfigFormInput::responseTime},
      {&ConfigFormInput::responseTime, ConfigField::ResponseTime, &ConfigFormInput::serverPort},
      {&ConfigFormInput::serverPort, ConfigField::ServerPort, &ConfigFormInput::errorCount},
  };
  for (const Pair& pair : pairs) {
    ConfigFormInput input = validInput();
    input.*pair.first = "x";
    input.*pair.second = "y";
    engine::RelaySettings values;
    auto failure = readConfigForm(input, values);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->field, pair.firstField);
  }
}

TEST(GuiConfigForm, KeepsWhatWasReadBeforeTheFailingField) {
  ConfigFormInput input = validInput();
  input.logEnabled = true;
  input.popupEnabled = false;
  input.aliveTime = "20";
  input.boardPort = "bad";
  input.errorCount = "7";
  engine::RelaySettings values;
  ASSERT_TRUE(readConfigForm(input, values).has_value());
  EXPECT_EQ(values.logFlag, 1);      // the check boxes come first
  EXPECT_EQ(values.popupFlag, 0);
  EXPECT_EQ(values.aliveTime, 20);
  EXPECT_EQ(values.boardPort, 10001);  // not an integer: the old value stays
  EXPECT_EQ(values.errorCount, 2);     // after the failure: not read
}

TEST(GuiConfigForm, LogFolderMustBeAFolder) {
  gui_test::TempFolder dir;
  dir.write("file", "x");
  EXPECT_TRUE(logFolderExists(dir.path()));
  EXPECT_FALSE(logFolderExists(dir.file("file")));
  EXPECT_FALSE(logFolderExists(dir.file("absent")));
  EXPECT_FALSE(logFolderExists(""));
}

}  // namespace
}  // namespace gui
