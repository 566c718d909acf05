// upio as a separate process over libusbpio, pointed at a simulated serial
// board on a pseudo-terminal through USBPIO_SERIAL_PORTS.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/usbsim/pty_board_server.h"

extern char** environ;

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string drain(int fd) {
  std::string text;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return text;
}

ToolRun runUpio(const std::string& ports, std::vector<std::string> args) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("USBPIO_", 0) != 0) env.emplace_back(*e);
  }
  env.push_back("USBPIO_SERIAL_PORTS=" + ports);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  args.insert(args.begin(), UPIO_PROGRAM);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2], err[2];
  ToolRun run;
  if (pipe(out) != 0 || pipe(err) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, UPIO_PROGRAM, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  if (spawned != 0) {
    ::close(out[0]);
    ::close(err[0]);
    return run;
  }
  run.out = drain(out[0]);
  run.err = drain(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class UpioTool : public testing::Test {
 protected:
  void SetUp() override {
    usbsim::SerialBoardSettings settings;
    settings.boardId = 3;
    settings.typeCode = 0x12;
    settings.inputs = 0x44332211;
    board_ = std::make_unique<usbsim::PtyBoardServer>(settings);
    ASSERT_TRUE(board_->ok());
    board_->start();
  }
  ToolRun upio(std::vector<std::string> args) { return runUpio(board_->portPath(), std::move(args)); }

  std::unique_ptr<usbsim::PtyBoardServer> board_;
};

TEST_F(UpioTool, ListsTheSimulatedBoard) {
  const ToolRun run = upio({"list"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("board-id"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0     3         serial  4           0x5A1B"), std::string::npos) << run.out;
}

TEST_F(UpioTool, ReadsAndWrites) {
  ToolRun run = upio({"read", "0", "in", "dw"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "0x44332211\n");
  run = upio({"read", "0", "in", "w", "1"});
  EXPECT_EQ(run.out, "0x3322\n");

  ASSERT_EQ(upio({"write", "0", "dw", "0x11223344"}).status, 0);
  // A byte write keeps the other ports as the board has them.
  ASSERT_EQ(upio({"write", "0", "b", "0", "0xAA"}).status, 0);
  run = upio({"read", "0", "out", "dw"});
  EXPECT_EQ(run.out, "0x112233AA\n");
  EXPECT_EQ(board_->settings().outputs, 0x112233AAu);

  run = upio({"inout", "0", "0xFF"});
  EXPECT_EQ(run.out, "0x44332211\n");
  run = upio({"version", "0"});
  EXPECT_EQ(run.out, "0x0102 0x0304\n");
  EXPECT_EQ(upio({"filter", "0", "5", "3"}).status, 0);
}

TEST_F(UpioTool, ErrorsCarryTheResultsMeaning) {
  ToolRun run = upio({"read", "4", "in", "dw"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("result 1 "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("no unit"), std::string::npos) << run.err;
  run = upio({"read", "0", "in", "b", "4"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("result 256 (0x100): argument out of range"), std::string::npos) << run.err;
  EXPECT_EQ(upio({"read", "0", "sideways", "dw"}).status, 2);
  EXPECT_EQ(upio({}).status, 2);
}

TEST(UpioToolNoBoard, ListSaysSo) {
  const ToolRun run = runUpio("", {"list"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "no USB boards found\n");
}

}  // namespace
