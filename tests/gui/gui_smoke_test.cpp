// The real program on a virtual X display with a tray host: simulated boards
// in a namespace of their own, `lanrelay` in the tray, its icon clicked, the
// status window found with the boards listed, the configuration dialog opened
// from the icon's menu, screenshots of both saved as test artifacts, and the
// relay ended in order. Skips when Xvfb, the tray host or the X tools are
// missing, or outside the test namespace.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/support/private_network.h"

namespace {

using Clock = std::chrono::steady_clock;

// For a relay built with the sanitizers: system libraries under Qt keep a
// few allocations to the end; without the sanitizers this is ignored.
const std::string kLeakOptions = std::string("LSAN_OPTIONS=suppressions=") + GUI_LEAK_SUPPRESSIONS;

// One X tool, or the relay's --status/--close, answers well within this even
// on a loaded machine; one that does not is killed and counts as failed.
constexpr int kToolLimitMs = 15000;
// The whole test, SetUp to TearDown, below CTest's 120 s: past it the
// watchdog reports where the test stood, with the logs, and ends it, so a
// wait nobody foresaw still fails with a message instead of a silent time-out.
constexpr int kTestBudgetMs = 100000;

bool haveProgram(const std::string& name) {
  return e2e::runShell("command -v " + name + " >/dev/null 2>&1", nullptr, kToolLimitMs);
}

// Ends the test program with a report when a test outlives its budget.
class Watchdog {
 public:
  Watchdog(int limitMs, std::function<void()> report) : report_(std::move(report)) {
    thread_ = std::thread([this, limitMs] {
      std::unique_lock lock(mutex_);
      if (wake_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return done_; })) return;
      report_();
      std::fflush(stdout);
      std::fflush(stderr);
      // The test's children follow it (they are started with a parent-death signal).
      std::_Exit(1);
    });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::function<void()> report_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

// Polls `check` every 100 ms until it holds or `limitMs` passed.
bool eventually(int limitMs, const std::function<bool()>& check) {
  const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
  while (!check()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

struct IconPlace {
  int x = 0;
  int y = 0;
};

class GuiSmoke : public testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::insideTestNamespace()) GTEST_SKIP() << "not inside the test namespace (scripts/test or scripts/in-netns)";
    watchdog_ = std::make_unique<Watchdog>(kTestBudgetMs, [this] {
      std::fprintf(stderr, "GuiSmoke: the test did not end within %d ms; it stood at: %s\n%s", kTestBudgetMs,
                   step().c_str(), logs().c_str());
    });
    for (const char* tool : {"Xvfb", "trayer", "xdotool", "xwininfo", "import"}) {
      if (!haveProgram(tool)) GTEST_SKIP() << tool << " is not installed (scripts/setup installs it)";
    }
    std::string why;
    ASSERT_TRUE(testsupport::enterPrivateNetwork(why)) << why;
    std::string pattern = (std::filesystem::temp_directory_path() / "lanrelay-gui-smoke-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    ASSERT_TRUE(e2e::runShell("mkdir -p '" + folder_ + "/config/lanrelay' '" + folder_ + "/run'"));
    chmod((folder_ + "/run").c_str(), 0700);

    // The display: Xvfb picks a free number and tells it on its output.
    // -noreset: by default the server resets itself whenever its last client
    // leaves, and every X tool here is a client that comes and goes; one that
    // connects during such a reset can be refused (the relay then runs
    // headless) or wait for an answer that never comes.
    ASSERT_TRUE(xvfb_.start(
        {"/bin/sh", "-c", "exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset"}, {},
        folder_ + "/xvfb.log"));
    const std::string number = xvfb_.readLine(10000);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    display_ = ":" + number;
    ASSERT_TRUE(eventually(10000, [&] { return x("xdotool getdisplaygeometry", nullptr); }))
        << "the display does not answer";
  }

  // A tray host; a start that does not reach the display is tried again
  // (a busy machine has shown the odd one).
  void startTray() {
    setStep("starting a tray host");
    for (int attempt = 0; attempt < 3; ++attempt) {
      trays_.push_back(std::make_unique<e2e::ChildProcess>());
      e2e::ChildProcess& tray = *trays_.back();
      ASSERT_TRUE(tray.start({"/bin/sh", "-c",
                              "exec trayer --edge bottom --align right --widthtype request --height 24 "
                              "--SetDockType true --transparent false >&2"},
                             {"DISPLAY=" + display_}, folder_ + "/trayer.log"));
      if (eventually(5000, [&] { return x("xdotool search --classname panel", nullptr); })) return;
      tray.stop(3000);
    }
    FAIL() << "the tray host did not appear";
  }

  void stopTray() {
    setStep("stopping the tray host");
    for (auto& tray : trays_) {
      if (tray->running()) tray->stop(3000);
    }
  }

  void startBoards() {
    boardNamespacePid_ = e2e::startNamespaceHolder();
    ASSERT_GT(boardNamespacePid_, 0);
    const std::string pid = std::to_string(boardNamespacePid_);
    std::string output;
    ASSERT_TRUE(e2e::runShell(std::string(GUI_BOARD_NETNS) + " wire " + pid +
                                  " lrg0 10.78.0.1/24 10.78.0.11 10.78.0.12 10.78.0.13",
                              &output))
        << output;
    ASSERT_TRUE(boards_.start({"/bin/sh", "-c", "exec nsenter -t " + pid + " -n \"$0\" \"$@\"", GUI_BOARDSIM,
                               "--board", "ip=10.78.0.11,id=1", "--board", "ip=10.78.0.12,id=2,type=0x13",
                               "--board", "ip=10.78.0.13,id=3"},
                              {}, folder_ + "/boardsim.log"));
    ASSERT_TRUE(boards_.waitForLine("ready", 10000)) << "boardsim did not start";
  }

  void startRelay() {
    setStep("starting the relay");
    std::ofstream(folder_ + "/config/lanrelay/lanrelay.ini")
        << "[CLIENT]\nALIVE_TIME=1\nNON_COMM_TIME=1\n[POPUP]\nFLAG=1\n";
    ASSERT_TRUE(relay_.start({GUI_LANRELAY},
                             {"DISPLAY=" + display_, "XDG_CONFIG_HOME=" + folder_ + "/config",
                              "XDG_RUNTIME_DIR=" + folder_ + "/run", "HOME=" + folder_, kLeakOptions},
                             folder_ + "/relay.log"));
  }

  void closeRelay() {
    setStep("closing the relay");
    std::string answer;
    ASSERT_TRUE(e2e::runShell("XDG_RUNTIME_DIR='" + folder_ + "/run' '" + GUI_LANRELAY + "' --close", &answer,
                              kToolLimitMs))
        << "--close failed: " << answer;
    int exitStatus = -1;
    ASSERT_TRUE(relay_.waitExit(10000, &exitStatus)) << "the relay did not end on --close";
    EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0) << "status " << exitStatus;
  }

