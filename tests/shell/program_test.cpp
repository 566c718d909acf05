// Runs the real `lanrelay` program in a private network of this test process:
// the control socket, single instance, the close request and signals.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "lanrelay/shell/control_client.h"
#include "lanrelay/shell/ini_profile.h"
#include "lanrelay/shell/status_list.h"
#include "temp_folder.h"
#include "tests/support/private_network.h"

namespace shell {
namespace {

using namespace std::chrono_literals;
using shell_test::TempFolder;

class ShellProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::insideTestNamespace()) GTEST_SKIP() << "needs scripts/in-netns";
    std::string why;
    // The relay probes for other relays by broadcast: give it a network of its own.
    if (!testsupport::enterPrivateNetwork(why)) GTEST_SKIP() << why;
    std::filesystem::create_directories(dir_.file("config/lanrelay"));
    std::filesystem::create_directories(dir_.file("run"));
    writeProfileString(dir_.file("config/lanrelay/lanrelay.ini"), "SERVER", "PORT", "0");
    environment_ = {"XDG_CONFIG_HOME=" + dir_.file("config"), "XDG_RUNTIME_DIR=" + dir_.file("run"),
                    "HOME=" + dir_.path(), "PATH=/usr/bin:/bin"};
  }

  void TearDown() override {
    if (relay_ > 0) {
      kill(relay_, SIGKILL);
      waitpid(relay_, nullptr, 0);
    }
  }

  // Starts the program with `argument`, its output going to files named after `tag`.
  pid_t spawn(const char* argument, const std::string& tag) {
    std::vector<std::string> env = environment_;
    std::string out = dir_.file(tag + ".out");
    std::string err = dir_.file(tag + ".err");
    pid_t pid = fork();
    if (pid == 0) {
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(o, STDOUT_FILENO);
      dup2(e, STDERR_FILENO);
      if (chdir(dir_.path().c_str()) != 0) _exit(126);
      std::vector<char*> envp;
      for (std::string& entry : env) envp.push_back(entry.data());
      envp.push_back(nullptr);
      execle(LANRELAY_PROGRAM, "lanrelay", argument, static_cast<char*>(nullptr), envp.data());
      _exit(127);
    }
    return pid;
  }

  // The exit status once the process has ended, or nothing after `limit`.
  static std::optional<int> waitExit(pid_t pid, std::chrono::milliseconds limit) {
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
      pollfd entry{pidfd, POLLIN, 0};
      int ready = poll(&entry, 1, static_cast<int>(limit.count()));
      close(pidfd);
      if (ready != 1) return std::nullopt;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return std::nullopt;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string socketPath() const { return dir_.file("run/lanrelay/control.sock"); }

  // Asks for the status until the relay answers (it is ready then).
  std::optional<std::string> statusWhenReady() {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    std::string answer;
    while (std::chrono::steady_clock::now() < deadline) {
      if (sendControlRequest(socketPath(), kStatusRequest, answer, 1000ms) == ControlOutcome::Done) return answer;
      // The relay is still starting: its socket appears within milliseconds.
      pollfd none{-1, 0, 0};
      poll(&none, 0, 10);
    }
    return std::nullopt;
  }

  void startRelay() {
    relay_ = spawn("--headless", "relay");
    auto status = statusWhenReady();
    ASSERT_TRUE(status.has_value()) << dir_.read("relay.err");
    EXPECT_EQ(*status, formatStatusTable({}));
  }

  bool relayRunning() { return waitpid(relay_, nullptr, WNOHANG) == 0; }

  TempFolder dir_;
  std::vector<std::string> environment_;
  pid_t relay_ = -1;
};

TEST_F(ShellProgram, SecondInstanceEndsSilentlyAndCloseRequestEndsTheFirst) {
  startRelay();

  EXPECT_EQ(waitExit(spawn("--headless", "second"), 5000ms), 0);
  EXPECT_EQ(dir_.read("second.out"), "");
  EXPECT_EQ(dir_.read("second.err"), "");
  EXPECT_TRUE(relayRunning());

  pid_t status = spawn("--status", "status");
  EXPECT_EQ(waitExit(status, 5000ms), 0);
  EXPECT_EQ(dir_.read("status.out"),
            "Status  Board ID  Type  IP Address  MAC address  Open Device PC\n");

  // Close requests with other values are ignored.
  std::string answer;
  EXPECT_EQ(sendControlRequest(socketPath(), {kCloseRequestMessage, kCloseRequestWParam, 1}, answer),
            ControlOutcome::Done);
  EXPECT_EQ(sendControlRequest(socketPath(), kStatusRequest, answer), ControlOutcome::Done);
  EXPECT_TRUE(relayRunning());

  EXPECT_EQ(waitExit(spawn("--close", "close"), 5000ms), 0);
  EXPECT_EQ(waitExit(relay_, 5000ms), 0);
  relay_ = -1;
  EXPECT_FALSE(std::filesystem::exists(socketPath())) << "socket removed at shutdown";
  EXPECT_EQ(dir_.read("relay.err"), "");

  EXPECT_EQ(waitExit(spawn("--status", "after"), 5000ms), 1);
  EXPECT_EQ(dir_.read("after.err"), "lanrelay: no relay is running\n");
}

TEST_F(ShellProgram, TerminationSignalShutsDownInOrderAndFreesTheInstance) {
  startRelay();
  ASSERT_EQ(kill(relay_, SIGTERM), 0);
  EXPECT_EQ(waitExit(relay_, 5000ms), 0);
  relay_ = -1;
  EXPECT_FALSE(std::filesystem::exists(socketPath()));

  // A relay killed outright leaves its lock to the kernel, which frees it.
  startRelay();
  ASSERT_EQ(kill(relay_, SIGKILL), 0);
  EXPECT_EQ(waitExit(relay_, 5000ms), 128 + SIGKILL);
  relay_ = -1;
  startRelay();
  ASSERT_EQ(kill(relay_, SIGINT), 0);
  EXPECT_EQ(waitExit(relay_, 5000ms), 0);
  relay_ = -1;
}

TEST_F(ShellProgram, TakenServerPortIsReportedOnStandardErrorAndTheRelayRunsOn) {
  // Hold a port so the relay's client listener cannot have it.
  int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  socklen_t length = sizeof any;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&any), &length), 0);
  writeProfileString(dir_.file("config/lanrelay/lanrelay.ini"), "SERVER", "PORT", std::to_string(ntohs(any.sin_port)));

  startRelay();
  EXPECT_EQ(dir_.read("relay.err"), "lanrelay: Can not wait for connection\n");
  EXPECT_EQ(waitExit(spawn("--close", "close"), 5000ms), 0);
  EXPECT_EQ(waitExit(relay_, 5000ms), 0);
  relay_ = -1;
  close(holder);
}

TEST_F(ShellProgram, HelpVersionAndBadArguments) {
  EXPECT_EQ(waitExit(spawn("--help", "help"), 5000ms), 0);
  EXPECT_NE(dir_.read("help.out").find("--status"), std::string::npos);
  EXPECT_EQ(waitExit(spawn("--version", "version"), 5000ms), 0);
  EXPECT_EQ(dir_.read("version.out").rfind("lanrelay ", 0), 0u);
  EXPECT_EQ(waitExit(spawn("--bogus", "bogus"), 5000ms), 2);
  EXPECT_NE(dir_.read("bogus.err").find("unknown argument: --bogus"), std::string::npos);
}

}  // namespace
}  // namespace shell
