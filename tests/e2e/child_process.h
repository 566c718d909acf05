// A program the end-to-end test starts: its standard input and output on
// pipes, stopped by pid (SIGTERM, then SIGKILL after a bounded wait).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (a path) with the current environment plus `extraEnv`
  // ("NAME=value"). Standard error goes to `stderrPath` when given (else it
  // is inherited). Returns false when it cannot start.
  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
             const std::string& stderrPath = "");

  // Next line of standard output, "" (with timedOut) after timeoutMs or at end.
  std::string readLine(int timeoutMs, bool* ended = nullptr);
  // Reads lines until one equals or starts with `prefix`; false on time-out.
  bool waitForLine(const std::string& prefix, int timeoutMs, std::string* line = nullptr);
  // Everything left on standard output until the program closes it, or until
  // timeoutMs passed.
  std::string readAll(int timeoutMs);
  bool writeLine(const std::string& line);

  // Stops the process: SIGTERM, wait up to timeoutMs, then SIGKILL. Returns
  // the exit status as waitpid reports it, or -1 if it was not running.
  int stop(int timeoutMs = 3000);
  // Waits for it to end on its own; false on time-out.
  bool waitExit(int timeoutMs, int* status);
  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  std::string pending_;
};

// A child process that holds a network namespace of its own until
// endNamespaceHolder(), or until the test process dies. Returns its pid, or
// -1 when it could not be made.
pid_t startNamespaceHolder();
void endNamespaceHolder(pid_t pid);

// Runs a command through /bin/sh; true on exit status 0. Output and errors go
// to `output` when it is given. The wait is bounded: a command still running
// after `timeoutMs` is killed with everything it started (its process group)
// and counts as failed, with a note in `output`. Output is taken until the
// shell ends, so a program the command leaves in the background cannot hold
// the caller.
constexpr int kShellTimeoutMs = 60000;
bool runShell(const std::string& command, std::string* output = nullptr);
bool runShell(const std::string& command, std::string* output, int timeoutMs);

}  // namespace e2e
