#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include "lanrelay/shell/debug_log.h"
#include "lanrelay/shell/log_file.h"
#include "lanrelay/shell/system_log.h"
#include "temp_folder.h"

namespace shell {
namespace {

using shell_test::TempFolder;

constexpr LocalTime kMarch5{2018, 3, 5, 7, 8, 9, 45};

LogClock fixedClock(LocalTime time) {
  return [time] { return time; };
}

TEST(ShellSystemLog, LineFormatByteForByte) {
  EXPECT_EQ(systemLogLine(kMarch5, 1, "Board 3", "up, running"), "07:08:09,INFORMATION,Board 3,up, running\r\n");
  EXPECT_EQ(systemLogLine(kMarch5, 2, "t", "m"), "07:08:09,WARNING,t,m\r\n");
  EXPECT_EQ(systemLogLine(kMarch5, 3, "t", "m"), "07:08:09,ERROR,t,m\r\n");
  EXPECT_EQ(systemLogLine(kMarch5, 0, "", ""), "07:08:09,NONE,,\r\n");
  EXPECT_EQ(systemLogLine(kMarch5, 7, "two\r\nlines", "a\r\nb\r\nc"), "07:08:09,NONE,two lines,a b c\r\n");
  EXPECT_EQ(systemLogFileName(kMarch5), "tvk20180305.log");
}

TEST(ShellSystemLog, FolderWithOrWithoutSlashGivesSameFile) {
  TempFolder dir;
  SystemLog log(fixedClock(kMarch5));
  log.write(true, dir.path(), 1, "a", "b");
  log.write(true, dir.path() + "/", 1, "c", "d");
  EXPECT_EQ(dir.read("tvk20180305.log"), "07:08:09,INFORMATION,a,b\r\n07:08:09,INFORMATION,c,d\r\n");
}

TEST(ShellSystemLog, EachLineGoesToTheFileOfItsOwnDay) {
  TempFolder dir;
  LocalTime now{2018, 12, 31, 23, 59, 59, 999};
  SystemLog log([&now] { return now; });
  log.write(true, dir.path(), 1, "before", "midnight");
  now = LocalTime{2019, 1, 1, 0, 0, 0, 0};
  log.write(true, dir.path(), 1, "after", "midnight");
  EXPECT_EQ(dir.read("tvk20181231.log"), "23:59:59,INFORMATION,before,midnight\r\n");
  EXPECT_EQ(dir.read("tvk20190101.log"), "00:00:00,INFORMATION,after,midnight\r\n");
}

TEST(ShellSystemLog, OffOrWithoutUsableFolderWritesNothing) {
  TempFolder dir;
  SystemLog log(fixedClock(kMarch5));
  log.write(false, dir.path(), 1, "off", "off");
  log.write(true, dir.file("missing"), 1, "lost", "lost");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  // An empty folder setting never means the root of the file system.
  EXPECT_EQ(joinLogPath("", "tvk20180305.log"), "");
  log.write(true, "", 1, "lost", "lost");
  EXPECT_FALSE(std::filesystem::exists("/tvk20180305.log"));
}

// Makes `folder` read-only even for root: a read-only bind mount of it in a
// mount namespace of this test process. False when that is not possible.
bool bindReadOnly(const std::string& folder) {
  if (unshare(CLONE_NEWNS) != 0) return false;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
  return mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

TEST(ShellLogFile, ReadOnlyFolderLosesTheLineQuietly) {
  TempFolder dir;
  std::string folder = dir.file("ro");
  std::filesystem::create_directory(folder);
  chmod(folder.c_str(), 0555);
  bool mounted = false;
  if (access(folder.c_str(), W_OK) == 0) {
    // Root writes through permissions; a read-only mount stops it too. Not
    // possible once the process has threads (CLONE_NEWNS needs a lone thread).
    mounted = bindReadOnly(folder);
    if (!mounted) GTEST_SKIP() << "cannot make a read-only folder: " << std::strerror(errno);
  }
  EXPECT_FALSE(appendLogLine(folder + "/x.log", "line\r\n"));
  SystemLog(fixedClock(kMarch5)).write(true, folder, 1, "lost", "lost");
  EXPECT_FALSE(std::filesystem::exists(folder + "/x.log"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/tvk20180305.log"));
  if (mounted) umount(folder.c_str());
}

TEST(ShellLogFile, NonFileTargetsAreRefusedWithoutBlocking) {
  TempFolder dir;
  std::filesystem::create_directory(dir.file("adir"));
  EXPECT_FALSE(appendLogLine(dir.file("adir"), "line\r\n"));
  // A FIFO without reader would block a plain open for writing.
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(appendLogLine(dir.file("fifo"), "line\r\n"));
}

TEST(ShellLogFile, FullDiskCutsNoHalfLineIntoTheFile) {
  TempFolder dir;
  dir.write("x.log", "first\r\n");
  // A file-size limit makes the kernel refuse the write past it, as a full
  // disk would; the signal it sends by default is ignored for the test.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small{10, old.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool written = appendLogLine(dir.file("x.log"), "second line\r\n");
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(dir.read("x.log"), "first\r\n");
}

struct DebugCase {
  const char* name;
  DebugEntry entry;
  const char* expected;
};

const uint8_t kBytes[16] = {0x00, 0x1A, 0xFF, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const protocol::Ipv4Address kBoard{{192, 168, 1, 20}};
const protocol::Ipv4Address kRelay{};

class ShellDebugLogLine : public ::testing::TestWithParam<DebugCase> {};

TEST_P(ShellDebugLogLine, Format) {
  EXPECT_EQ(debugLogLine(kMarch5, GetParam().entry), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, ShellDebugLogLine,
    ::testing::Values(
        DebugCase{"ThreeBytes", {3, kRelay, kBoard, true, {kBytes, 3}, 3},
                  "07:08:09.045,3,lanrelay,192.168.1.20,00,1a,ff\r\n"},
        DebugCase{"SixteenBytes", {kDebugTagDatagram, kBoard, kRelay, true, {kBytes, 16}, -8},
                  "07:08:09.045,udp,192.168.1.20,lanrelay,00,1a,ff,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f\r\n"},
        DebugCase{"NoPrintableCount", {kDebugTagControl, kRelay, kBoard, true, {kBytes, 3}, -3},
                  "07:08:09.045,-,lanrelay,192.168.1.20\r\n"},
        DebugCase{"CountBeyondBytesStopsAtTheEnd", {1, kRelay, kBoard, true, {kBytes, 2}, 9},
                  "07:08:09.045,1,lanrelay,192.168.1.20,00,1a\r\n"},
        DebugCase{"Close", {kDebugTagControl, kBoard, kRelay, false, {}, 0},
                  "07:08:09.045,-,192.168.1.20,lanrelay,close\r\n"},
        DebugCase{"Timeout", {5, kRelay, kBoard, false, {}, -1}, "07:08:09.045,5,lanrelay,192.168.1.20,timeout\r\n"},
        DebugCase{"Connecting", {-1, kRelay, kBoard, false, {}, -2},
                  "07:08:09.045,-,lanrelay,192.168.1.20,connecting\r\n"},
        DebugCase{"Connect", {-1, kRelay, kBoard, false, {}, -3}, "07:08:09.045,-,lanrelay,192.168.1.20,connect\r\n"},
        DebugCase{"ConnectError", {-1, kRelay, kBoard, false, {}, -4},
                  "07:08:09.045,-,lanrelay,192.168.1.20,connect error\r\n"},
        DebugCase{"NoStateWord", {-1, kRelay, kBoard, false, {}, 5}, "07:08:09.045,-,lanrelay,192.168.1.20\r\n"}),
    [](const ::testing::TestParamInfo<DebugCase>& info) { return std::string(info.param.name); });

TEST(ShellDebugLog, OnOnlyWhenDebugIniNamesAnExistingFolder) {
  TempFolder dir;
  EXPECT_FALSE(DebugLog(dir.file("debug.ini"), fixedClock(kMarch5)).enabled()) << "no debug.ini";

  dir.write("debug.ini", "[LOG]\nFOLDER=" + dir.file("missing") + "\n");
  DebugLog missing(dir.file("debug.ini"), fixedClock(kMarch5));
  EXPECT_FALSE(missing.enabled());
  missing.write({-1, kRelay, kBoard, false, {}, -3});
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing/debug.log")));

  dir.write("debug.ini", "[LOG]\nFOLDER=\n");
  EXPECT_FALSE(DebugLog(dir.file("debug.ini"), fixedClock(kMarch5)).enabled()) << "empty folder";

  std::filesystem::create_directory(dir.file("dbg"));
  dir.write("debug.ini", "[log]\nfolder=" + dir.file("dbg") + "/\n");
  DebugLog on(dir.file("debug.ini"), fixedClock(kMarch5));
  ASSERT_TRUE(on.enabled());
  EXPECT_EQ(on.path(), dir.file("dbg/debug.log"));
  on.write({-1, kRelay, kBoard, false, {}, -3});
  on.write({2, kBoard, kRelay, true, {kBytes, 3}, 3});
  EXPECT_EQ(dir.read("dbg/debug.log"),
            "07:08:09.045,-,lanrelay,192.168.1.20,connect\r\n07:08:09.045,2,192.168.1.20,lanrelay,00,1a,ff\r\n");

  // The folder vanishing while running loses lines, nothing more.
  std::filesystem::remove_all(dir.file("dbg"));
  on.write({-1, kRelay, kBoard, false, {}, 0});
  EXPECT_FALSE(std::filesystem::exists(dir.file("dbg")));
}

TEST(ShellDebugLog, DefaultIsOff) {
  DebugLog off;
  EXPECT_FALSE(off.enabled());
  off.write({-1, kRelay, kBoard, false, {}, 0});
}

}  // namespace
}  // namespace shell
