// The USB library's load on a board whose descriptors and identification
// reply are hostile: the device descriptor's IDs, the configuration
// descriptor's announced length and its walk of interface and endpoint
// descriptors, the pipes it opens for them and the identification that follows.
// Every pipe the load opened for a board it then refused must be closed again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "usbpio/board_ids.h"
#include "usbpio/library.h"
#include "usbpio/pipe_driver.h"
#include "usbpio/serial_ports.h"

namespace {

// One board whose every answer comes from the input.
class HostilePipeDriver : public usbpio::PipeDriver {
 public:
  HostilePipeDriver(std::vector<uint8_t> device, std::vector<uint8_t> config, std::vector<uint8_t> reply,
                    uint8_t faults)
      : device_(std::move(device)), config_(std::move(config)), reply_(std::move(reply)), faults_(faults) {}

  std::optional<std::string> interfacePath(int member) override {
    if (member != 0) return std::nullopt;
    return std::string("/fuzz/board0");
  }
  int32_t openDevice(const std::string&) override { return 1; }
  void closeDevice(int32_t) override {}
  bool resetDevice(int32_t) override { return true; }
  bool getDescriptor(int32_t, uint32_t type, uint8_t* out, size_t length) override {
    const std::vector<uint8_t>& source = type == usbpio::kDeviceDescriptor ? device_ : config_;
    if ((faults_ & 1) != 0 && type == usbpio::kConfigurationDescriptor && ++configReads_ > 1) return false;
    std::memset(out, 0, length);
    if (!source.empty()) std::memcpy(out, source.data(), std::min(length, source.size()));
    return true;
  }
  bool queryAttached(int32_t, uint32_t* attached) override {
    *attached = (faults_ & 2) != 0 ? 0 : 1;
    return true;
  }
  bool getStatus(int32_t, uint16_t, uint16_t, uint16_t* status) override {
    *status = 0;
    return true;
  }
  int32_t openPipe(int32_t, int pipeNumber) override {
    if ((faults_ & 4) != 0 && pipeNumber == 1) return usbpio::kNoToken;
    const int32_t token = nextPipe_++;
    openPipes_.insert(token);
    return token;
  }
  void closePipe(int32_t pipe) override {
    FUZZ_CHECK(openPipes_.erase(pipe) == 1);  // closing a pipe never opened, or twice
  }
  void resetPipe(int32_t) override {}
  usbpio::TransferOutcome write(int32_t pipe, const uint8_t*, size_t length, unsigned, size_t* moved) override {
    FUZZ_CHECK(openPipes_.count(pipe) == 1);
    *moved = length;
    return (faults_ & 8) != 0 ? usbpio::TransferOutcome::Failed : usbpio::TransferOutcome::Completed;
  }
  usbpio::TransferOutcome read(int32_t pipe, uint8_t* data, size_t length, unsigned, size_t* moved) override {
    FUZZ_CHECK(openPipes_.count(pipe) == 1);
    std::memset(data, 0, length);
    *moved = std::min(length, reply_.size());
    if (*moved > 0) std::memcpy(data, reply_.data(), *moved);
    return (faults_ & 16) != 0 ? usbpio::TransferOutcome::TimedOut : usbpio::TransferOutcome::Completed;
  }

  size_t openPipeCount() const { return openPipes_.size(); }

 private:
  std::vector<uint8_t> device_, config_, reply_;
  uint8_t faults_;
  int configReads_ = 0;
  int32_t nextPipe_ = 10;
  std::set<int32_t> openPipes_;
};

// No serial ports: the load looks at the pipe board only.
class NoSerialPorts : public usbpio::SerialPorts {
 public:
  std::vector<usbpio::PortListEntry> listPorts(size_t) override { return {}; }
  unsigned portNumber(const std::string&) override { return 0; }
  int32_t open(const std::string&) override { return usbpio::kNoToken; }
  void close(int32_t) override {}
  bool saveSettings(int32_t) override { return false; }
  bool applyLinkSettings(int32_t) override { return false; }
  bool restoreSettings(int32_t) override { return false; }
  void discardInput(int32_t) override {}
  usbpio::SerialOutcome write(int32_t, const uint8_t*, size_t, unsigned, size_t*) override {
    return usbpio::SerialOutcome::Failed;
  }
  usbpio::SerialOutcome read(int32_t, uint8_t*, size_t, unsigned, size_t*) override {
    return usbpio::SerialOutcome::Failed;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  fuzzing::FuzzInput input(data, size);
  const uint8_t faults = input.takeByte();
  const usbpio::BoardIds ids = usbpio::defaultBoardIds();
  // Usually one of the two known boards, so that the configuration is read.
  const uint8_t which = input.takeByte();
  std::vector<uint8_t> device(18, 0);
  if (which < 0xF0) {
    const auto& pair = ids.pair[which & 1];
    device[8] = static_cast<uint8_t>(pair.vendor);
    device[9] = static_cast<uint8_t>(pair.vendor >> 8);
    device[10] = static_cast<uint8_t>(pair.product);
    device[11] = static_cast<uint8_t>(pair.product >> 8);
  } else {
    for (auto& b : device) b = input.takeByte();
  }
  size_t replyLength = 0;
  const uint8_t* reply = input.takeBytes(input.takeByte() % 9, replyLength);
  size_t configLength = 0;
  const uint8_t* config = input.rest(configLength);

  HostilePipeDriver pipes(device, std::vector<uint8_t>(config, config + configLength),
                          std::vector<uint8_t>(reply, reply + replyLength), faults);
  NoSerialPorts serial;
  {
    usbpio::Library library(pipes, serial, ids);
    FUZZ_CHECK(library.unitCount() <= 1);
    if (library.unitCount() == 0) FUZZ_CHECK(pipes.openPipeCount() == 0);
    uint32_t count = 16;
    UpioDeviceInfo records[16]{};
    library.getDeviceInfo(&count, records);
  }
  // Unload closes every pipe the load kept.
  FUZZ_CHECK(pipes.openPipeCount() == 0);
  return 0;
}
