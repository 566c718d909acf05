#include "lanrelay/shell/ini_profile.h"

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace shell {
namespace {

using shell_test::TempFolder;

TEST(ShellIni, ReadsStringsIgnoringCaseOfNamesAndBlanks) {
  TempFolder dir;
  dir.write("a.ini",
            "; comment line\r\n"
            "[Client]\r\n"
            "  port = 2000 \r\n"
            "Name=\"quoted value\"\r\n"
            "single='x'\r\n"
            "half=\"open\n"
            "[other]\n"
            "port=1\n");
  std::string f = dir.file("a.ini");
  EXPECT_EQ(readProfileString(f, "CLIENT", "PORT", "d"), "2000");
  EXPECT_EQ(readProfileString(f, "client", "name", "d"), "quoted value");
  EXPECT_EQ(readProfileString(f, "CLIENT", "SINGLE", "d"), "x");
  EXPECT_EQ(readProfileString(f, "CLIENT", "HALF", "d"), "\"open");
  EXPECT_EQ(readProfileString(f, "OTHER", "PORT", "d"), "1");
  EXPECT_EQ(readProfileString(f, "CLIENT", "MISSING", "fallback"), "fallback");
  EXPECT_EQ(readProfileString(f, "NOSECTION", "PORT", "fallback"), "fallback");
  EXPECT_EQ(readProfileString(dir.file("absent.ini"), "CLIENT", "PORT", "fallback"), "fallback");
}

TEST(ShellIni, ByteOrderMarkIsNotPartOfTheFirstName) {
  TempFolder dir;
  dir.write("a.ini", "\xEF\xBB\xBF[CLIENT]\r\nPORT=5\r\n");
  EXPECT_EQ(readProfileInt(dir.file("a.ini"), "CLIENT", "PORT", 0), 5);
  ASSERT_TRUE(writeProfileString(dir.file("a.ini"), "CLIENT", "PORT", "6"));
  EXPECT_EQ(dir.read("a.ini"), "\xEF\xBB\xBF[CLIENT]\r\nPORT=6\r\n");
}

TEST(ShellIni, FirstSectionAndFirstKeyWin) {
  TempFolder dir;
  dir.write("a.ini", "[S]\nK=1\nK=2\n[S]\nK=3\n");
  EXPECT_EQ(readProfileString(dir.file("a.ini"), "S", "K", ""), "1");
}

TEST(ShellIni, CutsLongValuesAtWholeCharacters) {
  TempFolder dir;
  std::string longValue(300, 'a');
  std::string wide;
  for (int i = 0; i < 300; ++i) wide += "\xC3\xA9";  // two-byte character
  dir.write("a.ini", "[S]\nLONG=" + longValue + "\nWIDE=" + wide + "\n");
  EXPECT_EQ(readProfileString(dir.file("a.ini"), "S", "LONG", ""), std::string(259, 'a'));
  EXPECT_EQ(readProfileString(dir.file("a.ini"), "S", "WIDE", ""), wide.substr(0, 259 * 2));
  EXPECT_EQ(readProfileString(dir.file("a.ini"), "S", "LONG", "", 5), "aaaaa");
}

struct IntCase {
  const char* text;
  int expected;
};

class ShellIniInt : public ::testing::TestWithParam<IntCase> {};

TEST_P(ShellIniInt, ReadsLeadingDigits) {
  EXPECT_EQ(profileTextToInt(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, ShellIniInt,
                         ::testing::Values(IntCase{"10001", 10001}, IntCase{"  42", 42}, IntCase{"-7", -7},
                                           IntCase{"+8", 8}, IntCase{"12abc", 12}, IntCase{"abc", 0},
                                           IntCase{"- 5", 0}, IntCase{"0x10", 0}, IntCase{"3.9", 3},
                                           IntCase{"99999999999", 2147483647},
                                           IntCase{"-99999999999", -2147483647 - 1},
                                           IntCase{"2147483647", 2147483647}));

TEST(ShellIni, IntegerDefaultOnlyWhenMissingOrEmpty) {
  TempFolder dir;
  dir.write("a.ini", "[S]\nEMPTY=\nTEXT=abc\nNUM=15 sec\n");
  std::string f = dir.file("a.ini");
  EXPECT_EQ(readProfileInt(f, "S", "EMPTY", 9), 9);
  EXPECT_EQ(readProfileInt(f, "S", "MISSING", 9), 9);
  EXPECT_EQ(readProfileInt(f, "S", "TEXT", 9), 0);
  EXPECT_EQ(readProfileInt(f, "S", "NUM", 9), 15);
}

TEST(ShellIni, WriteCreatesFileSectionAndKey) {
  TempFolder dir;
  std::string f = dir.file("new.ini");
  ASSERT_TRUE(writeProfileString(f, "CLIENT", "PORT", "10001"));
  ASSERT_TRUE(writeProfileString(f, "CLIENT", "ALIVE_TIME", "10"));
  ASSERT_TRUE(writeProfileString(f, "LOG", "FOLDER", "/var/log/x"));
  EXPECT_EQ(dir.read("new.ini"), "[CLIENT]\nPORT=10001\nALIVE_TIME=10\n[LOG]\nFOLDER=/var/log/x\n");
}

TEST(ShellIni, WriteKeepsEverythingElseByteForByte) {
  TempFolder dir;
  dir.write("a.ini",
            "; settings\r\n"
            "[client]\r\n"
            "Port = 1\r\n"
            "Other=keep me\r\n"
            "\r\n"
            "[extra]\r\n"
            "x=y");
  std::string f = dir.file("a.ini");
  ASSERT_TRUE(writeProfileString(f, "CLIENT", "PORT", "2"));
  ASSERT_TRUE(writeProfileString(f, "CLIENT", "NEW", "3"));
  ASSERT_TRUE(writeProfileString(f, "EXTRA", "z", "4"));
  ASSERT_TRUE(writeProfileString(f, "POPUP", "FLAG", "1"));
  EXPECT_EQ(dir.read("a.ini"),
            "; settings\r\n"
            "[client]\r\n"
            "PORT=2\r\n"
            "Other=keep me\r\n"
            "NEW=3\r\n"
            "\r\n"
            "[extra]\r\n"
            "x=y\r\n"
            "z=4\r\n"
            "[POPUP]\r\n"
            "FLAG=1\r\n");
  EXPECT_EQ(readProfileInt(f, "client", "port", 0), 2);
}

TEST(ShellIni, WriteIntoMissingFolderFailsQuietly) {
  TempFolder dir;
  EXPECT_FALSE(writeProfileString(dir.file("no/such/folder/a.ini"), "S", "K", "V"));
}

TEST(ShellIni, WriteKeepsFileMode) {
  TempFolder dir;
  dir.write("a.ini", "[S]\nK=1\n");
  std::string f = dir.file("a.ini");
  std::filesystem::permissions(f, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ASSERT_TRUE(writeProfileString(f, "S", "K", "2"));
  EXPECT_EQ(std::filesystem::status(f).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary left";
}

}  // namespace
}  // namespace shell
