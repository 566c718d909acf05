// What netpio holds for the whole process: the relay address, the device
// table, one relay connection and one cross-process lock per unit, and the
// library lock. Made when the shared object is loaded, dropped when it is
// unloaded (netpio_load / netpio_unload in library_state.cpp).
//
// Threads: set-up calls (relay address, device list, open, close) hold
// setupMutex() for their whole run, so they never interleave inside the
// process. The I/O operations read a unit's socket and lock without it: an
// open unit's lock is made before its socket is published and lives until
// unload.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "netpio/device_table.h"
#include "netpio/relay_address.h"
#include "netpio/unit_address.h"
#include "platform/process_lock.h"

namespace netpio {

constexpr int64_t kNoSocket = -1;

class LibraryState {
 public:
  LibraryState();
  ~LibraryState();

  // False when a lock could not be prepared at load.
  bool locksAvailable() const { return libraryLock_ != nullptr; }

  std::mutex& setupMutex() { return setupMutex_; }
  RelayAddress relay() const;
  void setRelay(const RelayAddress& relay);
  DeviceTable& devices() { return devices_; }  // under setupMutex()

  int64_t socketOf(const Unit& unit) const { return sockets_[unit.index()].load(std::memory_order_acquire); }
  // Stores the unit's socket; returns the one it replaces.
  int64_t exchangeSocket(const Unit& unit, int64_t socket) {
    return sockets_[unit.index()].exchange(socket, std::memory_order_acq_rel);
  }

  // The unit's lock, made on first use (under setupMutex()); nullptr when it
  // cannot be made.
  platform::ProcessLock* prepareUnitLock(const Unit& unit);
  // The lock of a unit that is open.
  platform::ProcessLock* unitLock(const Unit& unit) const { return unitLocks_[unit.index()].get(); }

 private:
  mutable std::mutex relayMutex_;
  RelayAddress relay_;
  std::mutex setupMutex_;
  DeviceTable devices_;
  std::array<std::atomic<int64_t>, kUnitCount> sockets_;
  std::unique_ptr<platform::ProcessLock> libraryLock_;
  std::array<std::unique_ptr<platform::ProcessLock>, kUnitCount> unitLocks_;
};

// The process's state; valid between load and unload.
LibraryState& libraryState();

}  // namespace netpio
