#include "tests/boardsim/sim_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace boardsim_test {

SimulatorHarness::~SimulatorHarness() {
  if (thread_.joinable()) {
    control("quit");
    thread_.join();
  }
  for (int fd : {controlWrite_, controlRead_, outputRead_, outputWrite_})
    if (fd >= 0) close(fd);
}

bool SimulatorHarness::start(boardsim::SimulatorOptions options, std::string& error) {
  int controlPipe[2];
  int outputPipe[2];
  if (pipe(controlPipe) != 0 || pipe(outputPipe) != 0) {
    error = "pipe failed";
    return false;
  }
  controlRead_ = controlPipe[0];
  controlWrite_ = controlPipe[1];
  outputRead_ = outputPipe[0];
  outputWrite_ = outputPipe[1];
  simulator_ = std::make_unique<boardsim::Simulator>(std::move(options), controlRead_, outputWrite_);
  if (!simulator_->start(error)) return false;
  for (;;) {
    const std::string line = readLine(2000);
    if (line == "ready") break;
    if (line.empty()) {
      error = "no ready line";
      return false;
    }
    startLines_.push_back(line);
  }
  thread_ = std::thread([this] { simulator_->run(); });
  return true;
}

std::string SimulatorHarness::readLine(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return "";
    pollfd p{outputRead_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
    char buffer[512];
    const ssize_t n = read(outputRead_, buffer, sizeof buffer);
    if (n <= 0) return "";
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

std::string SimulatorHarness::control(const std::string& line) {
  const std::string text = line + "\n";
  if (write(controlWrite_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
  for (;;) {
    std::string answer = readLine(2000);
    if (answer.empty() || answer.rfind("ok", 0) == 0 || answer.rfind("error", 0) == 0) return answer;
  }
}

boardsim::BoardSetup loopbackBoard(uint8_t lastOctet, uint8_t id, uint8_t type) {
  boardsim::BoardSetup board;
  board.identity.address.octets = {127, 0, 0, lastOctet};
  board.identity.mac = boardsim::macForAddress(board.identity.address);
  board.identity.boardId = id;
  board.identity.typeCode = type;
  return board;
}

int connectTo(const std::string& address, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
  return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

Received receive(int fd, size_t count, int timeoutMs) {
  Received result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (result.bytes.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    uint8_t buffer[256];
    const ssize_t n = recv(fd, buffer, std::min(sizeof buffer, count - result.bytes.size()), 0);
    if (n <= 0) {
      result.closed = true;
      break;
    }
    ++result.reads;
    result.bytes.insert(result.bytes.end(), buffer, buffer + n);
  }
  return result;
}

std::vector<uint8_t> identificationRequest(uint8_t unit) {
  std::vector<uint8_t> request(24, 0);
  request[0] = unit;
  request[2] = 0x10;
  request[8] = 0xFF;
  return request;
}

}  // namespace boardsim_test
