// The whole chain with simulated boards: boardsim in a namespace of its own,
// joined by a veth pair to this test's private namespace, where lanrelay runs
// headless and the network board library talks to it. Skips until every
// program and library exists.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "tests/e2e/child_process.h"
#include "tests/e2e/netpio_api.h"
#include "tests/support/private_network.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWired = NPIO_TYPE_WIRED;
constexpr int kWireless = NPIO_TYPE_WIRELESS;
constexpr uint16_t kRelayPort = 10010;

bool fileExists(const char* path) { return access(path, F_OK) == 0; }

// Polls `done` every 50 ms until it holds or timeoutMs passed.
bool eventually(int timeoutMs, const std::function<bool()>& done) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

using e2e::scratchFolder;

e2e::NetpioApi* netpio(std::string& why) { return e2e::loadNetpioOnce(E2E_NETPIO, why); }

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::insideTestNamespace()) GTEST_SKIP() << "not inside the test namespace (scripts/test or scripts/in-netns)";
    for (const char* path : {E2E_BOARDSIM, E2E_LANRELAY, E2E_NETPIO}) {
      if (!fileExists(path)) GTEST_SKIP() << path << " is not built yet";
    }
    std::string why;
    ASSERT_TRUE(testsupport::enterPrivateNetwork(why)) << why;
    ASSERT_FALSE(scratchFolder().empty());
    folder_ = scratchFolder() + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(e2e::runShell("mkdir -p '" + folder_ + "/config/lanrelay' '" + folder_ + "/run' '" + folder_ + "/log'"));
    api_ = netpio(why);
    ASSERT_NE(api_, nullptr) << why;

    boardNamespacePid_ = e2e::startNamespaceHolder();
    ASSERT_GT(boardNamespacePid_, 0) << "cannot make the boards' namespace";
    const std::string pid = std::to_string(boardNamespacePid_);
    std::string output;
    ASSERT_TRUE(e2e::runShell(std::string(E2E_BOARD_NETNS) + " wire " + pid +
                                  " lre0 10.77.0.1/24 10.77.0.11 10.77.0.12 10.77.0.13",
                              &output))
        << output;

    // Short periods so that discovery and reconnection take a second or two.
    std::ofstream ini(folder_ + "/config/lanrelay/lanrelay.ini");
    ini << "[CLIENT]\nPORT=10001\nALIVE_TIME=1\nNON_COMM_TIME=1\nRESPONSE_TIME=300\nERROR_COUNT=2\n"
        << "[SERVER]\nPORT=" << kRelayPort << "\n[LOG]\nFLAG=1\nFOLDER=" << folder_ << "/log\n";
    ini.close();

    ASSERT_TRUE(boards_.start({"/bin/sh", "-c", "exec nsenter -t " + pid + " -n \"$0\" \"$@\"",
                               E2E_BOARDSIM, "--board", "ip=10.77.0.11,id=1", "--board",
                               "ip=10.77.0.12,id=2,type=0x13", "--board", "ip=10.77.0.13,id=3,inputs=fixed:0x12345678"},
                              {}, folder_ + "/boardsim.log"));
    ASSERT_TRUE(boards_.waitForLine("ready", 10000)) << "boardsim did not start; see " << folder_ << "/boardsim.log";

    ASSERT_TRUE(relay_.start({E2E_LANRELAY, "--headless"},
                             {"XDG_CONFIG_HOME=" + folder_ + "/config", "XDG_RUNTIME_DIR=" + folder_ + "/run",
                              "HOME=" + folder_},
                             folder_ + "/relay.log"));
    ASSERT_EQ(api_->SetProgLink("127.0.0.1", kRelayPort, 1000), NPIO_OK);
    // Ready when the relay lists all three boards.
    uint32_t count = 0;
    ASSERT_TRUE(eventually(15000, [&] { return api_->GetDeviceCount(&count) == NPIO_OK && count == 3; }))
        << "the relay lists " << count << " boards";
  }

  void TearDown() override {
    if (api_) {
      for (auto [type, id] : opened_) api_->CloseDevice(type, id);
    }
    if (relay_.running()) {
      const int status = relay_.stop(5000);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "lanrelay ended with status " << status;
    }
    if (boards_.running()) {
      boards_.writeLine("quit");
      int status = 0;
      if (boards_.waitExit(3000, &status))
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "boardsim ended with status " << status;
      else
        ADD_FAILURE() << "boardsim did not stop on quit, status " << boards_.stop();
    }
    e2e::endNamespaceHolder(boardNamespacePid_);
    if (HasFailure() && !folder_.empty()) {
      std::string logs;
      e2e::runShell("tail -n 40 '" + folder_ + "/relay.log' '" + folder_ + "/boardsim.log'", &logs);
      std::cerr << logs;
    }
  }

  uint32_t open(int type, int id) {
    const uint32_t rc = api_->OpenDevice(type, id);
    if (rc == NPIO_OK) opened_.push_back({type, id});
    return rc;
  }

  // Runs the npio tool against the relay; returns its standard output, and
  // its exit code in `code`.
  std::string npio(const std::vector<std::string>& words, int& code) {
    std::vector<std::string> argv = {E2E_NPIO};
    argv.insert(argv.end(), words.begin(), words.end());
    e2e::ChildProcess tool;
    code = -1;
    if (!tool.start(argv, {"LANRELAY_LOCK_DIR=" + scratchFolder() + "/locks"}, folder_ + "/npio.log")) return "";
    const std::string output = tool.readAll(15000);
    int status = 0;
    if (tool.waitExit(5000, &status) && WIFEXITED(status)) code = WEXITSTATUS(status);
    return output;
  }

  std::string control(const std::string& line) {
    boards_.writeLine(line);
    std::string answer;
    boards_.waitForLine("", 2000, &answer);
    while (answer.rfind("ok", 0) != 0 && answer.rfind("error", 0) != 0) {
      if (!boards_.waitForLine("", 2000, &answer)) return "";
    }
    return answer;
  }

  e2e::NetpioApi* api_ = nullptr;
  std::string folder_;
  int boardNamespacePid_ = -1;
  e2e::ChildProcess boards_;
  e2e::ChildProcess relay_;
  std::vector<std::pair<int, int>> opened_;
};

