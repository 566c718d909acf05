#include "netpio/library_state.h"

#include <cstdio>
#include <string>

#include "relaylink.h"

namespace netpio {
namespace {

LibraryState* g_state = nullptr;

std::string unitLockName(const Unit& unit) {
  char name[32];
  std::snprintf(name, sizeof name, "NETPIODEVMUTEX%02x%02x", unit.slot, unit.boardId);
  return name;
}

}  // namespace

LibraryState::LibraryState() {
  for (auto& s : sockets_) s.store(kNoSocket);
  // The unit locks are files made when a unit is first opened (a process
  // rarely uses more than a few of the 256); the library lock proves at load
  // that the lock directory works.
  libraryLock_ = platform::ProcessLock::open("ETHMUTEX");
  if (!libraryLock_) {
    std::fputs("DLL fatale error: Failed to create mutex. The device may not be available. "
               "(Can not open the device.)\n",
               stderr);
  }
}

LibraryState::~LibraryState() {
  // Connections still open at unload are closed here: after a dlclose the
  // process could never reach them again.
  for (auto& s : sockets_) {
    const int64_t socket = s.exchange(kNoSocket);
    if (socket != kNoSocket) rlk_close(socket);
  }
}

RelayAddress LibraryState::relay() const {
  std::lock_guard lock(relayMutex_);
  return relay_;
}

void LibraryState::setRelay(const RelayAddress& relay) {
  std::lock_guard lock(relayMutex_);
  relay_ = relay;
}

platform::ProcessLock* LibraryState::prepareUnitLock(const Unit& unit) {
  if (!libraryLock_) return nullptr;
  auto& slot = unitLocks_[unit.index()];
  if (!slot) slot = platform::ProcessLock::open(unitLockName(unit));
  return slot.get();
}

LibraryState& libraryState() { return *g_state; }

// Load and unload of the shared object, in the order the library has always
// kept: locks, then relaylink; at unload relaylink first.
__attribute__((constructor)) static void netpio_load() {
  g_state = new LibraryState();
  rlk_initialize();
}

__attribute__((destructor)) static void netpio_unload() {
  rlk_finalize();
  delete g_state;
  g_state = nullptr;
}

}  // namespace netpio
