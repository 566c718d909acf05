#include "platform/process_lock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

constexpr off_t kFileSize = 64;
constexpr unsigned char kHeld = 1;

bool lockRange(int fd, short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &range) == 0;
}

// A directory we can trust: ours, not a link, not writable by others.
bool usableDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return st.st_uid == geteuid() && (st.st_mode & 0022) == 0;
}

}  // namespace

std::string processLockDirectory() {
  if (const char* dir = std::getenv("LANRELAY_LOCK_DIR"); dir != nullptr && dir[0] != '\0') return dir;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] != '\0') {
    return std::string(runtime) + "/lanrelay-locks";
  }
  return "/tmp/lanrelay-locks-" + std::to_string(geteuid());
}

std::unique_ptr<ProcessLock> ProcessLock::open(const std::string& name) {
  const std::string dir = processLockDirectory();
  if (name.empty() || name.find('/') != std::string::npos || !usableDirectory(dir)) return nullptr;
  const std::string path = dir + "/" + name;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  // Growing to a fixed size is idempotent, so processes that create the file
  // at the same time need no agreement; the map needs the bytes to exist.
  struct stat st {};
  if (fstat(fd, &st) != 0 || (st.st_size < kFileSize && ftruncate(fd, kFileSize) != 0)) {
    ::close(fd);
    return nullptr;
  }
  void* map = mmap(nullptr, static_cast<size_t>(kFileSize), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<ProcessLock>(new ProcessLock(fd, static_cast<unsigned char*>(map)));
}

ProcessLock::~ProcessLock() {
  munmap(marker_, static_cast<size_t>(kFileSize));
  ::close(fd_);
}

LockAttempt ProcessLock::tryLock() {
  bool expected = false;
  if (!heldHere_.compare_exchange_strong(expected, true, std::memory_order_acquire)) return LockAttempt::Busy;
  if (!lockRange(fd_, F_WRLCK)) {
    heldHere_.store(false, std::memory_order_release);
    return LockAttempt::Busy;
  }
  // Under the file lock nobody else touches the marker.
  if (*marker_ == kHeld) {
    *marker_ = 0;
    lockRange(fd_, F_UNLCK);
    heldHere_.store(false, std::memory_order_release);
    return LockAttempt::Abandoned;
  }
  *marker_ = kHeld;
  return LockAttempt::Acquired;
}

void ProcessLock::unlock() {
  *marker_ = 0;
  lockRange(fd_, F_UNLCK);
  heldHere_.store(false, std::memory_order_release);
}

}  // namespace platform
