#include "fake_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace fake {
namespace {

using Clock = std::chrono::steady_clock;

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putLe32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void sendRaw(int fd, const Bytes& bytes) {
  if (!bytes.empty()) (void)send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

}  // namespace

Bytes replyFrame(uint8_t unit, uint8_t command, const Bytes& payload) {
  Bytes f(8 + payload.size(), 0);
  f[0] = unit;
  f[1] = command;
  f[2] = static_cast<uint8_t>(payload.size());
  f[3] = static_cast<uint8_t>(payload.size() >> 8);
  f[4] = 0x5A;  // bytes 4-5 are the board's own; nobody may look at them
  f[5] = 0xA5;
  std::copy(payload.begin(), payload.end(), f.begin() + 8);
  return f;
}

Bytes deviceList(const std::vector<Bytes>& records) {
  const size_t n = records.size() * 16;
  Bytes message{0x7F, 0x75, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
  for (const Bytes& r : records) message.insert(message.end(), r.begin(), r.end());
  return message;
}

Answer SimulatedBoard::answer(const Bytes& frame) {
  Answer a;
  const uint8_t unit = frame[0];
  uint8_t command = frame.size() > 8 ? frame[8] : 0;
  const uint8_t* args = frame.data() + 10;
  const size_t argBytes = frame.size() > 10 ? frame.size() - 10 : 0;
  Bytes data;
  if ((command == 0x90 || command == 0xA2) && argBytes < 4) command = 0;
  if ((command == 0x92 || command == 0x95) && argBytes < 8) command = 0;
  switch (command) {
    case 0x93: putLe32(data, inputs); break;
    case 0x91: putLe32(data, outputs); break;
    case 0xF1:
      data = {static_cast<uint8_t>(version[0]), static_cast<uint8_t>(version[0] >> 8),
              static_cast<uint8_t>(version[1]), static_cast<uint8_t>(version[1] >> 8)};
      break;
    case 0x90: outputs = le32(args); break;
    case 0x92: outputs = (outputs & le32(args)) | le32(args + 4); break;
    case 0x95:
      outputs = le32(args + 4);
      putLe32(data, inputs);
      putLe32(data, outputs);
      break;
    case 0xA2:
      filterMask = frame[9];
      filterNibbles = le32(args);
      break;
    default: break;
  }
  a.reply = replyFrame(unit, command, data);
  return a;
}

FakeRelay::FakeRelay() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof sa;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      listen(listenFd_, 64) != 0 || getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &size) != 0) {
    throw std::runtime_error("fake relay: cannot listen");
  }
  port_ = ntohs(sa.sin_port);
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  handler_ = [this](const Bytes& frame) { return board_.answer(frame); };
  thread_ = std::thread([this] { run(); });
}

FakeRelay::~FakeRelay() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake();
  thread_.join();
  for (const Client& c : clients_) close(c.fd);
  close(listenFd_);
  close(wakeFd_);
}

void FakeRelay::wake() const {
  const uint64_t one = 1;
  (void)write(wakeFd_, &one, sizeof one);
}

