#include "tools/boardsim/simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>

#include "tools/boardsim/search_answer.h"

namespace boardsim {
namespace {

// Gap between the two halves of a split reply: long enough that they leave as
// two TCP segments and reach the relay in two reads.
constexpr uint32_t kSplitGapMs = 30;
constexpr size_t kReceiveChunk = 1024;

sockaddr_in socketAddress(const protocol::Ipv4Address& address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  std::memcpy(&sa.sin_addr.s_addr, address.octets.data(), 4);  // octets are in wire order already
  return sa;
}

uint16_t boundPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

void setFlag(int fd, int level, int option) {
  const int one = 1;
  setsockopt(fd, level, option, &one, sizeof one);
}

std::string hexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  char item[4];
  for (uint8_t b : bytes) {
    std::snprintf(item, sizeof item, "%02X ", b);
    text += item;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

std::string hex32(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

}  // namespace

Simulator::Simulator(SimulatorOptions options, int controlIn, int controlOut)
    : options_(std::move(options)), controlIn_(controlIn), controlOut_(controlOut) {
  for (const BoardSetup& setup : options_.boards) {
    Board& board = boards_.emplace_back(setup);
    board.model.setVersion(setup.version[0], setup.version[1]);
  }
}

Simulator::~Simulator() {
  for (size_t i = 0; i < boards_.size(); ++i) closeBoardSockets(i);
  if (searchFd_ >= 0) close(searchFd_);
}

bool Simulator::openSearchSocket(std::string& error) {
  searchFd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (searchFd_ < 0) {
    error = std::string("cannot create the search socket: ") + std::strerror(errno);
    return false;
  }
  // The relay's own discovery sockets may share the port in the same namespace.
  setFlag(searchFd_, SOL_SOCKET, SO_REUSEADDR);
  setFlag(searchFd_, SOL_SOCKET, SO_BROADCAST);
  // The search is a broadcast, so only a wildcard bind receives it.
  const sockaddr_in sa = socketAddress(protocol::Ipv4Address{}, options_.searchPort);
  if (bind(searchFd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    error = "cannot listen for the board search on UDP port " + std::to_string(options_.searchPort) + ": " +
            std::strerror(errno);
    return false;
  }
  searchPort_ = boundPort(searchFd_);
  if (!loop_.watch(searchFd_, true, false, [this](platform::Readiness) { onSearchReadable(); })) {
    error = "cannot watch the search socket";
    return false;
  }
  return true;
}

bool Simulator::openListener(size_t index, std::string& error) {
  Board& board = boards_[index];
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("cannot create a TCP socket: ") + std::strerror(errno);
    return false;
  }
  // A replugged board takes its port back at once, despite old TIME_WAIT entries.
  setFlag(fd, SOL_SOCKET, SO_REUSEADDR);
  const uint16_t port = board.port ? board.port : options_.boardPort;
  const sockaddr_in sa = socketAddress(board.setup.identity.address, port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 8) != 0) {
    const int err = errno;
    close(fd);
    error = "board " + std::to_string(index) + ": cannot listen on " + board.setup.identity.address.toString() +
            " port " + std::to_string(port) + ": " + std::strerror(err);
    if (err == EADDRNOTAVAIL)
      error += " (the address must be on an interface of this host, e.g. ip addr add " +
               board.setup.identity.address.toString() + "/24 dev IFACE)";
    return false;
  }
  board.listenFd = fd;
  board.port = boundPort(fd);
  loop_.watch(fd, true, false, [this, index](platform::Readiness) { onListenerReadable(index); });
  return true;
}

void Simulator::closeConnection(size_t index, uint64_t connectionId) {
  Board& board = boards_[index];
  auto it = board.connections.find(connectionId);
  if (it == board.connections.end()) return;
  loop_.unwatch(it->second.fd);
  close(it->second.fd);
  board.connections.erase(it);
}

void Simulator::closeBoardSockets(size_t index) {
  Board& board = boards_[index];
  while (!board.connections.empty()) closeConnection(index, board.connections.begin()->first);
  if (board.listenFd >= 0) {
    loop_.unwatch(board.listenFd);
    close(board.listenFd);
    board.listenFd = -1;
  }
}

bool Simulator::start(std::string& error) {
  if (!loop_.valid()) {
    error = std::string("cannot create the event loop: ") + std::strerror(errno);
    return false;
  }
  bool ok = openSearchSocket(error);
  for (size_t i = 0; ok && i < boards_.size(); ++i) ok = openListener(i, error);
  if (!ok) {
    for (size_t i = 0; i < boards_.size(); ++i) closeBoardSockets(i);
    if (searchFd_ >= 0) {
      loop_.unwatch(searchFd_);
      close(searchFd_);
      searchFd_ = -1;
    }
    return false;
  }
  for (size_t i = 0; i < boards_.size(); ++i) applyInputs(i, boards_[i].setup.inputs);
  if (controlIn_ >= 0) {
    fcntl(controlIn_, F_SETFL, fcntl(controlIn_, F_GETFL) | O_NONBLOCK);
    // A control input that cannot be watched (a regular file, /dev/null) just means no control.
    loop_.watch(controlIn_, true, false, [this](platform::Readiness) { onControlReadable(); });
  }
  say("search port " + std::to_string(searchPort_));
  for (size_t i = 0; i < boards_.size(); ++i) say(describe(i));
  say("ready");
  return true;
}

void Simulator::addStopFd(int fd) {
  loop_.watch(fd, true, false, [this](platform::Readiness) { loop_.stop(); });
}

void Simulator::run() { loop_.run(); }

void Simulator::onSearchReadable() {
  uint8_t buffer[kReceiveChunk];
  for (;;) {
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = recvfrom(searchFd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) return;
    if (!isBoardSearch({buffer, static_cast<size_t>(n)})) continue;
    for (size_t i = 0; i < boards_.size(); ++i) {
      if (boards_[i].plugged && !boards_[i].setup.faults.noSearch) answerSearch(i, from);
    }
  }
}

void Simulator::answerSearch(size_t index, const sockaddr_in& searcher) {
  const Board& board = boards_[index];
  const SearchAnswer answer = buildSearchAnswer(board.model.identity());
  // Every board answers from its own address: the relay takes the sender
  // address of the answer as the board's address. IP_PKTINFO picks the source
  // address per datagram, so one wildcard socket serves all boards.
  iovec io{const_cast<uint8_t*>(answer.data()), answer.size()};
  alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  sockaddr_in to = searcher;
  msghdr message{};
  message.msg_name = &to;
  message.msg_namelen = sizeof to;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = IPPROTO_IP;
  header->cmsg_type = IP_PKTINFO;
  header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  in_pktinfo info{};
  std::memcpy(&info.ipi_spec_dst.s_addr, board.setup.identity.address.octets.data(), 4);
  std::memcpy(CMSG_DATA(header), &info, sizeof info);
  const bool sent = sendmsg(searchFd_, &message, 0) >= 0;
  if (!options_.verbose) return;
  char searcherText[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &searcher.sin_addr, searcherText, sizeof searcherText);
  if (sent)
    std::cerr << "boardsim: board " << index << ": answered the search of " << searcherText << "\n";
  else
    std::cerr << "boardsim: board " << index << ": search answer to " << searcherText
              << " not sent: " << std::strerror(errno) << "\n";
}

void Simulator::onListenerReadable(size_t index) {
  Board& board = boards_[index];
  for (;;) {
    const int fd = accept4(board.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    // Without it a split reply could be coalesced again, and small replies wait.
    setFlag(fd, IPPROTO_TCP, TCP_NODELAY);
    const uint64_t id = nextConnectionId_++;
    board.connections[id].fd = fd;
    loop_.watch(fd, true, false, [this, index, id](platform::Readiness) { onConnectionReadable(index, id); });
    if (options_.verbose) std::cerr << "boardsim: board " << index << ": connection accepted\n";
  }
}

void Simulator::onConnectionReadable(size_t index, uint64_t connectionId) {
  auto it = boards_[index].connections.find(connectionId);
  if (it == boards_[index].connections.end()) return;
  uint8_t buffer[kReceiveChunk];
  const ssize_t n = recv(it->second.fd, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) {
    if (options_.verbose) std::cerr << "boardsim: board " << index << ": connection closed by the peer\n";
    closeConnection(index, connectionId);
    return;
  }
  const auto frames = it->second.assembler.feed({buffer, static_cast<size_t>(n)});
  for (const auto& frame : frames) {
    // A frame may close the connection (drop fault); stop at once if it did.
    if (!boards_[index].connections.count(connectionId)) return;
    onFrame(index, connectionId, frame);
  }
}

void Simulator::onFrame(size_t index, uint64_t connectionId, const std::vector<uint8_t>& frame) {
  Board& board = boards_[index];
  Connection& connection = board.connections.at(connectionId);
  logFrame(index, "<-", frame);
  ++connection.framesReceived;
  if (board.setup.faults.dropAfter && connection.framesReceived >= board.setup.faults.dropAfter) {
    if (options_.verbose) std::cerr << "boardsim: board " << index << ": dropping the connection (fault)\n";
    closeConnection(index, connectionId);
    return;
  }
  if (board.setup.faults.silent) return;
  FrameResult result = board.model.handleFrame(frame);
  if (result.outcome == FrameOutcome::Replied) {
    deliver(index, connectionId, std::move(result.reply));
  } else if (options_.verbose) {
    std::cerr << "boardsim: board " << index << ": no answer ("
              << (result.outcome == FrameOutcome::NotForUs ? "unit byte names another board" : "unknown command")
              << ")\n";
  }
}

void Simulator::deliver(size_t index, uint64_t connectionId, std::vector<uint8_t> reply) {
  const uint32_t delay = boards_[index].setup.faults.slowMs;
  if (delay == 0) {
    sendNow(index, connectionId, reply);
    return;
  }
  after(delay, [this, index, connectionId, reply = std::move(reply)] { sendNow(index, connectionId, reply); });
}

void Simulator::sendNow(size_t index, uint64_t connectionId, const std::vector<uint8_t>& bytes) {
  Board& board = boards_[index];
  auto it = board.connections.find(connectionId);
  if (it == board.connections.end()) return;  // closed while the reply waited
  logFrame(index, "->", bytes);
  size_t first = bytes.size();
  if (board.setup.faults.split && bytes.size() > 1) first = bytes.size() / 2;
  // Replies are a few bytes and the relay reads them at once; a socket buffer
  // that is full means the peer is gone, and the reply is dropped with it.
  if (send(it->second.fd, bytes.data(), first, MSG_NOSIGNAL) < 0 && options_.verbose)
    std::cerr << "boardsim: board " << index << ": send failed: " << std::strerror(errno) << "\n";
  if (first < bytes.size()) {
    std::vector<uint8_t> rest(bytes.begin() + static_cast<long>(first), bytes.end());
    after(kSplitGapMs, [this, index, connectionId, rest = std::move(rest)] {
      auto again = boards_[index].connections.find(connectionId);
      if (again != boards_[index].connections.end()) send(again->second.fd, rest.data(), rest.size(), MSG_NOSIGNAL);
    });
  }
}

void Simulator::applyInputs(size_t index, const InputSetup& inputs) {
  Board& board = boards_[index];
  board.setup.inputs = inputs;
  board.model.setInputMode(inputs.mode);
  board.model.setInputValue(inputs.value);
  if (board.inputTimer != platform::kNoTimer) loop_.cancelTimer(board.inputTimer);
  board.inputTimer = platform::kNoTimer;
  if (inputs.mode == InputMode::Counter)
    board.inputTimer = loop_.addTimer(std::chrono::milliseconds(inputs.periodMs),
                                      [this, index] { boards_[index].model.onInputTick(); });
}

void Simulator::after(uint32_t delayMs, std::function<void()> callback) {
  // A periodic timer that cancels itself on its first expiry.
  auto id = std::make_shared<platform::TimerId>(platform::kNoTimer);
  *id = loop_.addTimer(std::chrono::milliseconds(delayMs), [this, id, callback = std::move(callback)] {
    loop_.cancelTimer(*id);
    callback();
  });
}

void Simulator::say(const std::string& line) {
  if (controlOut_ < 0) return;
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(controlOut_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void Simulator::logFrame(size_t index, const char* direction, const std::vector<uint8_t>& bytes) {
  if (options_.verbose) std::cerr << "boardsim: board " << index << " " << direction << " " << hexBytes(bytes) << "\n";
}

std::string Simulator::describe(size_t index) const {
  const Board& board = boards_[index];
  const BoardIdentity& identity = board.model.identity();
  char type[8];
  std::snprintf(type, sizeof type, "0x%02x", identity.typeCode);
  std::ostringstream out;
  out << "board " << index << " ip " << identity.address.toString() << " port " << board.port << " id "
      << static_cast<int>(identity.boardId) << " type " << type << " mac " << protocol::macToString(identity.mac)
      << (board.plugged ? " plugged" : " unplugged") << " connections " << board.connections.size() << " outputs "
      << hex32(board.model.outputs()) << " inputs " << hex32(board.model.inputs()) << " ("
      << describeInputs(board.setup.inputs) << ") fault " << describeFaults(board.setup.faults);
  return out.str();
}

int Simulator::findBoard(const std::string& text) const {
  if (const auto address = parseIpv4(text)) {
    for (size_t i = 0; i < boards_.size(); ++i)
      if (boards_[i].setup.identity.address == *address) return static_cast<int>(i);
    return -1;
  }
  const auto index = parseNumber(text, 0xFFFF);
  return index && *index < boards_.size() ? static_cast<int>(*index) : -1;
}

std::string Simulator::obey(const std::string& line) {
  std::istringstream in(line);
  std::string verb, target, argument;
  in >> verb >> target >> argument;
  if (verb.empty()) return "";
  if (verb == "quit") {
    loop_.stop();
    return "ok quit";
  }
  if (verb == "status") {
    std::string text;
    for (size_t i = 0; i < boards_.size(); ++i) text += (i ? "\n" : "") + describe(i);
    return text + (boards_.empty() ? "" : "\n") + "ok status";
  }
  if (verb != "unplug" && verb != "plug" && verb != "inputs" && verb != "fault" && verb != "id")
    return "error unknown command '" + verb + "' (unplug, plug, inputs, fault, id, status, quit)";
  const int index = findBoard(target);
  if (index < 0) return "error no board '" + target + "'";
  const size_t i = static_cast<size_t>(index);
  Board& board = boards_[i];
  std::string error;
  if (verb == "unplug") {
    closeBoardSockets(i);
    board.plugged = false;
  } else if (verb == "plug") {
    if (!board.plugged) {
      if (!openListener(i, error)) return "error " + error;
      board.plugged = true;
    }
  } else if (verb == "inputs") {
    InputSetup inputs;
    if (!parseInputs(argument, inputs, error)) return "error " + error;
    applyInputs(i, inputs);
  } else if (verb == "fault") {
    Faults faults;
    if (!parseFaults(argument, faults, error)) return "error " + error;
    board.setup.faults = faults;
  } else if (verb == "id") {
    const auto id = parseNumber(argument, 15);
    if (!id) return "error id needs a Board ID from 0 to 15";
    board.model.setBoardId(static_cast<uint8_t>(*id));
  }
  return "ok " + verb + " " + std::to_string(i);
}

void Simulator::onControlReadable() {
  char buffer[512];
  const ssize_t n = read(controlIn_, buffer, sizeof buffer);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    // End of the control input: keep serving the boards (a background run
    // with stdin closed is normal); only stop listening to it.
    loop_.unwatch(controlIn_);
    return;
  }
  controlBuffer_.append(buffer, static_cast<size_t>(n));
  size_t end;
  while ((end = controlBuffer_.find('\n')) != std::string::npos) {
    const std::string line = controlBuffer_.substr(0, end);
    controlBuffer_.erase(0, end + 1);
    const std::string answer = obey(line);
    if (!answer.empty()) say(answer);
  }
  if (controlBuffer_.size() > 4096) controlBuffer_.clear();  // not a line-oriented sender
}

}  // namespace boardsim
