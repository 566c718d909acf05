// The board driver's operations on libusb-1.0: the device list is narrowed to
// the boards' vendor and product IDs, pipes are the endpoints of interface 0,
// and transfers are synchronous bulk or interrupt transfers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "usbpio/board_ids.h"
#include "usbpio/pipe_driver.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace usbpio {

class LibusbPipeDriver final : public PipeDriver {
 public:
  explicit LibusbPipeDriver(const BoardIds& ids);
  ~LibusbPipeDriver() override;
  LibusbPipeDriver(const LibusbPipeDriver&) = delete;
  LibusbPipeDriver& operator=(const LibusbPipeDriver&) = delete;

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
  TransferOutcome write(int32_t pipe, const uint8_t* data, size_t length, unsigned timeoutMs,
                        size_t* moved) override;
  TransferOutcome read(int32_t pipe, uint8_t* data, size_t length, unsigned timeoutMs, size_t* moved) override;

 private:
  struct Endpoint {
    uint8_t address;
    bool interrupt;
  };
  struct Board {
    libusb_device* device;
    std::string path;
  };
  struct OpenDevice {
    libusb_device_handle* handle = nullptr;
    bool claimed = false;
    std::vector<Endpoint> endpoints;
  };
  struct Pipe {
    int32_t device = kNoToken;
    Endpoint endpoint{};
  };

  void listBoards();
  OpenDevice* find(int32_t device);
  Pipe* findPipe(int32_t pipe);
  bool claimInterfaceZero(OpenDevice& device);
  TransferOutcome transfer(int32_t pipe, uint8_t* data, size_t length, unsigned timeoutMs, size_t* moved);

  BoardIds ids_;
  libusb_context* context_ = nullptr;
  bool listed_ = false;
  std::vector<Board> boards_;
  std::vector<OpenDevice> devices_;
  std::vector<Pipe> pipes_;
};

}  // namespace usbpio
