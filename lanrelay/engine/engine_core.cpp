#include "lanrelay/engine/engine_core.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "platform/local_addresses.h"

namespace engine {
namespace {

constexpr auto kTickPeriod = std::chrono::milliseconds(100);
// A search period of zero or less would broadcast as fast as the loop spins;
// the period never goes below one second.
constexpr int32_t kShortestSearchSeconds = 1;

bool isLoopbackHost(const Ipv4Address& ip) { return ip == Ipv4Address{{127, 0, 0, 1}}; }

}  // namespace

// ---------------------------------------------------------------- Engine

Engine::Engine(ShellServices& shell, const RelaySettings& settings, platform::EventLoop& loop,
               EngineOptions options)
    : core_(std::make_unique<EngineCore>(shell, settings, loop, std::move(options))) {}
Engine::~Engine() = default;
void Engine::startEngine() { core_->startEngine(); }
void Engine::onConfigChanged(const RelaySettings& oldSettings, const RelaySettings& newSettings) {
  core_->onConfigChanged(oldSettings, newSettings);
}
void Engine::closeNicSockets() { core_->closeNicSockets(); }
void Engine::onTick() { core_->onTick(); }
void Engine::onSearchTimer() { core_->onSearchTimer(); }
const std::vector<BoardRecord>& Engine::boards() const { return core_->boards(); }
const std::vector<NicEntry>& Engine::nics() const { return core_->nics(); }
size_t Engine::clientCount() const { return core_->clientCount(); }
const ClientRecord* Engine::findClient(SocketHandle socket) const { return core_->findClient(socket); }
void Engine::forEachClient(const std::function<void(SocketHandle, const ClientRecord&)>& visit) const {
  core_->forEachClient(visit);
}
bool Engine::stopped() const { return core_->stopped(); }
uint16_t Engine::listenerPort() const { return core_->listenerPort(); }
uint16_t Engine::packedVersion() {
  return protocol::packVersion(LANRELAY_VERSION_MAJOR, LANRELAY_VERSION_MINOR, LANRELAY_VERSION_PATCH,
                               LANRELAY_VERSION_TWEAK);
}

// ---------------------------------------------------------------- EngineCore

EngineCore::EngineCore(ShellServices& shell, const RelaySettings& settings, platform::EventLoop& loop,
                       EngineOptions options)
    : refreshBudget_(shell, boardTable_),
      shell_(refreshBudget_),
      settings_(settings),
      loop_(loop),
      options_(std::move(options)) {}

EngineCore::~EngineCore() {
  if (tickTimer_ != platform::kNoTimer) loop_.cancelTimer(tickTimer_);
  if (searchTimer_ != platform::kNoTimer) loop_.cancelTimer(searchTimer_);
  closeNicSockets();
  closeListener();
  if (relayQuerySocket_ != kInvalidSocket) forgetSocket(relayQuerySocket_);
  for (BoardRecord& board : boardTable_) dropBoardSocket(board);
  for (auto& [socket, client] : clientMap_) forgetSocket(socket);
  clientMap_.clear();
}

void EngineCore::startEngine() {
  if (started_) return;
  started_ = true;
  initNicTable();
  openListener();
  searchBoards();
  openRelayResponder();
  if (options_.startTimers) {
    tickTimer_ = loop_.addTimer(kTickPeriod, [this] { onTick(); });
    startSearchTimer();
  }
}

void EngineCore::startSearchTimer() {
  const auto period = std::chrono::seconds(std::max(settings_.aliveTime, kShortestSearchSeconds));
  if (searchTimer_ == platform::kNoTimer) {
    searchTimer_ = loop_.addTimer(period, [this] { onSearchTimer(); });
  } else {
    loop_.restartTimer(searchTimer_, period);
  }
}

void EngineCore::onConfigChanged(const RelaySettings& oldSettings, const RelaySettings& newSettings) {
  // The board port and the supervision values are read at each use.
  if (oldSettings.aliveTime != newSettings.aliveTime && searchTimer_ != platform::kNoTimer) startSearchTimer();
  if (oldSettings.serverPort != newSettings.serverPort) {
    closeListener();
    openListener();
  }
}

void EngineCore::onTick() {
  refreshBudget_.startTick();
  if (stopped_) return;
  refreshNicTable();
  bool changed = false;
  for (size_t i = 0; i < boardTable_.size(); ++i) changed |= boardTickWork(i);
  if (changed) shell_.refreshStatusList();
  ++duplicateIpTicks_;
  ++duplicateIdTicks_;
}

void EngineCore::onSearchTimer() {
  if (stopped_) return;
  searchBoards();
}

const ClientRecord* EngineCore::findClient(SocketHandle socket) const {
  auto it = clientMap_.find(socket);
  return it == clientMap_.end() ? nullptr : &it->second;
}

uint16_t EngineCore::listenerPort() const {
  return listenSocket_ == kInvalidSocket ? 0 : platform::localAddress(listenSocket_).port;
}

int32_t EngineCore::responseTicks() const { return settings_.responseTime / 100 + 1; }

int32_t EngineCore::aliveTicks() const {
  // Settings are used unchecked; a huge NON_COMM_TIME saturates rather than
  // overflowing into a negative countdown.
  const int64_t ticks = static_cast<int64_t>(settings_.nonCommTime) * 10;
  return static_cast<int32_t>(std::clamp<int64_t>(ticks, INT32_MIN, INT32_MAX));
}

// ---------------------------------------------------------------- local addresses

bool EngineCore::readLocalAddresses(std::vector<Ipv4Address>& out) const {
  out.clear();
  if (options_.localAddresses) return options_.localAddresses(out);
  std::vector<platform::LocalAddress> table;
  if (!platform::listLocalAddresses(table)) return false;
  for (const platform::LocalAddress& entry : table) out.push_back(entry.address);
  return true;
}

void EngineCore::initNicTable() {
  closeNicSockets();
  if (!readLocalAddresses(addressScratch_)) return;
  for (const Ipv4Address& ip : addressScratch_) {
    if (!isLoopbackHost(ip)) nicTable_.push_back(NicEntry{ip, kInvalidSocket, kInvalidSocket});
  }
}

void EngineCore::refreshNicTable() {
  if (!readLocalAddresses(addressScratch_)) return;
  for (const Ipv4Address& ip : addressScratch_) {
    if (isLoopbackHost(ip)) continue;
    const bool known =
        std::any_of(nicTable_.begin(), nicTable_.end(), [&](const NicEntry& e) { return e.ip == ip; });
    if (!known) nicTable_.push_back(NicEntry{ip, kInvalidSocket, kInvalidSocket});
  }
}

void EngineCore::closeNicSockets() {
  for (NicEntry& entry : nicTable_) {
    if (entry.discoverySocket != kInvalidSocket) forgetSocket(entry.discoverySocket);
    if (entry.probeSocket != kInvalidSocket) forgetSocket(entry.probeSocket);
  }
  nicTable_.clear();
}

// ---------------------------------------------------------------- debug log

void EngineCore::debugBytes(int tag, const Ipv4Address& from, const Ipv4Address& to, const uint8_t* bytes,
                            size_t count) {
  if (!shell_.debugLogEnabled()) return;
  shell_.writeDebugLog(tag, from, to, bytes, static_cast<int>(count));
}

void EngineCore::debugCode(int tag, const Ipv4Address& from, const Ipv4Address& to, int code) {
  if (!shell_.debugLogEnabled()) return;
  shell_.writeDebugLog(tag, from, to, nullptr, code);
}

}  // namespace engine
