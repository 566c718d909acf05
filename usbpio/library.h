// One loaded instance of the USB board library: the unit table, the driver
// connection table, the serial port table and the port list, over a pipe
// driver and a set of serial ports that the owner hands in.
//
// Construction is the load (every board is found once, in the fixed order:
// pipe-link boards before serial-link ones); destruction is the unload (serial
// ports get their saved settings back, everything is closed).
//
// Threads: no method takes a lock around transfers; calls on one unit must not
// overlap. The table locks guard only registration and closing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "include/usbpio.h"
#include "usbpio/board_ids.h"
#include "usbpio/pipe_driver.h"
#include "usbpio/serial_ports.h"
#include "usbpio/unit_table.h"

namespace usbpio {

constexpr size_t kPortListLimit = 64;
constexpr size_t kConnectionSlots = 16;
constexpr unsigned kPipeTimeoutMs = 5000;
constexpr size_t kConfigurationLimit = 512;

struct DriverConnection {
  std::string path;
  int32_t device = kNoToken;  // kNoToken: free
};

struct SerialPortEntry {
  std::string description;
  std::string portName;
  int32_t port = kNoToken;  // kNoToken: free
};

// Serial time-outs: a total per transfer of a constant plus so much per byte.
// Tests shorten them; boards get the defaults.
struct SerialTimeouts {
  unsigned readConstantMs = 250;
  unsigned readPerByteMs = 250;
  unsigned writeConstantMs = 100;
  unsigned writePerByteMs = 100;

  unsigned readMs(size_t length) const { return readConstantMs + readPerByteMs * static_cast<unsigned>(length); }
  unsigned writeMs(size_t length) const {
    return writeConstantMs + writePerByteMs * static_cast<unsigned>(length);
  }
};

class Library {
 public:
  Library(PipeDriver& pipes, SerialPorts& serial, const BoardIds& ids, SerialTimeouts timeouts = {});
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Device management.
  uint32_t getDeviceCount(int32_t* count) const;
  uint32_t getDeviceInfo(uint32_t* count, UpioDeviceInfo* records) const;
  uint32_t openDevice(uint32_t* unit, const UpioDeviceInfo* info);
  uint32_t closeDevice(uint32_t unit);
  uint32_t getBoardCode(uint32_t unit, uint16_t* code) const;
  uint32_t getBoardType(uint32_t unit, uint16_t* type) const;

  // Inputs and outputs.
  uint32_t rInB(uint32_t unit, uint16_t port, uint16_t* value);
  uint32_t rInW(uint32_t unit, uint16_t port, uint16_t* value);
  uint32_t rInDW(uint32_t unit, uint32_t* value);
  uint32_t rOutB(uint32_t unit, uint16_t port, uint16_t* value);
  uint32_t rOutW(uint32_t unit, uint16_t port, uint16_t* value);
  uint32_t rOutDW(uint32_t unit, uint32_t* value);
  uint32_t wOutB(uint32_t unit, uint16_t port, uint16_t value);
  uint32_t wOutW(uint32_t unit, uint16_t port, uint16_t value);
  uint32_t wOutDW(uint32_t unit, uint32_t value);
  uint32_t inOutDW(uint32_t unit, uint32_t* inputs, uint32_t value);
  uint32_t setFilter(uint32_t unit, uint16_t portMask, uint32_t time);
  uint32_t setFilterEx(uint32_t unit, uint16_t groupMask, uint16_t setting);
  uint32_t rVersion(uint32_t unit, uint16_t* version);

  // Raw transfers.
  uint32_t usbSend(uint32_t unit, const uint8_t* buffer, uint16_t* length);
  uint32_t usbRecv(uint32_t unit, uint8_t* buffer, uint16_t* length);

  // What load found, for tests and tools.
  unsigned unitCount() const { return unitCount_; }
  const UnitEntry& unit(unsigned n) const { return units_[n]; }
  const std::vector<PortListEntry>& portList() const { return portList_; }

 private:
  enum class Direction { Out, In };
  struct PipeChoice {
    unsigned pipe;
    uint16_t statusEndpoint;
  };
  struct PipeCandidate {
    int32_t connection;
    unsigned pair;
  };
  struct SerialCandidate {
    int32_t entry;
    unsigned portNumber;
  };

  // Load (load.cpp).
  void buildPortList();
  bool discoveryPass(unsigned unit, int& member, size_t& portIndex);
  bool pipeProbe(int member, PipeCandidate* found);
  void waitUntilReady(int32_t device);
  bool checkPipeCandidate(const PipeCandidate& candidate, UnitEntry& entry);
  bool walkEndpoints(int32_t device, const uint8_t* config, size_t total, UnitEntry& entry);
  void identifyOverPipe(unsigned unit, unsigned pair);
  bool serialProbe(size_t portIndex, SerialCandidate* found);
  void identifyOverSerial(unsigned unit);
  void unload();

  // Pipe link (pipe_link.cpp).
  int32_t registerConnection(const std::string& path, int32_t device);
  void closeConnection(int32_t connection);
  int32_t deviceOf(const UnitEntry& entry) const;
  bool attached(const UnitEntry& entry);
  static bool choosePipe(const UnitEntry& entry, Direction direction, PipeChoice* choice);
  // Exactly one of outData (a write) and inData (a read) is given.
  uint32_t pipeTransfer(unsigned unit, const uint8_t* outData, uint8_t* inData, size_t length, size_t* moved);
  uint32_t pipeWrite(unsigned unit, const uint8_t* data, size_t length);
  uint32_t pipeRead(unsigned unit, uint8_t* data, size_t length);
  uint32_t pipeExchange(unsigned unit, const std::array<uint8_t, 8>& request, std::array<uint8_t, 8>* reply);

  // Serial link (serial_link.cpp).
  int32_t registerPort(const PortListEntry& listed, int32_t port);
  void closePort(int32_t entry);
  bool applyLineSettings(int32_t port);
  bool restoreLineSettings(int32_t port);
  bool probeExchange(int32_t port, const uint8_t* request, size_t length, uint8_t* reply, size_t replyLength);
  uint32_t serialWrite(unsigned unit, const uint8_t* data, size_t length);
  uint32_t serialRead(unsigned unit, uint8_t* data, size_t length);
  uint32_t serialCommand(unsigned unit, const uint8_t* request, size_t length, uint8_t* reply,
                         size_t replyLength);

  // Board I/O helpers (board_io.cpp).
  uint32_t readInputs(unsigned unit, std::array<uint8_t, 4>* inputs);
  uint32_t readOutputs(unsigned unit, std::array<uint8_t, 4>* outputs);
  uint32_t writeOutputs(unsigned unit, const std::array<uint8_t, 4>& outputs);

  PipeDriver& pipes_;
  SerialPorts& serial_;
  BoardIds ids_;
  SerialTimeouts timeouts_;

  std::array<UnitEntry, kUnitSlots> units_;
  unsigned unitCount_ = 0;
  std::vector<PortListEntry> portList_;

  std::array<DriverConnection, kConnectionSlots> connections_;
  std::mutex connectionLock_;
  std::array<SerialPortEntry, kConnectionSlots> ports_;
  std::mutex portTableLock_;
  std::mutex serialSettingsLock_;
};

}  // namespace usbpio
