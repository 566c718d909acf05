#include "platform/process_lock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

struct ProcessLock::Shared {
  std::array<char, 8> magic;
  std::array<char, 40> bootId;
  pthread_mutex_t mutex;
};

namespace {

constexpr std::array<char, 8> kMagic = {'l', 'r', 'l', 'o', 'c', 'k', '0', '1'};

// The kernel's id of this boot; a mutex set up in another boot is stale.
std::array<char, 40> currentBootId() {
  std::array<char, 40> id{};
  const int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    (void)read(fd, id.data(), id.size() - 1);
    close(fd);
  }
  return id;
}

// Blocking OFD lock on the file's first byte, held only while the mutex is
// looked at or set up; the kernel drops it if the process dies meanwhile.
bool guardSetUp(int fd, short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  for (;;) {
    if (fcntl(fd, F_OFD_SETLKW, &range) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool initialiseMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  const bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                  pthread_mutex_init(mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  return ok;
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
  auto fail = [fd]() -> std::unique_ptr<ProcessLock> {
    ::close(fd);
    return nullptr;
  };
  if (!guardSetUp(fd, F_WRLCK)) return fail();
  // Growing to the record's size is idempotent; the map needs the bytes.
  struct stat st {};
  if (fstat(fd, &st) != 0 || (st.st_size < off_t(sizeof(Shared)) && ftruncate(fd, sizeof(Shared)) != 0)) {
    return fail();
  }
  void* map = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return fail();
  auto* shared = static_cast<Shared*>(map);
  const std::array<char, 40> boot = currentBootId();
  if (shared->magic != kMagic || shared->bootId != boot) {
    // New file, one whose creator died before finishing, or one from an
    // earlier boot: nobody can hold this mutex now.
    shared->magic = {};
    if (!initialiseMutex(&shared->mutex)) {
      munmap(map, sizeof(Shared));
      return fail();
    }
    shared->bootId = boot;
    shared->magic = kMagic;
  }
  guardSetUp(fd, F_UNLCK);
  return std::unique_ptr<ProcessLock>(new ProcessLock(fd, shared));
}

ProcessLock::~ProcessLock() {
  // The mapping stays: a thread still holding the mutex has it on its robust
  // list, and the kernel can only mark it abandoned at that thread's exit if
  // the memory is still there. One page per lock, once per process.
  ::close(fd_);
}

LockAttempt ProcessLock::tryLock() {
  switch (pthread_mutex_trylock(&shared_->mutex)) {
    case 0:
      return LockAttempt::Acquired;
    case EOWNERDEAD:
      // Handed to us because its holder died: make it usable again, release
      // it, and tell the caller once.
      pthread_mutex_consistent(&shared_->mutex);
      pthread_mutex_unlock(&shared_->mutex);
      return LockAttempt::Abandoned;
    default:  // EBUSY, also when this thread holds it already
      return LockAttempt::Busy;
  }
}

void ProcessLock::unlock() { pthread_mutex_unlock(&shared_->mutex); }

}  // namespace platform
