#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ChildProcess::~ChildProcess() {
  stop(2000);
  if (stdinFd_ >= 0) close(stdinFd_);
  if (stdoutFd_ >= 0) close(stdoutFd_);
}

bool ChildProcess::start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                         const std::string& stderrPath) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return false;
  }
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls are allowed.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const std::string& extra : extraEnv) {
    const std::string name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    env.push_back(extra);
  }
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  const int errFd = stderrPath.empty() ? -1 : open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);

  const pid_t pid = fork();
  if (pid < 0) {
    for (const int fd : {in[0], in[1], out[0], out[1], errFd}) {
      if (fd >= 0) close(fd);
    }
    return false;
  }
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    if (errFd >= 0) dup2(errFd, STDERR_FILENO);
    // Should the test die (a crash, ctest's time-out), its programs follow it
    // instead of living on in the namespace.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The test blocks or ignores nothing the child should see differently.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (errFd >= 0) close(errFd);
  pid_ = pid;
  stdinFd_ = in[1];
  stdoutFd_ = out[0];
  return true;
}

std::string ChildProcess::readLine(int timeoutMs, bool* ended) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (ended) *ended = false;
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    pollfd p{stdoutFd_, POLLIN, 0};
    const int left = msLeft(deadline);
    if (left == 0 || poll(&p, 1, left) <= 0) return "";
    char buffer[1024];
    const ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0) {
      if (ended) *ended = true;
      return "";
    }
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool ChildProcess::waitForLine(const std::string& prefix, int timeoutMs, std::string* line) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (msLeft(deadline) > 0) {
    bool ended = false;
    const std::string text = readLine(msLeft(deadline), &ended);
    if (text.rfind(prefix, 0) == 0 && !(text.empty() && !prefix.empty())) {
      if (line) *line = text;
      return true;
    }
    if (ended) return false;
  }
  return false;
}

std::string ChildProcess::readAll(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string text = std::move(pending_);
  pending_.clear();
  for (;;) {
    pollfd p{stdoutFd_, POLLIN, 0};
    const int left = msLeft(deadline);
    if (left == 0 || poll(&p, 1, left) <= 0) return text;
    char buffer[1024];
    const ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}

bool ChildProcess::writeLine(const std::string& line) {
  if (stdinFd_ < 0) return false;
  const std::string text = line + "\n";
  // A child that stopped reading must not hold the test: a line fits once
  // the pipe reports room (a pipe's PIPE_BUF).
  pollfd p{stdinFd_, POLLOUT, 0};
  if (poll(&p, 1, 5000) <= 0 || (p.revents & POLLOUT) == 0) return false;
  // A child that has ended must not end the test with SIGPIPE: the signal is
  // held back for this write and taken off again if it came.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
  const ssize_t n = write(stdinFd_, text.data(), text.size());
  if (n < 0 && errno == EPIPE) {
    const timespec now{0, 0};
    sigtimedwait(&pipeSignal, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return n == static_cast<ssize_t>(text.size());
}

bool ChildProcess::waitExit(int timeoutMs, int* status) {
  if (pid_ <= 0) return true;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const pid_t done = waitpid(pid_, status, WNOHANG);
    if (done == pid_ || done < 0) {
      pid_ = -1;
      return true;
    }
    if (msLeft(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int ChildProcess::stop(int timeoutMs) {
  if (pid_ <= 0) return -1;
  int status = 0;
  kill(pid_, SIGTERM);
  if (!waitExit(timeoutMs, &status)) {
    kill(pid_, SIGKILL);
    waitExit(5000, &status);
  }
  return status;
}

pid_t startNamespaceHolder() {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) {
    close(ready[0]);
    close(ready[1]);
    return -1;
  }
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (unshare(CLONE_NEWNET) != 0) _exit(1);
    const char byte = 1;
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char byte = 0;
  const bool ok = read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  if (!ok) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

void endNamespaceHolder(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

bool runShell(const std::string& command, std::string* output) { return runShell(command, output, kShellTimeoutMs); }

bool runShell(const std::string& command, std::string* output, int timeoutMs) {
  if (output) output->clear();
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  std::string script = command;
  const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};

  const pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    if (nullFd >= 0) close(nullFd);
    return false;
  }
  if (pid == 0) {
    // A group of its own, so that a time-out ends whatever the command
    // started; standard input from /dev/null, so nothing waits on a terminal.
    setpgid(0, 0);
    if (nullFd >= 0) dup2(nullFd, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], const_cast<char* const*>(argv), environ);
    _exit(127);
  }
  setpgid(pid, pid);  // also from here, so the group exists before any kill
  close(out[1]);
  if (nullFd >= 0) close(nullFd);

  // Output is collected until the shell has ended, not until the pipe closes:
  // a program the command left in the background may hold the pipe open for
  // as long as it lives.
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string text;
  int status = -1;
  bool exited = false;
  bool pipeOpen = true;
  while (!exited) {
    if (pipeOpen) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, std::min(msLeft(deadline), 20)) > 0) {
        char buffer[4096];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n > 0) text.append(buffer, static_cast<size_t>(n));
        if (n == 0) pipeOpen = false;
      }
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(msLeft(deadline), 10)));
    }
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      exited = true;
    } else if (msLeft(deadline) == 0) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      text += "\n(runShell: `" + command + "` did not end within " + std::to_string(timeoutMs) + " ms; killed)\n";
      close(out[0]);
      if (output) *output = text;
      return false;
    }
  }
  // What the shell wrote before it ended is in the pipe already.
  for (pollfd p{out[0], POLLIN, 0}; pipeOpen && poll(&p, 1, 0) > 0;) {
    char buffer[4096];
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  if (output) *output = text;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace e2e
