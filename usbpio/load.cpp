// Load and unload: the port list, the discovery passes with their two probes,
// the identification exchanges, and the orderly close at unload.
#include <chrono>
#include <cstdio>
#include <thread>

#include "protocol/board_commands.h"
#include "protocol/byte_order.h"
#include "usbpio/library.h"

namespace usbpio {
namespace {

constexpr int kReadinessTries = 10;
constexpr int kResetTries = 10;
constexpr auto kReadinessPause = std::chrono::milliseconds(10);

constexpr uint8_t kLayoutOfPair[2][2] = {{0x02, 0x86}, {0x81, 0x02}};

std::string mutexNameOf(unsigned unit) {
  char name[16];
  std::snprintf(name, sizeof name, "USBMUTEX%02u", unit);
  return name;
}

// The probe's reply carries the port signature at fixed places.
bool signatureMatches(const uint8_t* reply) {
  return reply[1] == 'T' && reply[5] == 'V' && reply[11] == 'K' && reply[2] == 'P' && reply[4] == '2' &&
         reply[6] == '7' && reply[8] == '2';
}

}  // namespace

Library::Library(PipeDriver& pipes, SerialPorts& serial, const BoardIds& ids, SerialTimeouts timeouts)
    : pipes_(pipes), serial_(serial), ids_(ids), timeouts_(timeouts) {
  buildPortList();
  for (unsigned n = 0; n < kUnitSlots; ++n) {
    units_[n] = UnitEntry{};
    units_[n].mutexName = mutexNameOf(n);
  }
  int member = 0;
  size_t portIndex = 0;
  unsigned found = 0;
  for (unsigned pass = 0; pass < kUnitSlots; ++pass) {
    if (discoveryPass(found, member, portIndex)) ++found;
  }
  unitCount_ = found;
}

Library::~Library() { unload(); }

void Library::buildPortList() { portList_ = serial_.listPorts(kPortListLimit); }

bool Library::discoveryPass(unsigned unit, int& member, size_t& portIndex) {
  PipeCandidate pipe{};
  const bool pipeFound = pipeProbe(member, &pipe);
  ++member;
  if (!pipeFound) {
    SerialCandidate port{};
    const size_t k = portIndex++;
    if (!serialProbe(k, &port)) return false;
    UnitEntry& entry = units_[unit];
    entry.connection = port.entry;
    entry.boardId = kUnidentifiedBoard;
    entry.pipeCount = 1;
    entry.endpointAddress = {};
    entry.maxPacketSize = {};
    entry.boardTypeCode = {};
    entry.pipeHandle = UnitEntry::filledHandles();
    entry.endpointAddress[0] = static_cast<uint16_t>(k);
    entry.maxPacketSize[0] = static_cast<uint16_t>(port.portNumber);
    entry.pipeHandle[0] = handleOf(ports_[static_cast<size_t>(port.entry)].port);
    identifyOverSerial(unit);
    return true;
  }
  UnitEntry candidate;
  candidate.mutexName = units_[unit].mutexName;
  if (!checkPipeCandidate(pipe, candidate)) {
    // Pipes opened before the check failed belong to no unit: close them now
    // rather than leak them until the process ends.
    for (uint32_t handle : candidate.pipeHandle) {
      if (handle != kInvalidHandle) pipes_.closePipe(tokenOf(handle));
    }
    closeConnection(pipe.connection);
    return false;
  }
  candidate.connection = pipe.connection;
  candidate.boardId = kUnidentifiedBoard;
  units_[unit] = candidate;
  identifyOverPipe(unit, pipe.pair);
  return true;
}

bool Library::pipeProbe(int member, PipeCandidate* found) {
  const auto path = pipes_.interfacePath(member);
  if (!path) return false;
  const int32_t device = pipes_.openDevice(*path);
  if (device == kNoToken) return false;
  waitUntilReady(device);

  uint8_t descriptor[18] = {};
  if (!pipes_.getDescriptor(device, kDeviceDescriptor, descriptor, sizeof descriptor)) {
    pipes_.closeDevice(device);
    return false;
  }
  const uint16_t vendor = protocol::readLe16(descriptor + 8);
  const uint16_t product = protocol::readLe16(descriptor + 10);
  for (unsigned pair = 0; pair < 2; ++pair) {
    if (vendor != ids_.pair[pair].vendor || product != ids_.pair[pair].product) continue;
    const int32_t connection = registerConnection(*path, device);
    if (connection < 0) break;
    *found = PipeCandidate{connection, pair};
    return true;
  }
  pipes_.closeDevice(device);
  return false;
}

// A board that has just been plugged in may not answer at once; a few resets
// usually bring it round. The probe goes on either way.
void Library::waitUntilReady(int32_t device) {
  for (int attempt = 0; attempt < kReadinessTries; ++attempt) {
    uint16_t status = 0;
    if (pipes_.getStatus(device, kRecipientDevice, 0, &status)) return;
    std::this_thread::sleep_for(kReadinessPause);
    for (int reset = 0; reset < kResetTries; ++reset) {
      if (pipes_.resetDevice(device)) break;
      std::this_thread::sleep_for(kReadinessPause);
    }
  }
}

bool Library::checkPipeCandidate(const PipeCandidate& candidate, UnitEntry& entry) {
  entry.connection = candidate.connection;
  if (!attached(entry)) return false;
  const int32_t device = deviceOf(entry);

  uint8_t header[9] = {};
  if (!pipes_.getDescriptor(device, kConfigurationDescriptor, header, sizeof header)) return false;
  const size_t total = protocol::readLe16(header + 2);
  // The configuration is kept in a fixed buffer; a board announcing more is
  // not one of ours.
  if (total <= sizeof header || total > kConfigurationLimit) return false;
  uint8_t config[kConfigurationLimit] = {};
  if (!pipes_.getDescriptor(device, kConfigurationDescriptor, config, total)) return false;
  // The first descriptor after the header must be interface 0.
  if (total < sizeof header + 3 || config[9] < 3 || config[10] != 4 || config[11] != 0) return false;
  if (!walkEndpoints(device, config, total, entry)) return false;

  if (entry.pipeCount < 2) return false;
  return entry.endpointAddress[0] == kLayoutOfPair[candidate.pair][0] &&
         entry.endpointAddress[1] == kLayoutOfPair[candidate.pair][1];
}

bool Library::walkEndpoints(int32_t device, const uint8_t* config, size_t total, UnitEntry& entry) {
  size_t offset = 9;
  while (offset < total) {
    const size_t length = config[offset];
    // A zero length would never move on, and one that runs past the end
    // would read bytes that are not there: both make the board unusable.
    if (length < 2 || offset + length > total) return false;
    if (config[offset + 1] == 5) {
      if (length < 7 || entry.pipeCount >= kMaxPipes) return false;
      const int32_t pipe = pipes_.openPipe(device, entry.pipeCount);
      if (pipe == kNoToken) return false;
      const unsigned i = entry.pipeCount++;
      entry.pipeHandle[i] = handleOf(pipe);
      entry.endpointAddress[i] = config[offset + 2];
      entry.maxPacketSize[i] = protocol::readLe16(config + offset + 4);
      entry.boardTypeCode[i] = 0;
    }
    offset += length;
  }
  return true;
}

void Library::identifyOverPipe(unsigned unit, unsigned pair) {
  UnitEntry& entry = units_[unit];
  entry.linkState = kPipeLinkOpen;
  const std::array<uint8_t, 8> request = {0x08, 0, 0, 0, 0, 0, 0, 0};
  std::array<uint8_t, 8> reply{};
  if (pipeWrite(unit, request.data(), request.size()) == UPIO_OK &&
      pipeRead(unit, reply.data(), reply.size()) == UPIO_OK) {
    const bool signed_ = reply[1] == 'T' && reply[2] == 'V' && reply[3] == 'K';
    if (pair == 0 || signed_) entry.boardId = reply[0];
  }
  entry.linkState = kLinkClosed;
}

bool Library::serialProbe(size_t portIndex, SerialCandidate* found) {
  if (portIndex >= portList_.size()) return false;
  const PortListEntry& listed = portList_[portIndex];
  if (listed.description.find(kBridgeDescription) == std::string::npos) return false;
  const int32_t port = serial_.open(listed.portName);
  if (port == kNoToken) return false;
  bool saved;
  {
    std::lock_guard<std::mutex> hold(serialSettingsLock_);
    saved = serial_.saveSettings(port);
  }
  if (!saved || !applyLineSettings(port)) {
    serial_.close(port);
    return false;
  }
  const auto request = protocol::portProbePayload();
  uint8_t reply[17] = {};
  if (!probeExchange(port, request.bytes.data(), request.size, reply, sizeof reply) || !signatureMatches(reply)) {
    restoreLineSettings(port);
    serial_.close(port);
    return false;
  }
  const int32_t entry = registerPort(listed, port);
  if (entry < 0) {
    restoreLineSettings(port);
    serial_.close(port);
    return false;
  }
  const unsigned number = serial_.portNumber(listed.portName);
  if (number == 0) {
    restoreLineSettings(port);
    closePort(entry);
    return false;
  }
  *found = SerialCandidate{entry, number};
  return true;
}

void Library::identifyOverSerial(unsigned unit) {
  UnitEntry& entry = units_[unit];
  entry.linkState = kSerialLinkOpen;
  const auto request = protocol::identifyPayload();
  uint8_t reply[16] = {};
  if (serialCommand(unit, request.bytes.data(), request.size, reply, sizeof reply) == UPIO_OK) {
    entry.boardId = reply[0];
    entry.boardTypeCode[0] = reply[1];
  }
  entry.linkState = kLinkClosed;
}

void Library::unload() {
  for (unsigned n = 0; n < unitCount_; ++n) {
    UnitEntry& entry = units_[n];
    if (entry.linkState == kPipeLinkOpen) {
      for (unsigned i = 0; i < entry.pipeCount; ++i) {
        if (entry.pipeHandle[i] == kInvalidHandle) continue;
        pipes_.closePipe(tokenOf(entry.pipeHandle[i]));
        entry.pipeHandle[i] = kInvalidHandle;
      }
      closeConnection(entry.connection);
    } else if (entry.linkState == kSerialLinkOpen) {
      restoreLineSettings(tokenOf(entry.pipeHandle[0]));
      closePort(entry.connection);
    }
  }
  // A closed unit keeps its pipes open; they go with their connection.
  for (unsigned n = 0; n < unitCount_; ++n) {
    UnitEntry& entry = units_[n];
    if (entry.pipeCount < 2) continue;
    for (unsigned i = 0; i < entry.pipeCount; ++i) {
      if (entry.pipeHandle[i] != kInvalidHandle) pipes_.closePipe(tokenOf(entry.pipeHandle[i]));
      entry.pipeHandle[i] = kInvalidHandle;
    }
  }
  for (size_t c = 0; c < connections_.size(); ++c) {
    if (connections_[c].device != kNoToken) closeConnection(static_cast<int32_t>(c));
  }
  for (size_t p = 0; p < ports_.size(); ++p) {
    if (ports_[p].port == kNoToken) continue;
    // Give every port we changed its settings back, also those of units that
    // were closed at unload: the settings belong to the user.
    restoreLineSettings(ports_[p].port);
    closePort(static_cast<int32_t>(p));
  }
}

}  // namespace usbpio
