#include "usbpio/termios_serial_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>

namespace usbpio {
namespace {

using Clock = std::chrono::steady_clock;

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string resolved(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

bool boundToBridgeDriver(const std::string& ttyDir) {
  char target[PATH_MAX];
  const ssize_t n = readlink((ttyDir + "/device/driver").c_str(), target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = '\0';
  return baseName(target) == "cp210x";
}

// ttyUSB2 before ttyUSB10: by name stem, then by index.
bool ttyOrder(const std::string& a, const std::string& b) {
  const size_t da = a.find_last_not_of("0123456789") + 1;
  const size_t db = b.find_last_not_of("0123456789") + 1;
  const std::string stemA = a.substr(0, da), stemB = b.substr(0, db);
  if (stemA != stemB) return stemA < stemB;
  if (a.size() - da != b.size() - db) return a.size() - da < b.size() - db;
  return a < b;
}

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

unsigned portNumberOfTtyName(std::string_view name) {
  size_t start = name.size();
  while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
  const std::string_view digits = name.substr(start);
  if (digits.empty() || digits.size() > 2) return 0;
  unsigned index = 0;
  for (char c : digits) index = index * 10 + static_cast<unsigned>(c - '0');
  return index + 1 <= 99 ? index + 1 : 0;
}

TermiosSerialPorts::TermiosSerialPorts(std::string ttyClassRoot, std::vector<std::string> extraPorts)
    : ttyClassRoot_(std::move(ttyClassRoot)), extraPorts_(std::move(extraPorts)) {}

TermiosSerialPorts::~TermiosSerialPorts() {
  for (size_t i = 0; i < open_.size(); ++i) close(static_cast<int32_t>(i));
}

std::vector<PortListEntry> TermiosSerialPorts::listPorts(size_t limit) {
  std::vector<std::string> ttys;
  if (DIR* dir = opendir(ttyClassRoot_.c_str())) {
    while (const dirent* item = readdir(dir)) {
      const std::string name = item->d_name;
      if (name == "." || name == "..") continue;
      if (boundToBridgeDriver(ttyClassRoot_ + "/" + name)) ttys.push_back(name);
    }
    closedir(dir);
  }
  std::sort(ttys.begin(), ttys.end(), ttyOrder);

  std::vector<PortListEntry> ports;
  std::vector<std::string> seen;
  auto add = [&](const std::string& path) {
    const std::string real = resolved(path);
    if (std::find(seen.begin(), seen.end(), real) != seen.end()) return;
    if (ports.size() >= limit) return;
    seen.push_back(real);
    // Every port offered here sits behind the bridge (sysfs) or was named by
    // the user as if it did.
    ports.push_back(PortListEntry{kBridgeDescription, path});
  };
  for (const std::string& tty : ttys) add("/dev/" + tty);
  for (const std::string& path : extraPorts_) add(path);
  return ports;
}

unsigned TermiosSerialPorts::portNumber(const std::string& portName) {
  // A by-id link names the board, the tty behind it carries the number.
  return portNumberOfTtyName(baseName(resolved(portName)));
}

int32_t TermiosSerialPorts::open(const std::string& portName) {
  const int fd = ::open(portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kNoToken;
  // Only a terminal can be a port; and a port another process of this library
  // holds stays with it (the lock frees itself when that process ends).
  // TIOCEXCL keeps other programs out too, except root.
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    ::close(fd);
    return kNoToken;
  }
  auto slot = std::find_if(open_.begin(), open_.end(), [](const OpenPort& p) { return p.fd < 0; });
  if (slot == open_.end()) slot = open_.insert(open_.end(), OpenPort{});
  *slot = OpenPort{};
  slot->fd = fd;
  return static_cast<int32_t>(slot - open_.begin());
}

TermiosSerialPorts::OpenPort* TermiosSerialPorts::find(int32_t port) {
  if (port < 0 || static_cast<size_t>(port) >= open_.size()) return nullptr;
  OpenPort& p = open_[static_cast<size_t>(port)];
  return p.fd < 0 ? nullptr : &p;
}

void TermiosSerialPorts::close(int32_t port) {
  OpenPort* p = find(port);
  if (p == nullptr) return;
  // Exclusive mode would outlive us on a tty that someone else keeps open
  // (the master side of a pseudo-terminal).
  ioctl(p->fd, TIOCNXCL);
  ::close(p->fd);
  *p = OpenPort{};
}

bool TermiosSerialPorts::saveSettings(int32_t port) {
  OpenPort* p = find(port);
  if (p == nullptr || tcgetattr(p->fd, &p->saved) != 0) return false;
  p->hasSaved = true;
  return true;
}

bool TermiosSerialPorts::applyLinkSettings(int32_t port) {
  OpenPort* p = find(port);
  struct termios t {};
  if (p == nullptr || tcgetattr(p->fd, &t) != 0) return false;
  if (cfsetispeed(&t, B115200) != 0 || cfsetospeed(&t, B115200) != 0) return false;
  t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | CS8 | CREAD | CLOCAL;
  // The payloads are binary: the line discipline must neither edit, echo nor
  // translate them, and XON/XOFF would swallow the bytes 0x11 and 0x13 (two of
  // the board type codes). Hardware flow control stays as the user set it.
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN);
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                      IXANY | INPCK);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  // Time-outs are kept by poll(); reads return what is there.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return tcsetattr(p->fd, TCSANOW, &t) == 0;
}

bool TermiosSerialPorts::restoreSettings(int32_t port) {
  OpenPort* p = find(port);
  if (p == nullptr || !p->hasSaved) return false;
  return tcsetattr(p->fd, TCSANOW, &p->saved) == 0;
}

void TermiosSerialPorts::discardInput(int32_t port) {
  if (OpenPort* p = find(port)) tcflush(p->fd, TCIFLUSH);
}

SerialOutcome TermiosSerialPorts::write(int32_t port, const uint8_t* data, size_t length, unsigned timeoutMs,
                                        size_t* moved) {
  *moved = 0;
  OpenPort* p = find(port);
  if (p == nullptr) return SerialOutcome::Failed;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (*moved < length) {
    const ssize_t n = ::write(p->fd, data + *moved, length - *moved);
    if (n > 0) {
      *moved += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return SerialOutcome::Failed;
    pollfd ready{p->fd, POLLOUT, 0};
    const int left = remainingMs(deadline);
    if (left == 0) return SerialOutcome::Failed;
    if (poll(&ready, 1, left) < 0 && errno != EINTR) return SerialOutcome::Failed;
    if (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) return SerialOutcome::Failed;
  }
  return SerialOutcome::Done;
}

SerialOutcome TermiosSerialPorts::read(int32_t port, uint8_t* data, size_t length, unsigned timeoutMs,
                                       size_t* moved) {
  *moved = 0;
  OpenPort* p = find(port);
  if (p == nullptr) return SerialOutcome::Failed;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (*moved < length) {
    const ssize_t n = ::read(p->fd, data + *moved, length - *moved);
    if (n > 0) {
      *moved += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return SerialOutcome::Failed;
    const int left = remainingMs(deadline);
    if (left == 0) break;
    pollfd ready{p->fd, POLLIN, 0};
    const int got = poll(&ready, 1, left);
    if (got < 0 && errno != EINTR) return SerialOutcome::Failed;
    if (got > 0 && (ready.revents & POLLIN) == 0) return SerialOutcome::Failed;  // hung up, gone
  }
  return SerialOutcome::Done;
}

}  // namespace usbpio
