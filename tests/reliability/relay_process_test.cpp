// Faults around the real relay program, with simulated boards in a namespace
// of their own and the network board library as the client: the relay killed
// and restarted under connected clients, and its system-log folder removed,
// read-only or full while it runs. Skips until the programs are built.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/e2e/child_process.h"
#include "tests/e2e/netpio_api.h"
#include "tests/support/private_network.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kRelayPort = 10010;

bool eventually(int timeoutMs, const std::function<bool()>& done) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

using e2e::scratchFolder;

e2e::NetpioApi* netpio(std::string& why) { return e2e::loadNetpioOnce(REL_NETPIO, why); }

class RelProcess : public testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::insideTestNamespace()) GTEST_SKIP() << "not inside the test namespace (scripts/in-netns)";
    for (const char* path : {REL_BOARDSIM, REL_LANRELAY, REL_NETPIO}) {
      if (access(path, F_OK) != 0) GTEST_SKIP() << path << " is not built yet";
    }
    std::string why;
    ASSERT_TRUE(testsupport::enterPrivateNetwork(why)) << why;
    ASSERT_FALSE(scratchFolder().empty());
    folder_ = scratchFolder() + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(e2e::runShell("mkdir -p '" + folder_ + "/config/lanrelay' '" + folder_ + "/run' '" + logFolder() + "'"));
    api_ = netpio(why);
    ASSERT_NE(api_, nullptr) << why;

    boardNamespacePid_ = e2e::startNamespaceHolder();
    ASSERT_GT(boardNamespacePid_, 0);
    const std::string pid = std::to_string(boardNamespacePid_);
    std::string output;
    ASSERT_TRUE(e2e::runShell(std::string(REL_BOARD_NETNS) + " wire " + pid + " lrr0 10.78.0.1/24 10.78.0.11", &output))
        << output;
    std::ofstream ini(folder_ + "/config/lanrelay/lanrelay.ini");
    ini << "[CLIENT]\nPORT=10001\nALIVE_TIME=1\nNON_COMM_TIME=1\nRESPONSE_TIME=300\nERROR_COUNT=2\n"
        << "[SERVER]\nPORT=" << kRelayPort << "\n[LOG]\nFLAG=1\nFOLDER=" << logFolder() << "\n";
    ini.close();
    ASSERT_TRUE(boards_.start({"/bin/sh", "-c", "exec nsenter -t " + pid + " -n \"$0\" \"$@\"", REL_BOARDSIM,
                               "--board", "ip=10.78.0.11,id=1"},
                              {}, folder_ + "/boardsim.log"));
    ASSERT_TRUE(boards_.waitForLine("ready", 10000));
    ASSERT_EQ(api_->SetProgLink("127.0.0.1", kRelayPort, 1000), NPIO_OK);
  }

  void TearDown() override {
    if (api_ != nullptr) api_->CloseDevice(NPIO_TYPE_WIRED, 1);
    if (relay_.running()) relay_.stop(5000);
    if (boards_.running()) {
      boards_.writeLine("quit");
      int status = 0;
      if (!boards_.waitExit(3000, &status)) boards_.stop();
    }
    if (boardNamespacePid_ > 0) e2e::endNamespaceHolder(boardNamespacePid_);
    if (HasFailure() && !folder_.empty()) {
      std::string logs;
      e2e::runShell("tail -n 30 '" + folder_ + "/relay.log'", &logs);
      std::cerr << logs;
    }
  }

  std::string logFolder() const { return folder_ + "/log"; }

  // Starts the relay; `prelude` runs in its shell first, inside a mount
  // namespace of the relay's own, so mounts made there touch nothing else.
  void startRelay(const std::string& prelude = "") {
    const std::string script = prelude.empty() ? "exec \"$0\" --headless"
                                                : "exec unshare -m --propagation private sh -c '" + prelude +
                                                      " && exec \"$0\" --headless' \"$0\"";
    ASSERT_TRUE(relay_.start({"/bin/sh", "-c", script, REL_LANRELAY},
                             {"XDG_CONFIG_HOME=" + folder_ + "/config", "XDG_RUNTIME_DIR=" + folder_ + "/run",
                              "HOME=" + folder_},
                             folder_ + "/relay.log"));
    uint32_t count = 0;
    ASSERT_TRUE(eventually(15000, [&] { return api_->GetDeviceCount(&count) == NPIO_OK && count == 1; }))
        << "the relay lists " << count << " boards";
  }

  // Opens, writes and reads board 1, closes it: open and close are events
  // the relay writes to its system log.
  void useBoard(uint32_t pattern) {
    ASSERT_EQ(api_->OpenDevice(NPIO_TYPE_WIRED, 1), NPIO_OK);
    uint32_t value = 0;
    ASSERT_EQ(api_->wOutDW(NPIO_TYPE_WIRED, 1, pattern), NPIO_OK);
    ASSERT_EQ(api_->rOutDW(NPIO_TYPE_WIRED, 1, &value), NPIO_OK);
    EXPECT_EQ(value, pattern);
    ASSERT_EQ(api_->CloseDevice(NPIO_TYPE_WIRED, 1), NPIO_OK);
  }

  e2e::NetpioApi* api_ = nullptr;
  std::string folder_;
  int boardNamespacePid_ = -1;
  e2e::ChildProcess boards_;
  e2e::ChildProcess relay_;
};

TEST_F(RelProcess, RelayKilledAndRestartedUnderConnectedClients) {
  startRelay();
  ASSERT_EQ(api_->OpenDevice(NPIO_TYPE_WIRED, 1), NPIO_OK);
  uint32_t value = 0;
  ASSERT_EQ(api_->rOutDW(NPIO_TYPE_WIRED, 1, &value), NPIO_OK);

  // The shell in front of the relay exec'd it, so this pid is the relay's.
  ASSERT_EQ(kill(relay_.pid(), SIGKILL), 0);
  int status = 0;
  ASSERT_TRUE(relay_.waitExit(5000, &status));
  // The library reports the failure; it neither hangs nor claims success.
  const auto before = Clock::now();
  const uint32_t rc = api_->rOutDW(NPIO_TYPE_WIRED, 1, &value);
  EXPECT_NE(rc, NPIO_OK);
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(3));
  api_->CloseDevice(NPIO_TYPE_WIRED, 1);

  // A new relay (its single-instance lock died with the old one) serves
  // clients that open again.
  startRelay();
  useBoard(0x5AA55AA5);
}

TEST_F(RelProcess, LogFolderRemovedReadOnlyOrFullLosesLinesQuietly) {
  struct Case {
    const char* name;
    std::string prelude;  // empty: the folder is removed while the relay runs
  };
  const Case cases[] = {
      {"removed", ""},
      {"read-only", "mount -t tmpfs -o ro,size=64k tmpfs " + logFolder()},
      {"full", "mount -t tmpfs -o size=16k tmpfs " + logFolder() + " && (dd if=/dev/zero of=" + logFolder() +
                   "/fill bs=4k count=64 2>/dev/null; true)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    startRelay(c.prelude);
    if (c.prelude.empty()) {
      useBoard(0x01);
      ASSERT_TRUE(e2e::runShell("rm -rf '" + logFolder() + "'"));
    }
    for (uint32_t i = 0; i < 5; ++i) useBoard(0x100 + i);
    EXPECT_TRUE(relay_.running());
    const int status = relay_.stop(5000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "lanrelay ended with status " << status;
    ASSERT_TRUE(e2e::runShell("mkdir -p '" + logFolder() + "'"));
  }
}

}  // namespace
