// The board driver as the pipe link sees it: five device operations on an open
// board interface, and pipe files, one per endpoint of interface 0. One backend
// per file: libusb_pipe_driver.cpp for real boards, a scripted fake in the tests.
//
// Tokens (devices and pipes) are small non-negative integers chosen by the
// backend; kNoToken marks a failed open. Every call runs on the caller's thread
// and blocks at most for the time-out it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace usbpio {

constexpr int32_t kNoToken = -1;

// Descriptor types of GetDescriptor.
constexpr uint32_t kDeviceDescriptor = 1;
constexpr uint32_t kConfigurationDescriptor = 2;

// GetStatus recipients.
constexpr uint16_t kRecipientDevice = 0;
constexpr uint16_t kRecipientEndpoint = 2;

enum class TransferOutcome {
  Completed,  // the transfer ended; `moved` says how many bytes went
  TimedOut,   // still not done when the time-out ran out (the backend cancels it)
  Failed,     // refused or broken: halted endpoint, board gone, ...
};

class PipeDriver {
 public:
  virtual ~PipeDriver() = default;

  // Path of the board interface with this member index, or nothing when there
  // are fewer boards. Only devices that may be boards are listed, so that no
  // other USB device is ever opened or reset.
  virtual std::optional<std::string> interfacePath(int member) = 0;
  virtual int32_t openDevice(const std::string& path) = 0;
  virtual void closeDevice(int32_t device) = 0;

  virtual bool resetDevice(int32_t device) = 0;
  // Copies `length` bytes of the descriptor (device: 18; configuration: any).
  virtual bool getDescriptor(int32_t device, uint32_t type, uint8_t* out, size_t length) = 0;
  // Non-zero while the board is attached.
  virtual bool queryAttached(int32_t device, uint32_t* attached) = 0;
  // Standard USB status word; for an endpoint, `index` is its number (1..15).
  virtual bool getStatus(int32_t device, uint16_t recipient, uint16_t index, uint16_t* status) = 0;

  // Pipe `pipeNumber` of interface 0: its endpoints in descriptor order.
  virtual int32_t openPipe(int32_t device, int pipeNumber) = 0;
  virtual void closePipe(int32_t pipe) = 0;
  // Clears a failed or halted pipe; the outcome is not examined.
  virtual void resetPipe(int32_t pipe) = 0;

  virtual TransferOutcome write(int32_t pipe, const uint8_t* data, size_t length, unsigned timeoutMs,
                                size_t* moved) = 0;
  virtual TransferOutcome read(int32_t pipe, uint8_t* data, size_t length, unsigned timeoutMs,
                               size_t* moved) = 0;
};

}  // namespace usbpio
