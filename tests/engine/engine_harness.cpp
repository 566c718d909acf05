#include "tests/engine/engine_harness.h"

#include <sys/socket.h>

#include <algorithm>

#include "protocol/byte_order.h"

namespace engine_test {
namespace {

uint16_t freeUdpPort(const Ipv4Address& ip) {
  const platform::SocketHandle s = platform::openUdpSocket({ip, 0}, false);
  const uint16_t port = platform::localAddress(s).port;
  platform::closeSocket(s);
  return port;
}

}  // namespace

Bytes requestFrame(uint8_t unit, uint8_t tag, size_t payloadLength) {
  Bytes frame(8 + payloadLength, 0);
  frame[0] = unit;
  protocol::writeLe16(frame.data() + 2, static_cast<uint16_t>(payloadLength));
  if (payloadLength > 0) frame[8] = tag;
  // Payload bytes above 0x0F, so that the rest of an abandoned frame is
  // skipped rather than taken for new starts.
  for (size_t i = 9; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(0x40 + i % 0x40);
  return frame;
}

Bytes boardReply(uint8_t unit, uint8_t tag, size_t payloadLength) {
  Bytes reply(8 + payloadLength, 0);
  reply[0] = unit;
  reply[1] = tag;
  protocol::writeLe16(reply.data() + 2, static_cast<uint16_t>(payloadLength));
  for (size_t i = 8; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(0xA0 + i);
  return reply;
}

// ---------------------------------------------------------------- FakeBoard

FakeBoard::FakeBoard(Ipv4Address ipIn, uint16_t tcpPort, int8_t id, uint8_t type, MacAddress macIn)
    : ip(ipIn), boardId(id), typeCode(type), mac(macIn) {
  listener_ = platform::openTcpListener({ip, tcpPort}, 8);
  udp_ = platform::openUdpSocket({ip, 0}, false);
}

FakeBoard::~FakeBoard() {
  platform::closeSocket(listener_);
  platform::closeSocket(conn_);
  platform::closeSocket(udp_);
}

void FakeBoard::announce(const platform::SocketAddress& relayDiscovery, size_t size) {
  Bytes answer(size, 0);
  for (size_t i = 0; i < 6 && 24 + i < size; ++i) answer[24 + i] = mac[i];
  platform::sendDatagram(udp_, relayDiscovery, answer.data(), answer.size());
}

void FakeBoard::dropConnection() {
  platform::closeSocket(conn_);
  conn_ = platform::kInvalidSocket;
  inbox_.clear();
}

void FakeBoard::sendRaw(const Bytes& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const auto r = platform::sendSome(conn_, bytes.data() + sent, bytes.size() - sent);
    if (r.outcome != platform::IoOutcome::Done) break;
    sent += r.bytes;
  }
}

void FakeBoard::poll() {
  platform::SocketAddress peer;
  const platform::SocketHandle incoming = platform::acceptConnection(listener_, peer);
  if (incoming != platform::kInvalidSocket) {
    // A reconnect replaces the old connection, as a real board would.
    dropConnection();
    conn_ = incoming;
    ++accepted;
  }
  if (conn_ == platform::kInvalidSocket) return;
  uint8_t buffer[4096];
  for (;;) {
    const auto r = platform::receiveSome(conn_, buffer, sizeof buffer);
    if (r.outcome == platform::IoOutcome::Done) {
      inbox_.insert(inbox_.end(), buffer, buffer + r.bytes);
      continue;
    }
    if (r.outcome == platform::IoOutcome::Closed || r.outcome == platform::IoOutcome::Failed) dropConnection();
    break;
  }
  while (inbox_.size() >= 8) {
    const size_t length = 8 + protocol::readLe16(inbox_.data() + 2);
    if (inbox_.size() < length) break;
    Bytes frame(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(length));
    inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(length));
    requests.push_back(frame);
    handleFrame(frame);
  }
}

void FakeBoard::handleFrame(const Bytes& frame) {
  const uint8_t tag = frame.size() > 8 ? frame[8] : 0;
  Bytes reply;
  if (tag == 0xFF) {
    if (!answerIdentify) return;
    reply = boardReply(static_cast<uint8_t>(boardId), 0xFF, 16);
    reply[8] = static_cast<uint8_t>(boardId);
    reply[9] = typeCode;
  } else {
    if (!answerRequests) return;
    reply = boardReply(static_cast<uint8_t>(boardId), tag, 4);
  }
  if (splitReplyAt > 0 && splitReplyAt < reply.size()) {
    sendRaw(Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(splitReplyAt)));
    sendRaw(Bytes(reply.begin() + static_cast<std::ptrdiff_t>(splitReplyAt), reply.end()));
  } else {
    sendRaw(reply);
  }
}

// ---------------------------------------------------------------- FakeClient

FakeClient::FakeClient(uint16_t relayPort) {
  socket_ = platform::openTcpSocket();
  platform::startConnect(socket_, {Ipv4Address{{127, 0, 0, 1}}, relayPort});
}

FakeClient::~FakeClient() { platform::closeSocket(socket_); }