TEST_F(EndToEnd, ListsOpensReadsAndWritesBoards) {
  uint32_t count = 8;
  uint8_t records[8 * NPIO_DEVICE_INFO_SIZE] = {};
  ASSERT_EQ(api_->GetDeviceInfo(&count, records), NPIO_OK);
  ASSERT_EQ(count, 3u);
  std::map<int, std::string> seen;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = records + i * NPIO_DEVICE_INFO_SIZE;
    char text[96];
    std::snprintf(text, sizeof text, "type %02x ip %d.%d.%d.%d mac %02x:%02x:%02x:%02x:%02x:%02x", r[0] | r[1] << 8,
                  r[4], r[5], r[6], r[7], r[8], r[9], r[10], r[11], r[12], r[13]);
    seen[r[2] | r[3] << 8] = text;
  }
  EXPECT_EQ(seen[1], "type 12 ip 10.77.0.11 mac 02:00:0a:4d:00:0b");
  EXPECT_EQ(seen[2], "type 13 ip 10.77.0.12 mac 02:00:0a:4d:00:0c");
  EXPECT_EQ(seen[3], "type 12 ip 10.77.0.13 mac 02:00:0a:4d:00:0d");

  ASSERT_EQ(open(kWired, 1), NPIO_OK);
  uint32_t value = 0;
  ASSERT_EQ(api_->wOutDW(kWired, 1, 0x0000A55A), NPIO_OK);
  ASSERT_EQ(api_->rOutDW(kWired, 1, &value), NPIO_OK);
  EXPECT_EQ(hex(value), "0xa55a");
  ASSERT_EQ(api_->rInDW(kWired, 1, &value), NPIO_OK);  // board 1's inputs follow its outputs
  EXPECT_EQ(hex(value), "0xa55a");
  ASSERT_EQ(api_->wOutB(kWired, 1, 2, 0x3C), NPIO_OK);
  ASSERT_EQ(api_->wOutW(kWired, 1, 3, 0x1234), NPIO_OK);  // port 3 alone takes the low byte
  ASSERT_EQ(api_->rOutDW(kWired, 1, &value), NPIO_OK);
  EXPECT_EQ(hex(value), "0x343ca55a");
  uint16_t port = 0;
  ASSERT_EQ(api_->rInB(kWired, 1, 2, &port), NPIO_OK);
  EXPECT_EQ(port, 0x3C);
  ASSERT_EQ(api_->InOutDW(kWired, 1, &value, 0xFFFF0000), NPIO_OK);
  EXPECT_EQ(hex(value), "0xffff0000");
  uint16_t versions[2] = {};
  ASSERT_EQ(api_->rVersion(kWired, 1, versions), NPIO_OK);
  EXPECT_EQ(versions[0], 0x0105);
  EXPECT_EQ(versions[1], 0x0200);
  EXPECT_EQ(api_->SetFilter(kWired, 1, 0x81, 5), NPIO_OK);

  ASSERT_EQ(open(kWired, 3), NPIO_OK);
  ASSERT_EQ(api_->rInDW(kWired, 3, &value), NPIO_OK);
  EXPECT_EQ(hex(value), "0x12345678");
  ASSERT_EQ(open(kWireless, 2), NPIO_OK);
  ASSERT_EQ(api_->rInB(kWireless, 2, 0, &port), NPIO_OK);
  EXPECT_EQ(port, 0);
  // Boards keep their own outputs.
  ASSERT_EQ(api_->rOutDW(kWired, 3, &value), NPIO_OK);
  EXPECT_EQ(value, 0u);

  EXPECT_NE(api_->OpenDevice(kWired, 9), NPIO_OK);     // no such board
  EXPECT_NE(api_->OpenDevice(kWireless, 1), NPIO_OK);  // board 1 is wired
}

