// A scripted board driver for the pipe link: boards that answer the 8-byte
// pipe commands, with the faults the library must survive (halted endpoints,
// unplugged boards, transfers that never complete, bad descriptors). Every
// call is logged so tests can check the exact bytes and the recovery steps.
#pragma once

#include <array>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "usbpio/pipe_driver.h"

namespace usbpio_test {

struct FakeEndpoint {
  uint8_t address;
  uint16_t maxPacket;
};

// Layout of pair 0 (OUT 0x02 on pipe 0, IN 0x86 on pipe 1) and pair 1.
std::vector<FakeEndpoint> layoutA();
std::vector<FakeEndpoint> layoutB();

struct PipeWriteRecord {
  int pipe;
  std::vector<uint8_t> bytes;
  unsigned timeoutMs;
};

struct FakeBoard {
  uint16_t vendor = 0;
  uint16_t product = 0;
  std::vector<FakeEndpoint> endpoints;
  uint8_t boardId = 1;
  std::array<uint8_t, 3> signature = {'T', 'V', 'K'};
  uint32_t inputs = 0;
  std::array<uint8_t, 4> outputs{};

  // Faults.
  bool attached = true;
  bool openFails = false;
  bool pipeOpenFails = false;
  int statusFailures = 0;  // device GetStatus fails this many times first
  int resetFailures = 0;   // ResetDevice fails this many times first
  bool silentIdentify = false;
  bool neverCompletes = false;  // every transfer times out
  bool failTransfers = false;   // transfers fail though nothing is halted
  bool statusFailsAfterTransfer = false;
  bool unplugDuringTransfer = false;  // the transfer fails because the board just went
  std::set<uint8_t> halted;     // endpoint addresses
  std::vector<uint8_t> rawConfig;  // replaces the generated configuration descriptor
  bool keepOutputsOnExchange = false;  // outputs driven elsewhere: exchanges do not set them
  size_t shortReply = 0;           // when non-zero, replies are cut to this many bytes

  // What happened.
  std::vector<PipeWriteRecord> writes;
  std::vector<int> reads;       // pipe numbers read from
  std::vector<unsigned> readTimeouts;
  std::vector<int> pipeResets;  // pipe numbers reset
  int deviceResets = 0;
  int statusQueries = 0;
  std::deque<std::vector<uint8_t>> replies;
  int openPipes = 0;
  bool deviceOpen = false;

  std::vector<uint8_t> configuration() const;
};

class FakePipeDriver final : public usbpio::PipeDriver {
 public:
  std::vector<FakeBoard> boards;

  FakeBoard& add(uint16_t vendor, uint16_t product, std::vector<FakeEndpoint> endpoints, uint8_t boardId);

  std::optional<std::string> interfacePath(int member) override;
  int32_t openDevice(const std::string& path) override;
  void closeDevice(int32_t device) override;
  bool resetDevice(int32_t device) override;
  bool getDescriptor(int32_t device, uint32_t type, uint8_t* out, size_t length) override;
  bool queryAttached(int32_t device, uint32_t* attached) override;
  bool getStatus(int32_t device, uint16_t recipient, uint16_t index, uint16_t* status) override;
  int32_t openPipe(int32_t device, int pipeNumber) override;
  void closePipe(int32_t pipe) override;
  void resetPipe(int32_t pipe) override;
  usbpio::TransferOutcome write(int32_t pipe, const uint8_t* data, size_t length, unsigned timeoutMs,
                                size_t* moved) override;
  usbpio::TransferOutcome read(int32_t pipe, uint8_t* data, size_t length, unsigned timeoutMs,
                               size_t* moved) override;

 private:
  FakeBoard* boardOfPipe(int32_t pipe, int* pipeNumber);
  void answer(FakeBoard& board, const std::vector<uint8_t>& packet);
};

}  // namespace usbpio_test