void FakeClient::send(const Bytes& bytes) {
  size_t sent = 0;
  // The socket buffer takes any test message whole; a few retries cover a
  // buffer that is momentarily full.
  for (int attempt = 0; sent < bytes.size() && attempt < 1000; ++attempt) {
    const auto r = platform::sendSome(socket_, bytes.data() + sent, bytes.size() - sent);
    if (r.outcome == platform::IoOutcome::Done) sent += r.bytes;
    if (r.outcome == platform::IoOutcome::Failed) break;
  }
  EXPECT_EQ(sent, bytes.size()) << "client could not send";
}

void FakeClient::poll() {
  if (!reading || socket_ == platform::kInvalidSocket) return;
  uint8_t buffer[4096];
  for (;;) {
    const auto r = platform::receiveSome(socket_, buffer, sizeof buffer);
    if (r.outcome == platform::IoOutcome::Done) {
      received.insert(received.end(), buffer, buffer + r.bytes);
      continue;
    }
    if (r.outcome == platform::IoOutcome::Closed) closedByPeer = true;
    break;
  }
}

void FakeClient::close() {
  platform::closeSocket(socket_);
  socket_ = platform::kInvalidSocket;
}

void FakeClient::setSmallSendBuffer() {
  int size = 4096;
  setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

// ---------------------------------------------------------------- fixture

void EngineFixture::SetUp() {
  shell.loop = &loop;
  settings.serverPort = 0;
  discoveryPort = freeUdpPort(relayIp);
  options.listenAddress = Ipv4Address{{127, 0, 0, 1}};
  options.boardSearchPort = discoveryPort;
  options.relayPort = freeUdpPort(relayIp);
  options.relayQueryAddress = relayIp;
  // Searches and probes go to an address where nobody listens unless a test
  // puts something there; no datagram leaves loopback.
  options.broadcastAddress = Ipv4Address{{127, 0, 0, 99}};
  options.startTimers = false;
  const Ipv4Address ip = relayIp;
  options.localAddresses = [ip](std::vector<Ipv4Address>& out) {
    out = {Ipv4Address{{127, 0, 0, 1}}, ip};
    return true;
  };
}

void EngineFixture::TearDown() {
  relay.reset();
  fakeClients.clear();
  fakeBoards.clear();
}

void EngineFixture::startEngine() {
  relay = std::make_unique<engine::Engine>(shell, settings, loop, options);
  relay->startEngine();
}

bool EngineFixture::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    for (auto& board : fakeBoards) board->poll();
    for (auto& client : fakeClients) client->poll();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    loop.runOnce(std::chrono::milliseconds(2));
  }
}

void EngineFixture::settle(int rounds) {
  for (int i = 0; i < rounds; ++i) {
    for (auto& board : fakeBoards) board->poll();
    for (auto& client : fakeClients) client->poll();
    loop.runOnce(std::chrono::milliseconds(1));
  }
}

FakeBoard& EngineFixture::addBoard(int8_t id, uint8_t type, uint8_t lastIpOctet) {
  return addBoardAt(id, type, Ipv4Address{{127, 0, 0, lastIpOctet}});
}

FakeBoard& EngineFixture::addBoardAt(int8_t id, uint8_t type, Ipv4Address ip) {
  const MacAddress mac{0x00, 0x50, static_cast<uint8_t>(0xC2 ^ ip.octets[1]), ip.octets[2], static_cast<uint8_t>(id),
                       ip.octets[3]};
  auto board = std::make_unique<FakeBoard>(ip, boardPort, id, type, mac);
  if (!board->listening()) ADD_FAILURE() << "fake board cannot listen on " << ip.toString() << ":" << boardPort;
  if (boardPort == 0) {
    // The first board picks the port; every later one listens on it too, as
    // the relay has one board port for all.
    boardPort = board->port();
    settings.boardPort = boardPort;
  }
  fakeBoards.push_back(std::move(board));
  return *fakeBoards.back();
}

void EngineFixture::connectBoard(FakeBoard& board) {
  board.announce(discoveryAddress());
  ASSERT_TRUE(pumpUntil([&] {
    const auto* r = recordOf(board);
    return r != nullptr && r->state == BoardState::Connected;
  })) << "board " << board.ip.toString() << " did not connect";
}

FakeClient& EngineFixture::connectClient() {
  const size_t before = relay->clientCount();
  fakeClients.push_back(std::make_unique<FakeClient>(relay->listenerPort()));
  // Connected and accepted, so that what the test sends next goes straight out.
  EXPECT_TRUE(pumpUntil([&] { return relay->clientCount() > before; })) << "the relay did not accept";
  return *fakeClients.back();
}

const engine::BoardRecord* EngineFixture::recordOf(const FakeBoard& board) const {
  for (const auto& record : relay->boards()) {
    if (record.ip == board.ip && record.mac == board.mac) return &record;
  }
  return nullptr;
}

FakeClient& EngineFixture::openClient(int8_t id, uint8_t type, uint8_t expectedStatus) {
  FakeClient& client = connectClient();
  client.send({0x7F, 0x71, static_cast<uint8_t>(id), type});
  EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x71, expectedStatus}));
  return client;
}

Bytes EngineFixture::take(FakeClient& client, size_t n) {
  pumpUntil([&] { return client.received.size() >= n; });
  const size_t got = std::min(n, client.received.size());
  Bytes out(client.received.begin(), client.received.begin() + static_cast<std::ptrdiff_t>(got));
  client.received.erase(client.received.begin(), client.received.begin() + static_cast<std::ptrdiff_t>(got));
  return out;
}

}  // namespace engine_test