  void TearDown() override {
    setStep("tearing down");
    if (relay_.running()) relay_.stop(5000);
    if (boards_.running()) {
      boards_.writeLine("quit");
      int status = 0;
      if (!boards_.waitExit(3000, &status)) boards_.stop();
    }
    if (boardNamespacePid_ > 0) e2e::endNamespaceHolder(boardNamespacePid_);
    stopTray();
    if (xvfb_.running()) xvfb_.stop(3000);
    if (HasFailure()) std::cerr << logs();
    if (!folder_.empty()) e2e::runShell("rm -rf '" + folder_ + "'", nullptr, kToolLimitMs);
    watchdog_.reset();
  }

  // The last lines of every program's log.
  std::string logs() {
    if (folder_.empty()) return "";
    std::string text;
    e2e::runShell("tail -n 30 '" + folder_ + "/relay.log' '" + folder_ + "/trayer.log' '" + folder_ +
                      "/boardsim.log' '" + folder_ + "/xvfb.log'",
                  &text, kToolLimitMs);
    return text;
  }

  // What the test is doing, for the watchdog's report.
  void setStep(const std::string& what) {
    std::lock_guard lock(stepMutex_);
    step_ = what;
  }
  std::string step() {
    std::lock_guard lock(stepMutex_);
    return step_;
  }

