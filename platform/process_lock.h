// Named locks shared by every process of the user, taken without waiting and
// freed by the kernel when their holder dies. Used by the network board
// library to keep one request and its reply on a unit from interleaving with
// another, whichever thread or process sends it.
//
// How: one small file per name in the lock directory, mapped shared by every
// process that opens it, holding a robust process-shared mutex. Taking and
// releasing it costs no system call when nobody else holds it (the lock sits
// on every unit request, so this matters), a second thread of the same
// process is refused like another process, and when a holder dies (process
// or thread) the kernel marks the mutex so that the next taker learns it was
// abandoned. The mutex is set up under an open-file-description lock on the
// file, so processes that open a new file at once agree on who initialises
// it; the file also records the boot it was set up in, because a mutex left
// held by a process that died with the machine would otherwise stay held.
//
// Threads: tryLock/unlock may be called from any thread; unlock only by the
// thread that holds the lock.
#pragma once

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
  struct Shared;
  ProcessLock(int fd, Shared* shared) : fd_(fd), shared_(shared) {}
  int fd_;
  Shared* shared_;  // the file, mapped shared
};

// Directory of the lock files: $LANRELAY_LOCK_DIR when set (tests use their
// own), else "lanrelay-locks" in $XDG_RUNTIME_DIR, else
// /tmp/lanrelay-locks-<uid>. Created (mode 0700) when missing.
std::string processLockDirectory();

}  // namespace platform
