// The boardsim program itself: help, argument errors, the refusal outside a
// private namespace, start-up failures and a clean stop on SIGTERM.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/e2e/child_process.h"
#include "tests/support/private_network.h"

namespace {

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs boardsim to completion with `env` added; standard error via a file.
Outcome runBoardsim(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  static int runs = 0;
  const std::string errPath = testing::TempDir() + "boardsim-program-" + std::to_string(getpid()) + "-" +
                              std::to_string(++runs) + ".err";
  std::vector<std::string> argv = {BOARDSIM_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  e2e::ChildProcess program;
  Outcome outcome;
  if (!program.start(argv, env, errPath)) return outcome;
  outcome.out = program.readAll(5000);
  int status = 0;
  if (program.waitExit(5000, &status) && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  std::ifstream err(errPath);
  std::stringstream text;
  text << err.rdbuf();
  outcome.err = text.str();
  std::remove(errPath.c_str());
  return outcome;
}

TEST(BoardsimProgram, HelpAndArgumentErrors) {
  const Outcome help = runBoardsim({"--help"}, {});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("usage: "), std::string::npos);
  EXPECT_NE(help.out.find("unplug BOARD"), std::string::npos);

  struct Case {
    std::vector<std::string> args;
    const char* mentions;
  };
  const Case cases[] = {
      {{}, "no boards"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"--board", "ip=10.77.0.11,id=99"}, "id '99'"},
      {{"--count", "2"}, "--first-ip"},
  };
  for (const Case& c : cases) {
    const Outcome bad = runBoardsim(c.args, {"LANRELAY_NETNS=1"});
    EXPECT_EQ(bad.exitCode, 2) << c.mentions;
    EXPECT_NE(bad.err.find(c.mentions), std::string::npos) << bad.err;
    EXPECT_TRUE(bad.out.empty()) << bad.out;
  }
}

TEST(BoardsimProgram, RefusesToRunOutsideAPrivateNamespace) {
  // Run in a namespace all the same: should the refusal break, nothing reaches
  // a real interface.
  std::string why;
  if (!testsupport::enterPrivateNetwork(why)) GTEST_SKIP() << why;
  const Outcome refused = runBoardsim({"--board", "ip=127.0.0.11", "--board-port", "0", "--search-port", "0"},
                                      {"LANRELAY_NETNS=0"});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.err.find("private network namespace"), std::string::npos) << refused.err;
  EXPECT_TRUE(refused.out.empty());
}

TEST(BoardsimProgram, AddressNotOnThisHostIsAClearError) {
  std::string why;
  if (!testsupport::enterPrivateNetwork(why)) GTEST_SKIP() << why;
  const Outcome failed = runBoardsim({"--board", "ip=10.99.0.1", "--search-port", "0"}, {});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_NE(failed.err.find("10.99.0.1"), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("ip addr add"), std::string::npos) << failed.err;
  EXPECT_EQ(failed.out.find("ready"), std::string::npos);
}

TEST(BoardsimProgram, StopsCleanlyOnSigterm) {
  std::string why;
  if (!testsupport::enterPrivateNetwork(why)) GTEST_SKIP() << why;
  e2e::ChildProcess program;
  ASSERT_TRUE(program.start({BOARDSIM_PROGRAM, "--count", "2", "--first-ip", "127.0.0.21", "--board-port", "0",
                             "--search-port", "0"}));
  ASSERT_TRUE(program.waitForLine("ready", 5000));
  // A control line on standard input is answered on standard output.
  ASSERT_TRUE(program.writeLine("status"));
  ASSERT_TRUE(program.waitForLine("ok status", 5000));
  const int status = program.stop(5000);
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
