// The npio tool against the fake relay: each command's output and exit
// status, and the error names it prints.
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "fake_relay.h"
#include "fake_search.h"
#include "test_lock_dir.h"

extern char** environ;

namespace {

using fake::Bytes;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs npio with `args`, collecting both output streams.
RunResult runNpio(const std::vector<std::string>& args) {
  netpio_test::privateLockDirectory();
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  std::vector<char*> argv{const_cast<char*>(NPIO_PROGRAM)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, NPIO_PROGRAM, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  RunResult r;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  while (spawned == 0 && open > 0 && poll(fds, 2, 10000) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[512];
      const ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got <= 0) {
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(got));
      }
    }
  }
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.status = WEXITSTATUS(status);
  return r;
}

struct ToolCase {
  const char* name;
  std::vector<std::string> args;  // after --relay 127.0.0.1:PORT --board 3
  int status;
  std::string out;  // expected stdout (exact), or expected substring of stderr when status != 0
};

void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.name; }

class NpioCommands : public testing::TestWithParam<ToolCase> {};

TEST_P(NpioCommands, PrintAndExit) {
  const ToolCase& c = GetParam();
  fake::FakeRelay relay;
  relay.board().inputs = 0x44332211;
  relay.board().outputs = 0x000000F0;
  relay.setDeviceListAnswer({0x7F, 0x75, 16, 0, 3, 0x12, 10, 0, 0, 7, 0x00, 0x80, 0x4C, 1, 2, 3, 2, 0, 0, 0});
  std::vector<std::string> args{"--relay", "127.0.0.1:" + std::to_string(relay.port()), "--board", "3",
                                "--timeout", "2000"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const RunResult r = runNpio(args);
  EXPECT_EQ(r.status, c.status) << r.err;
  if (c.status == 0) {
    EXPECT_EQ(r.out, c.out);
  } else {
    EXPECT_NE(r.err.find(c.out), std::string::npos) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, NpioCommands,
    testing::Values(
        ToolCase{"ReadInputByte", {"read", "in", "byte", "2"}, 0, "0x33\n"},
        ToolCase{"ReadInputWord", {"read", "in", "word", "1"}, 0, "0x3322\n"},
        ToolCase{"ReadInputDword", {"read", "in", "dword"}, 0, "0x44332211\n"},
        ToolCase{"ReadOutputByte", {"read", "out", "byte", "0"}, 0, "0xf0\n"},
        ToolCase{"WriteByte", {"write", "byte", "1", "0x5A"}, 0, ""},
        ToolCase{"WriteDword", {"write", "dword", "4294967295"}, 0, ""},
        ToolCase{"Filter", {"filter", "0x81", "5"}, 0, ""},
        ToolCase{"Version", {"version"}, 0, "0x0102 0x0304\n"},
        ToolCase{"List", {"list"}, 0,
                 "type board address         mac               opens\n"
                 "0x12 3     10.0.0.7        00:80:4c:01:02:03 2\n"},
        ToolCase{"WirelessBoard", {"--type", "0x13", "read", "in", "dword"}, 0, "0x44332211\n"},
        ToolCase{"PortOutOfRange", {"read", "in", "byte", "4"}, 2, "bad port"},
        ToolCase{"ValueTooLarge", {"write", "byte", "0", "256"}, 2, "bad value"},
        ToolCase{"UnknownCommand", {"blink"}, 2, "unknown command blink"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NpioErrors, PrintTheErrorNameAndFail) {
  fake::FakeRelay relay;
  const std::string at = "127.0.0.1:" + std::to_string(relay.port());
  relay.setFrameHandler([](const Bytes&) { return fake::Answer{}; });  // never answered
  RunResult r = runNpio({"--relay", at, "--timeout", "50", "read", "in", "dword"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("time-out (0x40000)"), std::string::npos) << r.err;
  relay.setOpenAnswer({0x7F, 0x71, 0xFE});
  r = runNpio({"--relay", at, "read", "in", "dword"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("unknown board or board not connected (0x20000)"), std::string::npos) << r.err;
}

// Replaces each leading "HH:MM:SS.mmm" by "T"; a line without one is kept.
std::string withoutTimeStamps(const std::string& text) {
  const std::string shape = "99:99:99.999";
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(start, end - start);
    bool stamped = line.size() > shape.size();
    for (size_t i = 0; stamped && i < shape.size(); ++i) {
      stamped = shape[i] == '9' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == shape[i];
    }
    out += stamped ? "T" + line.substr(shape.size()) : line;
    start = end;
  }
  return out;
}

TEST(NpioWatch, PrintsEachChangeWithATimeStamp) {
  fake::FakeRelay relay;
  uint32_t inputs = 0x10;
  relay.setFrameHandler([&](const Bytes& f) {
    relay.board().inputs = inputs;
    inputs <<= 1;  // every read sees a change
    return relay.board().answer(f);
  });
  const RunResult r = runNpio({"--relay", "127.0.0.1:" + std::to_string(relay.port()), "watch", "--interval", "1",
                               "--changes", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(withoutTimeStamps(r.out),
            "T inputs 0x00000010 changed 0x00000000\n"
            "T inputs 0x00000020 changed 0x00000030\n")
      << r.out;
}

TEST(NpioSearch, ListsRelaysWithConnectedBoards) {
  fake::PrivateNetwork network({"10.77.0.10", "10.77.0.11"});
  if (!network.ok()) GTEST_SKIP() << network.why();
  fake::RelayResponders relays({{"10.77.0.10", {0x92, 2, 0x1A, 0x27}}, {"10.77.0.11", {0x92, 0, 0x1A, 0x27}}});
  const RunResult found = runNpio({"search", "--time", "150"});
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(found.out,
            "relay           boards  port\n"
            "10.77.0.10           2 10010\n");
}

TEST(NpioSearch, NoRelayIsAnError) {
  fake::PrivateNetwork network({});
  if (!network.ok()) GTEST_SKIP() << network.why();
  const RunResult none = runNpio({"search", "--time", "50"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no relay answered (0x20000)"), std::string::npos) << none.err;
}

TEST(NpioHelp, EveryCommandHasHelp) {
  RunResult r = runNpio({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* command : {"search", "list", "read", "write", "filter", "version", "watch"}) {
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
    const RunResult own = runNpio({command, "--help"});
    EXPECT_EQ(own.status, 0) << command;
    EXPECT_EQ(own.out.rfind("usage: npio", 0), 0u) << command;
  }
  EXPECT_EQ(runNpio({}).status, 2);
}

}  // namespace
