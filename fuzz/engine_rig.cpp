#include "fuzz/engine_rig.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "protocol/byte_order.h"

namespace fuzzing {
namespace {

constexpr int8_t kBoardId = 3;
constexpr uint8_t kBoardType = 0x12;
constexpr size_t kMacOffset = 24;

uint16_t freeUdpPort(const protocol::Ipv4Address& ip) {
  const platform::SocketHandle s = platform::openUdpSocket({ip, 0}, false);
  const uint16_t port = platform::localAddress(s).port;
  platform::closeSocket(s);
  return port;
}

}  // namespace

EngineRig::EngineRig() {
  const char* inside = std::getenv("LANRELAY_NETNS");
  if (inside == nullptr || std::strcmp(inside, "1") != 0) {
    std::fprintf(stderr, "engine fuzz targets run only inside scripts/in-netns\n");
    std::abort();
  }
  boardListener_ = platform::openTcpListener({boardIp_, 0}, 8);
  boardUdp_ = platform::openUdpSocket({boardIp_, 0}, false);
  if (boardListener_ == platform::kInvalidSocket || boardUdp_ == platform::kInvalidSocket) {
    failCheck("board sockets", __FILE__, __LINE__);
  }
  settings_.boardPort = platform::localAddress(boardListener_).port;
  settings_.serverPort = 0;
  settings_.responseTime = 0;    // one tick to answer
  settings_.nonCommTime = 1000;  // no alive requests during a run
  settings_.errorCount = 2;
  discoveryPort_ = freeUdpPort(relayIp_);
  relayPort_ = freeUdpPort(relayIp_);
  options_.listenAddress = protocol::Ipv4Address{{127, 0, 0, 1}};
  options_.boardSearchPort = discoveryPort_;
  options_.relayPort = relayPort_;
  options_.relayQueryAddress = relayIp_;
  options_.broadcastAddress = protocol::Ipv4Address{{127, 0, 0, 99}};
  options_.startTimers = false;
  const protocol::Ipv4Address ip = relayIp_;
  options_.localAddresses = [ip](std::vector<protocol::Ipv4Address>& out) {
    out = {ip};
    return true;
  };
  startEngine();
}

EngineRig::~EngineRig() {
  relay_.reset();
  platform::closeSocket(boardListener_);
  platform::closeSocket(boardConnection_);
  platform::closeSocket(boardUdp_);
}

void EngineRig::startEngine() {
  shell_.otherRelayFound = false;
  relay_ = std::make_unique<engine::Engine>(shell_, settings_, loop_, options_);
  relay_->startEngine();
}

void EngineRig::restartEngine() {
  relay_.reset();
  platform::closeSocket(boardConnection_);
  boardConnection_ = platform::kInvalidSocket;
  boardInbox_.clear();
  startEngine();
}

bool EngineRig::boardReady() {
  const auto connected = [this] {
    for (const auto& b : relay_->boards()) {
      if (b.ip == boardIp_ && b.state == engine::BoardState::Connected) return true;
    }
    return false;
  };
  if (connected()) return true;
  Bytes announce(30, 0);
  const uint8_t mac[6] = {0x00, 0x50, 0xC2, 0x00, 0x00, 0x03};
  std::memcpy(announce.data() + kMacOffset, mac, sizeof mac);
  platform::sendDatagram(boardUdp_, searchAnswerTarget(), announce.data(), announce.size());
  return pump(connected, 2000);
}

void EngineRig::pollBoard() {
  platform::SocketAddress peer;
  const platform::SocketHandle incoming = platform::acceptConnection(boardListener_, peer);
  if (incoming != platform::kInvalidSocket) {
    platform::closeSocket(boardConnection_);
    boardConnection_ = incoming;
    boardInbox_.clear();
  }
  if (boardConnection_ == platform::kInvalidSocket) return;
  uint8_t buffer[4096];
  for (;;) {
    const auto r = platform::receiveSome(boardConnection_, buffer, sizeof buffer);
    if (r.outcome == platform::IoOutcome::Done) {
      boardInbox_.insert(boardInbox_.end(), buffer, buffer + r.bytes);
      continue;
    }
    if (r.outcome == platform::IoOutcome::Closed || r.outcome == platform::IoOutcome::Failed) {
      platform::closeSocket(boardConnection_);
      boardConnection_ = platform::kInvalidSocket;
      boardInbox_.clear();
    }
    break;
  }
  while (boardInbox_.size() >= 8) {
    const size_t length = 8 + protocol::readLe16(boardInbox_.data() + 2);
    if (boardInbox_.size() < length) break;
    const Bytes frame(boardInbox_.begin(), boardInbox_.begin() + static_cast<std::ptrdiff_t>(length));
    boardInbox_.erase(boardInbox_.begin(), boardInbox_.begin() + static_cast<std::ptrdiff_t>(length));
    answer(frame);
  }
}

void EngineRig::answer(const Bytes& frame) {
  ++requestsSeen;
  const uint8_t tag = frame.size() > 8 ? frame[8] : 0;
  Bytes reply;
  if (tag == 0xFF || answers == BoardAnswers::Properly) {
    const size_t payload = tag == 0xFF ? 16 : 4;
    reply.assign(8 + payload, 0);
    reply[0] = static_cast<uint8_t>(kBoardId);
    reply[1] = tag;
    protocol::writeLe16(reply.data() + 2, static_cast<uint16_t>(payload));
    if (tag == 0xFF) {
      reply[8] = static_cast<uint8_t>(kBoardId);
      reply[9] = kBoardType;
    }
  } else {
    reply = script;
  }
  size_t sent = 0;
  while (sent < reply.size()) {
    const auto r = platform::sendSome(boardConnection_, reply.data() + sent, reply.size() - sent);
    if (r.outcome != platform::IoOutcome::Done) break;
    sent += r.bytes;
  }
}

bool EngineRig::pump(const std::function<bool()>& done, int rounds, int tickEvery) {
  for (int i = 0; i < rounds; ++i) {
    pollBoard();
    if (done()) return true;
    loop_.runOnce(std::chrono::milliseconds(i < 20 ? 0 : 1));
    if (tickEvery > 0 && i % tickEvery == tickEvery - 1) relay_->onTick();
  }
  pollBoard();
  return done();
}

platform::SocketHandle EngineRig::connectClient() {
  const size_t before = relay_->clientCount();
  const platform::SocketHandle socket = platform::openTcpSocket();
  if (socket == platform::kInvalidSocket) return socket;
  platform::startConnect(socket, {protocol::Ipv4Address{{127, 0, 0, 1}}, relay_->listenerPort()});
  if (!pump([&] { return relay_->clientCount() > before; }, 2000)) {
    platform::closeSocket(socket);
    return platform::kInvalidSocket;
  }
  return socket;
}

bool EngineRig::sendAll(platform::SocketHandle socket, const uint8_t* bytes, size_t size) {
  size_t sent = 0;
  for (int attempt = 0; sent < size && attempt < 2000; ++attempt) {
    const auto r = platform::sendSome(socket, bytes + sent, size - sent);
    if (r.outcome == platform::IoOutcome::Done) sent += r.bytes;
    else if (r.outcome == platform::IoOutcome::Failed) return false;
    else pump([] { return false; }, 1, 1);
  }
  return sent == size;
}

bool EngineRig::drain(platform::SocketHandle socket, Bytes& into) {
  uint8_t buffer[4096];
  for (;;) {
    const auto r = platform::receiveSome(socket, buffer, sizeof buffer);
    if (r.outcome == platform::IoOutcome::Done) {
      into.insert(into.end(), buffer, buffer + r.bytes);
      continue;
    }
    return r.outcome == platform::IoOutcome::WouldBlock;
  }
}

void EngineRig::closeClient(platform::SocketHandle socket) {
  const size_t before = relay_->clientCount();
  platform::closeSocket(socket);
  FUZZ_CHECK(pump([&] { return relay_->clientCount() < before; }, 5000));
}

EngineRig& engineRig() {
  static EngineRig* rig = new EngineRig();  // lives until the process ends
  return *rig;
}

}  // namespace fuzzing