TEST_F(EndToEnd, UnpluggedBoardIsFoundAgain) {
  ASSERT_EQ(open(kWired, 1), NPIO_OK);
  ASSERT_EQ(open(kWired, 3), NPIO_OK);
  ASSERT_EQ(api_->wOutDW(kWired, 1, 0x00000101), NPIO_OK);

  ASSERT_EQ(control("unplug 0"), "ok unplug 0");
  uint32_t value = 0;
  uint32_t rc = NPIO_OK;
  EXPECT_TRUE(eventually(5000, [&] { return (rc = api_->rInDW(kWired, 1, &value)) != NPIO_OK; }))
      << "I/O on an unplugged board still succeeds";
  // The other boards carry on meanwhile.
  ASSERT_EQ(api_->rInDW(kWired, 3, &value), NPIO_OK);
  EXPECT_EQ(hex(value), "0x12345678");

  ASSERT_EQ(control("plug 0"), "ok plug 0");
  // The relay's next search finds it and reconnects; the opened unit works again.
  EXPECT_TRUE(eventually(10000, [&] { return (rc = api_->rInDW(kWired, 1, &value)) == NPIO_OK; }))
      << "last result " << hex(rc);
  EXPECT_EQ(hex(value), "0x101");
}

TEST_F(EndToEnd, SilentBoardTimesOutAndRecovers) {
  ASSERT_EQ(open(kWireless, 2), NPIO_OK);
  ASSERT_EQ(control("fault 1 silent"), "ok fault 1");
  uint32_t value = 0;
  // The relay drops the request after its response time-out and says so.
  EXPECT_EQ(api_->rInDW(kWireless, 2, &value), NPIO_TIMEOUT);
  ASSERT_EQ(control("fault 1 none"), "ok fault 1");
  uint32_t rc = NPIO_OK;
  // Silence may have cost the board its connection; it comes back with the next search.
  EXPECT_TRUE(eventually(10000, [&] { return (rc = api_->rInDW(kWireless, 2, &value)) == NPIO_OK; }))
      << "last result " << hex(rc);
}

