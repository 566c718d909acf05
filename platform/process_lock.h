// Named locks shared by every process of the user, taken without waiting and
// freed by the kernel when their holder dies. Used by the network board
// library to keep one request and its reply on a unit from interleaving with
// another, whichever thread or process sends it.
//
// How: one small file per name in the lock directory, locked with an
// open-file-description lock (F_OFD_SETLK), which the kernel drops when the
// last descriptor of the holder goes, also when the process dies. OFD locks
// belong to the open file, not the thread, so an in-process flag refuses a
// second thread of the same process. A byte in the file, mapped shared, marks
// "held": a taker that finds it still set knows the previous holder died
// while holding the lock (an abandoned lock) and reports that once. We chose
// this over a robust process-shared mutex in shared memory because the files
// need no initialisation protocol between processes and vanish from no
// reader's view when a creator dies half-way.
//
// Threads: tryLock/unlock may be called from any thread; unlock only by the
// thread that holds the lock.
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace platform {

enum class LockAttempt {
  Acquired,   // the caller holds the lock until unlock()
  Busy,       // held by another thread or process (or this thread)
  Abandoned,  // its holder died holding it; it has been taken and released
              // again, so the next attempt can succeed
};

class ProcessLock {
 public:
  // Opens the lock of that name, creating its file if needed; nullptr when the
  // directory or the file cannot be made.
  static std::unique_ptr<ProcessLock> open(const std::string& name);
  ~ProcessLock();
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;

  LockAttempt tryLock();
  void unlock();

 private:
  ProcessLock(int fd, unsigned char* marker) : fd_(fd), marker_(marker) {}
  int fd_;
  unsigned char* marker_;  // shared mapping of the file's first byte
  std::atomic<bool> heldHere_{false};
};

// Directory of the lock files: $LANRELAY_LOCK_DIR when set (tests use their
// own), else "lanrelay-locks" in $XDG_RUNTIME_DIR, else
// /tmp/lanrelay-locks-<uid>. Created (mode 0700) when missing.
std::string processLockDirectory();

}  // namespace platform
