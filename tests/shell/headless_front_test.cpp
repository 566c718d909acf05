#include "lanrelay/shell/headless_front.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

namespace shell {
namespace {

using engine::IconKind;

class ShellHeadlessFront : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe2(out_, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(err_, O_CLOEXEC), 0);
  }
  void TearDown() override {
    for (int fd : {out_[0], out_[1], err_[0], err_[1]}) close(fd);
  }
  static std::string drain(int fd) {
    fcntl(fd, F_SETFL, O_NONBLOCK);
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    return text;
  }

  int out_[2]{};
  int err_[2]{};
  platform::EventLoop loop_;
};

TEST_F(ShellHeadlessFront, BalloonsGoToOutputAndMessagesToErrorOneLineEach) {
  HeadlessFront front(loop_, out_[1], err_[1]);
  front.showBalloon(IconKind::Information, "Board 3\r\nup", "at 10.0.0.5\r\nnow");
  front.showBalloon(IconKind::Warning, "t", "m");
  front.showBalloon(IconKind::None, "t", "m");
  front.showBalloon(IconKind::Error, "no text", "");
  front.showMessage(IconKind::Error, "lanrelay", "Other relay\r\nat 10.0.0.9");
  EXPECT_EQ(drain(out_[0]), "INFORMATION: Board 3 up: at 10.0.0.5 now\nWARNING: t: m\nNONE: t: m\n");
  EXPECT_EQ(drain(err_[0]), "lanrelay: Other relay at 10.0.0.9\n");
}

TEST_F(ShellHeadlessFront, FullOutputDropsLinesInsteadOfWaiting) {
  HeadlessFront front(loop_, out_[1], err_[1]);
  // Fill the pipe as a reader that stopped reading would leave it.
  fcntl(out_[1], F_SETFL, O_NONBLOCK);
  std::string block(4096, 'x');
  while (write(out_[1], block.data(), block.size()) > 0) {
  }
  fcntl(out_[1], F_SETFL, 0);  // back to blocking, as standard output usually is
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) front.showBalloon(IconKind::Information, "title", "text");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(ShellHeadlessFront, ExitRequestStopsTheLoop) {
  HeadlessFront front(loop_, out_[1], err_[1]);
  EXPECT_FALSE(loop_.stopRequested());
  front.requestExit();
  EXPECT_TRUE(loop_.stopRequested());
}

}  // namespace
}  // namespace shell