TEST_F(EndToEnd, SplitAndSlowRepliesArriveUnlessTooLate) {
  ASSERT_EQ(open(kWired, 1), NPIO_OK);
  uint32_t value = 0;
  ASSERT_EQ(control("fault 0 split"), "ok fault 0");
  ASSERT_EQ(api_->wOutDW(kWired, 1, 0x5), NPIO_OK);
  ASSERT_EQ(api_->rInDW(kWired, 1, &value), NPIO_OK);
  EXPECT_EQ(value, 0x5u);
  // Within the relay's 300 ms response time-out...
  ASSERT_EQ(control("fault 0 slow:100+split"), "ok fault 0");
  ASSERT_EQ(api_->rInDW(kWired, 1, &value), NPIO_OK);
  EXPECT_EQ(value, 0x5u);
  // ...and beyond it.
  ASSERT_EQ(control("fault 0 slow:900"), "ok fault 0");
  EXPECT_EQ(api_->rInDW(kWired, 1, &value), NPIO_TIMEOUT);
  ASSERT_EQ(control("fault 0 none"), "ok fault 0");
  uint32_t rc = NPIO_OK;
  EXPECT_TRUE(eventually(10000, [&] { return (rc = api_->rInDW(kWired, 1, &value)) == NPIO_OK && value == 0x5; }))
      << "last result " << hex(rc) << " value " << hex(value);
}

TEST_F(EndToEnd, SecondBoardWithTheSameIdIsRefused) {
  ASSERT_EQ(open(kWired, 1), NPIO_OK);
  ASSERT_EQ(api_->wOutDW(kWired, 1, 0x77), NPIO_OK);
  // Board 3 becomes a second wired board 1 and reconnects.
  ASSERT_EQ(control("id 2 1"), "ok id 2");
  ASSERT_EQ(control("unplug 2"), "ok unplug 2");
  ASSERT_EQ(control("plug 2"), "ok plug 2");
  uint32_t count = 0;
  EXPECT_TRUE(eventually(10000, [&] { return api_->GetDeviceCount(&count) == NPIO_OK && count == 2; }))
      << "the relay lists " << count << " boards";
  // Whatever the relay tries with the newcomer, the unit stays the first board.
  for (int i = 0; i < 5; ++i) {
    uint32_t value = 0;
    ASSERT_EQ(api_->rOutDW(kWired, 1, &value), NPIO_OK);
    EXPECT_EQ(value, 0x77u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_TRUE(api_->GetDeviceCount(&count) == NPIO_OK && count == 2) << count;
}

TEST_F(EndToEnd, NpioToolListsWritesAndReads) {
  if (!fileExists(E2E_NPIO)) GTEST_SKIP() << E2E_NPIO << " is not built yet";
  int code = -1;
  const std::string list = npio({"list"}, code);
  EXPECT_EQ(code, 0) << list;
  for (const char* row : {"10.77.0.11      02:00:0a:4d:00:0b", "10.77.0.12      02:00:0a:4d:00:0c",
                          "10.77.0.13      02:00:0a:4d:00:0d"})
    EXPECT_NE(list.find(row), std::string::npos) << row << " missing from:\n" << list;

  npio({"--board", "1", "write", "dword", "0x00c0ffee"}, code);
  EXPECT_EQ(code, 0);
  npio({"--board", "1", "write", "byte", "3", "0x42"}, code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(npio({"--board", "1", "read", "in", "dword"}, code), "0x42c0ffee\n");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(npio({"--board", "3", "read", "in", "dword"}, code), "0x12345678\n");
  EXPECT_EQ(npio({"--type", "0x13", "--board", "2", "version"}, code), "0x0105 0x0200\n");
  EXPECT_EQ(code, 0);
  npio({"--board", "7", "read", "in", "dword"}, code);
  EXPECT_NE(code, 0);  // no board 7
}

}  // namespace
