#include "lanrelay/shell/headless_front.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "lanrelay/shell/system_log.h"
#include "lanrelay/shell/text_utils.h"

namespace shell {
namespace {

std::string oneLine(const std::string& text) { return replaceAll(replaceAll(text, "\r\n", " "), "\n", " "); }

// Writes the line only if the descriptor takes it now (a pipe with room, a
// terminal, a file); never waits.
void writeLineIfReady(int fd, const std::string& line) {
  pollfd entry{fd, POLLOUT, 0};
  if (poll(&entry, 1, 0) != 1 || (entry.revents & POLLOUT) == 0) return;
  size_t written = 0;
  while (written < line.size()) {
    ssize_t n = write(fd, line.data() + written, line.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    written += static_cast<size_t>(n);
  }
}

}  // namespace

std::string balloonLine(engine::IconKind icon, const std::string& title, const std::string& text) {
  return std::string(systemLogLevelWord(static_cast<int>(icon))) + ": " + oneLine(title) + ": " + oneLine(text) + "\n";
}

std::string messageLine(const std::string& caption, const std::string& text) {
  return caption + ": " + oneLine(text) + "\n";
}

HeadlessFront::HeadlessFront(platform::EventLoop& loop, int outputFd, int errorFd)
    : loop_(loop), outputFd_(outputFd), errorFd_(errorFd) {}

void HeadlessFront::showBalloon(engine::IconKind icon, const std::string& title, const std::string& text) {
  if (text.empty()) return;
  writeLineIfReady(outputFd_, balloonLine(icon, title, text));
}

void HeadlessFront::showMessage(engine::IconKind, const std::string& caption, const std::string& text) {
  writeLineIfReady(errorFd_, messageLine(caption, text));
}

void HeadlessFront::requestExit() { loop_.stop(); }

}  // namespace shell