void FakeRelay::setOpenAnswer(Bytes raw) {
  std::lock_guard lock(mutex_);
  openAnswer_ = std::move(raw);
}
void FakeRelay::setDeviceListAnswer(Bytes raw) {
  std::lock_guard lock(mutex_);
  listAnswer_ = std::move(raw);
}
void FakeRelay::setVersionAnswer(Bytes raw) {
  std::lock_guard lock(mutex_);
  versionAnswer_ = std::move(raw);
}
void FakeRelay::setFrameHandler(std::function<Answer(const Bytes&)> handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void FakeRelay::pushToAll(const Bytes& raw) {
  {
    std::lock_guard lock(mutex_);
    pushes_.push_back(raw);
  }
  wake();
  settle();
}

std::vector<Bytes> FakeRelay::frames() const {
  settle();
  std::lock_guard lock(mutex_);
  return frames_;
}
std::vector<Bytes> FakeRelay::controls() const {
  settle();
  std::lock_guard lock(mutex_);
  return controls_;
}
int FakeRelay::connectionsAccepted() const {
  settle();
  std::lock_guard lock(mutex_);
  return accepted_;
}
int FakeRelay::connectionsOpen() const {
  settle();
  std::lock_guard lock(mutex_);
  return static_cast<int>(clients_.size());
}

void FakeRelay::settle(std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  // Two full passes after the wake-up: the second one started after every
  // byte that was already in the kernel when we were called.
  const uint64_t target = passes_ + 2;
  ++settling_;
  wake();
  passed_.wait_for(lock, limit, [&] { return passes_ >= target || stopping_; });
  --settling_;
}

void FakeRelay::schedule(int fd, const Answer& answer) {
  const auto now = Clock::now();
  sendRaw(fd, answer.acknowledge);
  if (answer.reply.empty()) {
    if (answer.closeAfter) pending_.push_back({now + answer.replyDelay, fd, {}, true});
    return;
  }
  const auto due = now + answer.replyDelay;
  if (answer.splitAt > 0 && answer.splitAt < answer.reply.size()) {
    pending_.push_back({due, fd, Bytes(answer.reply.begin(), answer.reply.begin() + answer.splitAt), false});
    pending_.push_back({due + answer.splitGap, fd, Bytes(answer.reply.begin() + answer.splitAt, answer.reply.end()),
                        answer.closeAfter});
  } else {
    pending_.push_back({due, fd, answer.reply, answer.closeAfter});
  }
}

void FakeRelay::sendDue() {
  const auto now = Clock::now();
  std::stable_sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) { return a.due < b.due; });
  while (!pending_.empty() && pending_.front().due <= now) {
    Pending p = pending_.front();
    pending_.erase(pending_.begin());
    const bool known = std::any_of(clients_.begin(), clients_.end(), [&](const Client& c) { return c.fd == p.fd; });
    if (!known) continue;
    sendRaw(p.fd, p.bytes);
    if (p.closeAfter) {
      close(p.fd);
      clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [&](const Client& c) { return c.fd == p.fd; }),
                     clients_.end());
    }
  }
}

void FakeRelay::acceptClients() {
  const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  // An acknowledgement and the reply behind it are two small sends; without
  // this the second waits for the client's delayed ACK.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  clients_.push_back({fd, {}});
  ++accepted_;
}

bool FakeRelay::readClient(Client& client) {
  uint8_t buf[2048];
  const ssize_t got = recv(client.fd, buf, sizeof buf, MSG_DONTWAIT);
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return false;
  if (got > 0) client.input.insert(client.input.end(), buf, buf + got);
  handleUnits(client);
  return true;
}

void FakeRelay::handleUnits(Client& client) {
  Bytes& in = client.input;
  for (;;) {
    if (in.empty()) return;
    if (in[0] == 0x7F) {
      if (in.size() < 2) return;
      const uint8_t letter = in[1];
      const size_t length = letter == 0x71 ? 4 : 2;
      if (in.size() < length) return;
      const Bytes message(in.begin(), in.begin() + length);
      in.erase(in.begin(), in.begin() + length);
      controls_.push_back(message);
      if (letter == 0x71) sendRaw(client.fd, openAnswer_);
      if (letter == 0x75) sendRaw(client.fd, listAnswer_);
      if (letter == 0x76) sendRaw(client.fd, versionAnswer_);
      continue;
    }
    if (in.size() < 8) return;
    const size_t length = 8 + (in[2] | (in[3] << 8));
    if (in.size() < length) return;
    const Bytes frame(in.begin(), in.begin() + length);
    in.erase(in.begin(), in.begin() + length);
    frames_.push_back(frame);
    schedule(client.fd, handler_(frame));
  }
}

void FakeRelay::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    std::vector<pollfd> fds{{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    for (const Client& c : clients_) fds.push_back({c.fd, POLLIN, 0});
    int waitMs = -1;
    if (!pending_.empty()) {
      auto next = std::min_element(pending_.begin(), pending_.end(),
                                   [](const Pending& a, const Pending& b) { return a.due < b.due; })->due;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
      waitMs = static_cast<int>(std::max<long>(0, left));
    }
    if (settling_ > 0) waitMs = 0;  // someone waits for our next passes
    lock.unlock();
    poll(fds.data(), fds.size(), waitMs);
    lock.lock();
    if (fds[1].revents & POLLIN) {
      uint64_t drained;
      (void)read(wakeFd_, &drained, sizeof drained);
    }
    if (fds[0].revents & POLLIN) acceptClients();
    for (size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      auto it = std::find_if(clients_.begin(), clients_.end(), [&](const Client& c) { return c.fd == fds[i].fd; });
      if (it == clients_.end()) continue;
      if (!readClient(*it)) {
        close(it->fd);
        clients_.erase(it);
      }
    }
    for (const Bytes& raw : pushes_) {
      for (const Client& c : clients_) sendRaw(c.fd, raw);
    }
    pushes_.clear();
    sendDue();
    ++passes_;
    passed_.notify_all();
  }
}

}  // namespace fake
