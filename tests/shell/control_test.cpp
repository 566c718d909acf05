#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <future>

#include "lanrelay/shell/control_client.h"
#include "lanrelay/shell/control_server.h"
#include "lanrelay/shell/program_options.h"
#include "lanrelay/shell/runtime_folder.h"
#include "temp_folder.h"

namespace shell {
namespace {

using shell_test::TempFolder;
using namespace std::chrono_literals;

TEST(ShellControlRequest, EncodesLittleEndianAndClassifies) {
  auto bytes = encodeControlRequest(kCloseRequest);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()),
            (std::vector<uint8_t>{0x09, 0x96, 0, 0, 0x40, 0x32, 0, 0, 0x12, 0x73, 0, 0}));
  ControlRequest decoded = decodeControlRequest(bytes.data());
  EXPECT_EQ(decoded.message, 0x9609u);
  EXPECT_EQ(decoded.wParam, 0x3240u);
  EXPECT_EQ(decoded.lParam, 0x7312u);
  EXPECT_EQ(classifyControlRequest(kCloseRequest), ControlAction::Close);
  EXPECT_EQ(classifyControlRequest({0x9609, 0x3240, 0x7313}), ControlAction::Ignore);
  EXPECT_EQ(classifyControlRequest({0x9609, 0, 0x7312}), ControlAction::Ignore);
  EXPECT_EQ(classifyControlRequest(kStatusRequest), ControlAction::Status);
  EXPECT_EQ(classifyControlRequest({0x1234, 0x3240, 0x7312}), ControlAction::Ignore);
}

// Runs the loop until the client call on another thread has finished.
template <typename Result>
Result serveUntilDone(platform::EventLoop& loop, std::future<Result>& pending) {
  for (int i = 0; i < 500 && pending.wait_for(0ms) != std::future_status::ready; ++i) loop.runOnce(10ms);
  return pending.get();
}

class ShellControlServer : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("control.sock");
    std::string why;
    ASSERT_TRUE(server_.open(path_, why)) << why;
  }

  std::pair<ControlOutcome, std::string> ask(const ControlRequest& request) {
    auto pending = std::async(std::launch::async, [this, request] {
      std::string answer;
      ControlOutcome outcome = sendControlRequest(path_, request, answer, 2000ms);
      return std::make_pair(outcome, answer);
    });
    return serveUntilDone(loop_, pending);
  }

  TempFolder dir_;
  std::string path_;
  platform::EventLoop loop_;
  int closeRequests_ = 0;
  ControlServer server_{loop_, {[] { return std::string("table\n"); }, [this] { ++closeRequests_; }}};
};

TEST_F(ShellControlServer, AnswersStatusWithTheTable) {
  auto [outcome, answer] = ask(kStatusRequest);
  EXPECT_EQ(outcome, ControlOutcome::Done);
  EXPECT_EQ(answer, "table\n");
  EXPECT_EQ(closeRequests_, 0);
}

TEST_F(ShellControlServer, OnlyTheExactCloseRequestCloses) {
  EXPECT_EQ(ask({kCloseRequestMessage, 0x3240, 0x7311}).first, ControlOutcome::Done);
  EXPECT_EQ(ask({kCloseRequestMessage, 0x3241, 0x7312}).first, ControlOutcome::Done);
  EXPECT_EQ(ask({0x9608, 0x3240, 0x7312}).first, ControlOutcome::Done);
  EXPECT_EQ(closeRequests_, 0);
  EXPECT_EQ(ask(kCloseRequest).first, ControlOutcome::Done);
  EXPECT_EQ(closeRequests_, 1);
  EXPECT_EQ(server_.connectionCount(), 0u);
}

TEST_F(ShellControlServer, StalledClientsAreBoundedAndRequestsArriveInPieces) {
  std::vector<int> idle;
  for (int i = 0; i < 20; ++i) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    idle.push_back(fd);
    loop_.runOnce(0ms);
  }
  EXPECT_LE(server_.connectionCount(), 8u);
  // A request sent a few bytes at a time is still understood.
  auto bytes = encodeControlRequest(kCloseRequest);
  int last = idle.back();
  for (size_t i = 0; i < bytes.size(); i += 5) {
    ASSERT_GT(send(last, bytes.data() + i, std::min<size_t>(5, bytes.size() - i), 0), 0);
    loop_.runOnce(10ms);
  }
  for (int i = 0; i < 10 && closeRequests_ == 0; ++i) loop_.runOnce(10ms);
  EXPECT_EQ(closeRequests_, 1);
  for (int fd : idle) close(fd);
}

TEST(ShellControlClient, NoRelayMeansNotRunning) {
  TempFolder dir;
  std::string answer;
  EXPECT_EQ(sendControlRequest(dir.file("control.sock"), kStatusRequest, answer, 200ms), ControlOutcome::NotRunning);
  // A socket file left by a relay that died is the same.
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", dir.file("control.sock").c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
  EXPECT_EQ(sendControlRequest(dir.file("control.sock"), kStatusRequest, answer, 200ms), ControlOutcome::NotRunning);
}

TEST(ShellRuntimeFolder, FollowsXdgRuntimeDirAndRefusesSharedFolders) {
  EXPECT_EQ(runtimeFolderFor("/run/user/5", 5), "/run/user/5/lanrelay");
  EXPECT_EQ(runtimeFolderFor(nullptr, 5), "/tmp/lanrelay-5");
  EXPECT_EQ(runtimeFolderFor("rel", 5), "/tmp/lanrelay-5");
  TempFolder dir;
  std::string why;
  EXPECT_TRUE(prepareRuntimeFolder(dir.file("run"), why)) << why;
  EXPECT_TRUE(prepareRuntimeFolder(dir.file("run"), why)) << "existing private folder is fine";
  std::filesystem::create_directory(dir.file("open"));
  chmod(dir.file("open").c_str(), 0777);
  EXPECT_FALSE(prepareRuntimeFolder(dir.file("open"), why));
  std::filesystem::create_directory_symlink(dir.file("run"), dir.file("link"));
  EXPECT_FALSE(prepareRuntimeFolder(dir.file("link"), why));
}

struct OptionCase {
  std::vector<const char*> arguments;
  ProgramMode mode;
};

class ShellProgramOptions : public ::testing::TestWithParam<OptionCase> {};

TEST_P(ShellProgramOptions, Parse) {
  std::vector<const char*> argv = {"lanrelay"};
  argv.insert(argv.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  EXPECT_EQ(parseProgramOptions(static_cast<int>(argv.size()), argv.data()).mode, GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ShellProgramOptions,
    ::testing::Values(OptionCase{{}, ProgramMode::Run}, OptionCase{{"--headless"}, ProgramMode::Run},
                      OptionCase{{"--status"}, ProgramMode::Status}, OptionCase{{"--close"}, ProgramMode::Close},
                      OptionCase{{"--help"}, ProgramMode::Help}, OptionCase{{"--version"}, ProgramMode::Version},
                      OptionCase{{"--headless", "--status"}, ProgramMode::Status},
                      OptionCase{{"--status", "--close"}, ProgramMode::Invalid},
                      OptionCase{{"--bogus"}, ProgramMode::Invalid}, OptionCase{{"status"}, ProgramMode::Invalid}));

}  // namespace
}  // namespace shell