  // An X tool against our display.
  bool x(const std::string& command, std::string* output) {
    return e2e::runShell("DISPLAY=" + display_ + " " + command + " 2>/dev/null", output, kToolLimitMs);
  }

  std::string statusTable() {
    std::string table;
    e2e::runShell("XDG_RUNTIME_DIR='" + folder_ + "/run' '" + GUI_LANRELAY + "' --status", &table, kToolLimitMs);
    return table;
  }

  // The window tree, for failure reports about the icon.
  std::string windowTree() {
    std::string tree;
    x("xwininfo -root -tree", &tree);
    return tree;
  }

  // A mapped window of the program's class at least `minimumWidth` wide
  // (the status window and the dialog are found by name instead).
  bool findProgramWindow(int minimumWidth, std::string& id) {
    std::string tree;
    if (!x("xwininfo -root -tree", &tree)) return false;
    std::istringstream lines(tree);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.find("(\"lanrelay\" \"lanrelay\")") == std::string::npos) continue;
      if (line.find("Regident") != std::string::npos) continue;
      int width = 0;
      const size_t geometry = line.find(")  ");
      if (geometry == std::string::npos || std::sscanf(line.c_str() + geometry + 3, "%dx", &width) != 1) continue;
      if (width < minimumWidth) continue;
      std::istringstream words(line);
      words >> id;
      if (x("xwininfo -id " + id + " | grep -q IsViewable", nullptr)) return true;
    }
    id.clear();
    return false;
  }

  // The relay's icon: a small window of the program's class inside the tray
  // host; its place on the screen.
  bool findIcon(IconPlace& place) {
    std::string tree;
    if (!x("xwininfo -root -tree", &tree)) return false;
    std::istringstream lines(tree);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.find("(\"lanrelay\" \"lanrelay\")") == std::string::npos) continue;
      int width = 0, height = 0, rx = 0, ry = 0, ax = 0, ay = 0;
      const size_t geometry = line.find(")  ");
      if (geometry == std::string::npos) continue;
      if (std::sscanf(line.c_str() + geometry + 3, "%dx%d+%d+%d +%d+%d", &width, &height, &rx, &ry, &ax, &ay) != 6)
        continue;
      if (width > 64 || height > 64) continue;  // a window, not the icon
      place = {ax + width / 2, ay + height / 2};
      return true;
    }
    return false;
  }

  // For failure reports: what the display shows (a message box, say).
  std::string shownWindowNames() {
    std::string names;
    x("sh -c 'for w in $(xdotool search --onlyvisible --name .); do xdotool getwindowname $w; done'", &names);
    return names;
  }

  bool click(const IconPlace& place, int button) {
    return x("xdotool mousemove " + std::to_string(place.x) + " " + std::to_string(place.y) + " click " +
                 std::to_string(button),
             nullptr);
  }

  std::string visibleWindow(const std::string& name) {
    std::string id;
    if (!x("xdotool search --onlyvisible --name '" + name + "'", &id)) return "";
    return id.substr(0, id.find('\n'));
  }

  void screenshot(const std::string& window, const std::string& file) {
    std::filesystem::create_directories(GUI_ARTIFACTS);
    const std::string path = std::string(GUI_ARTIFACTS) + "/" + file;
    EXPECT_TRUE(x("import -window " + window + " -strip '" + path + "'", nullptr)) << "no screenshot " << path;
    EXPECT_TRUE(std::filesystem::exists(path));
  }

  std::unique_ptr<Watchdog> watchdog_;
  std::mutex stepMutex_;
  std::string step_ = "setting up";
  std::string folder_;
  std::string display_;
  pid_t boardNamespacePid_ = -1;
  e2e::ChildProcess xvfb_;
  std::vector<std::unique_ptr<e2e::ChildProcess>> trays_;  // every tray host started
  e2e::ChildProcess boards_;
  e2e::ChildProcess relay_;
};

