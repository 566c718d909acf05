#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
  if (pid < 0) return false;
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
  const std::string text = line + "\n";
  return write(stdinFd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
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

bool runShell(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return false;
  char buffer[512];
  std::string text;
  while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
  const int status = pclose(pipe);
  if (output) *output = text;
  return status == 0;
}

}  // namespace e2e