// The fixture's waits rest on runShell being bounded: a program left running
// in the background must not hold it, and a command that hangs is ended.
TEST(GuiSmokeShell, ProgramLeftInTheBackgroundDoesNotHoldTheCaller) {
  const auto start = Clock::now();
  std::string output;
  EXPECT_TRUE(e2e::runShell("sleep 30 & echo $!", &output, 20000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  const pid_t sleeper = std::atoi(output.c_str());
  ASSERT_GT(sleeper, 0) << output;
  kill(sleeper, SIGKILL);
}

TEST(GuiSmokeShell, CommandPastItsLimitIsEndedWithEverythingItStarted) {
  const auto start = Clock::now();
  std::string output;
  EXPECT_FALSE(e2e::runShell("echo begun; sleep 30 | cat", &output, 300));
  EXPECT_NE(output.find("begun"), std::string::npos) << output;
  EXPECT_NE(output.find("did not end within 300 ms"), std::string::npos) << output;
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

TEST(GuiSmokeShell, ExitStatusAndErrorsAreReported) {
  std::string output;
  EXPECT_FALSE(e2e::runShell("echo oops >&2; exit 3", &output));
  EXPECT_EQ(output, "oops\n");
  EXPECT_TRUE(e2e::runShell("true"));
}

TEST_F(GuiSmoke, IconStatusWindowAndConfigurationDialog) {
  ASSERT_NO_FATAL_FAILURE(startTray());
  ASSERT_NO_FATAL_FAILURE(startBoards());
  ASSERT_NO_FATAL_FAILURE(startRelay());
  IconPlace icon;
  ASSERT_TRUE(eventually(15000, [&] { return findIcon(icon); })) << "no icon in the tray";
  // The status window starts hidden.
  EXPECT_EQ(visibleWindow("Regident Program Monitor"), "");

  // A second relay of the same user ends at once, silently.
  e2e::ChildProcess second;
  ASSERT_TRUE(second.start({GUI_LANRELAY},
                           {"DISPLAY=" + display_, "XDG_CONFIG_HOME=" + folder_ + "/config",
                            "XDG_RUNTIME_DIR=" + folder_ + "/run", "HOME=" + folder_, kLeakOptions},
                           folder_ + "/second.log"));
  int secondStatus = -1;
  ASSERT_TRUE(second.waitExit(10000, &secondStatus)) << "the second relay did not end";
  EXPECT_TRUE(WIFEXITED(secondStatus) && WEXITSTATUS(secondStatus) == 0) << "status " << secondStatus;

  ASSERT_TRUE(eventually(20000, [&] {
    const std::string table = statusTable();
    size_t connected = 0;
    for (size_t at = table.find("Connected"); at != std::string::npos; at = table.find("Connected", at + 1))
      ++connected;
    return connected == 3;
  })) << "the relay lists:\n" << statusTable() << "windows shown:\n" << shownWindowNames();

  // The boards' connect events came as balloons at the icon; without a
  // notification service Qt draws them as small windows of the program.
  std::string balloon;
  EXPECT_TRUE(eventually(5000, [&] { return findProgramWindow(65, balloon); })) << "no balloon";
  if (!balloon.empty()) screenshot(balloon, "balloon.png");
  // A left click on the icon shows the status window. The tray host may
  // still be moving the icon into place, so look it up again before each try.
  std::string status;
  ASSERT_TRUE(eventually(10000, [&] {
    if (!(status = visibleWindow("Regident Program Monitor")).empty()) return true;
    if (findIcon(icon)) click(icon, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return false;
  })) << "the status window did not show";
  // Let it paint its rows before the picture is taken.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  screenshot(status, "status-window.png");

  // The icon's menu: a right click, then the mnemonic of "Configulation(&O)".
  std::string dialog;
  ASSERT_TRUE(eventually(10000, [&] {
    if (!(dialog = visibleWindow("Program Configulation")).empty()) return true;
    if (findIcon(icon)) click(icon, 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    x("xdotool key o", nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return false;
  })) << "the configuration dialog did not open";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  screenshot(dialog, "configuration-dialog.png");

  // The close request ends the relay in order, dialog open or not.
  closeRelay();
}

TEST_F(GuiSmoke, WithoutATrayItSaysSoShowsTheWindowAndTakesTheTrayWhenItComes) {
  ASSERT_NO_FATAL_FAILURE(startRelay());
  // The message box, captioned with the program's name.
  std::string box;
  ASSERT_TRUE(eventually(10000, [&] { return !(box = visibleWindow("^lanrelay$")).empty(); }))
      << "no message box";
  EXPECT_EQ(visibleWindow("Regident Program Monitor"), "") << "the window came before the message";
  ASSERT_TRUE(x("xdotool windowactivate --sync " + box + " key Return", nullptr) ||
              x("xdotool windowfocus --sync " + box + " key Return", nullptr));
  ASSERT_TRUE(eventually(10000, [&] { return !visibleWindow("Regident Program Monitor").empty(); }))
      << "the status window did not show after the message";

  // A tray host that starts later gets the icon.
  ASSERT_NO_FATAL_FAILURE(startTray());
  IconPlace icon;
  EXPECT_TRUE(eventually(10000, [&] { return findIcon(icon); })) << "no icon once the tray came";
  closeRelay();
}

TEST_F(GuiSmoke, IconComesBackWhenTheTrayHostRestarts) {
  ASSERT_NO_FATAL_FAILURE(startTray());
  ASSERT_NO_FATAL_FAILURE(startRelay());
  IconPlace icon;
  setStep("waiting for the icon");
  ASSERT_TRUE(eventually(10000, [&] { return findIcon(icon); })) << "no icon in the tray\n" << windowTree();
  stopTray();
  setStep("waiting for the icon to go with its tray");
  ASSERT_TRUE(eventually(10000, [&] { return !findIcon(icon); })) << "the icon outlived its tray\n" << windowTree();
  ASSERT_NO_FATAL_FAILURE(startTray());
  setStep("waiting for the icon in the new tray");
  EXPECT_TRUE(eventually(10000, [&] { return findIcon(icon); })) << "no icon in the new tray\n" << windowTree();
  closeRelay();
}

TEST_F(GuiSmoke, DisplayThatCannotBeReachedMeansHeadless) {
  e2e::ChildProcess relay;
  ASSERT_TRUE(relay.start({GUI_LANRELAY},
                          {"DISPLAY=:1999", "XDG_CONFIG_HOME=" + folder_ + "/config",
                           "XDG_RUNTIME_DIR=" + folder_ + "/run", "HOME=" + folder_, kLeakOptions},
                          folder_ + "/headless.log"));
  EXPECT_TRUE(eventually(10000, [&] { return statusTable().find("Status") == 0; })) << "the relay does not answer";
  ASSERT_TRUE(e2e::runShell("XDG_RUNTIME_DIR='" + folder_ + "/run' '" + GUI_LANRELAY + "' --close"));
  int exitStatus = -1;
  ASSERT_TRUE(relay.waitExit(10000, &exitStatus)) << "the relay did not end on --close";
  EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0) << "status " << exitStatus;
  std::ifstream log(folder_ + "/headless.log");
  const std::string text((std::istreambuf_iterator<char>(log)), {});
  EXPECT_NE(text.find("lanrelay: cannot reach the display; running headless"), std::string::npos) << text;
}

}  // namespace
