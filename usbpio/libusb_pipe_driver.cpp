#include "usbpio/libusb_pipe_driver.h"

#include <libusb.h>

#include <cstdio>

namespace usbpio {
namespace {

constexpr unsigned kControlTimeoutMs = 1000;

std::string pathOf(libusb_device* device) {
  uint8_t ports[8];
  const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
  std::string path = std::to_string(libusb_get_bus_number(device)) + "-";
  for (int i = 0; i < depth; ++i) path += (i ? "." : "") + std::to_string(ports[i]);
  if (depth <= 0) path += "addr" + std::to_string(libusb_get_device_address(device));
  return path;
}

}  // namespace

LibusbPipeDriver::LibusbPipeDriver(const BoardIds& ids) : ids_(ids) {
  if (libusb_init(&context_) != 0) context_ = nullptr;
}

LibusbPipeDriver::~LibusbPipeDriver() {
  for (size_t d = 0; d < devices_.size(); ++d) closeDevice(static_cast<int32_t>(d));
  for (Board& board : boards_) libusb_unref_device(board.device);
  if (context_ != nullptr) libusb_exit(context_);
}

// Only devices with a board's vendor and product IDs are listed: the probe
// resets a device that does not answer, which must never hit anything else.
void LibusbPipeDriver::listBoards() {
  listed_ = true;
  if (context_ == nullptr) return;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
    for (const BoardIdPair& pair : ids_.pair) {
      if (descriptor.idVendor != pair.vendor || descriptor.idProduct != pair.product) continue;
      boards_.push_back(Board{libusb_ref_device(list[i]), pathOf(list[i])});
      break;
    }
  }
  if (count >= 0) libusb_free_device_list(list, 1);
}

std::optional<std::string> LibusbPipeDriver::interfacePath(int member) {
  if (!listed_) listBoards();
  if (member < 0 || static_cast<size_t>(member) >= boards_.size()) return std::nullopt;
  return boards_[static_cast<size_t>(member)].path;
}

int32_t LibusbPipeDriver::openDevice(const std::string& path) {
  for (const Board& board : boards_) {
    if (board.path != path) continue;
    libusb_device_handle* handle = nullptr;
    if (libusb_open(board.device, &handle) != 0) return kNoToken;
    devices_.push_back(OpenDevice{handle, false, {}});
    return static_cast<int32_t>(devices_.size() - 1);
  }
  return kNoToken;
}

LibusbPipeDriver::OpenDevice* LibusbPipeDriver::find(int32_t device) {
  if (device < 0 || static_cast<size_t>(device) >= devices_.size()) return nullptr;
  OpenDevice& d = devices_[static_cast<size_t>(device)];
  return d.handle == nullptr ? nullptr : &d;
}

LibusbPipeDriver::Pipe* LibusbPipeDriver::findPipe(int32_t pipe) {
  if (pipe < 0 || static_cast<size_t>(pipe) >= pipes_.size()) return nullptr;
  Pipe& p = pipes_[static_cast<size_t>(pipe)];
  return p.device == kNoToken || find(p.device) == nullptr ? nullptr : &p;
}

void LibusbPipeDriver::closeDevice(int32_t device) {
  OpenDevice* d = find(device);
  if (d == nullptr) return;
  for (Pipe& pipe : pipes_) {
    if (pipe.device == device) pipe = Pipe{};
  }
  if (d->claimed) libusb_release_interface(d->handle, 0);
  libusb_close(d->handle);
  *d = OpenDevice{};
}

bool LibusbPipeDriver::resetDevice(int32_t device) {
  OpenDevice* d = find(device);
  return d != nullptr && libusb_reset_device(d->handle) == 0;
}

bool LibusbPipeDriver::getDescriptor(int32_t device, uint32_t type, uint8_t* out, size_t length) {
  OpenDevice* d = find(device);
  if (d == nullptr || length > 0xFFFF) return false;
  const uint8_t usbType = type == kDeviceDescriptor ? LIBUSB_DT_DEVICE : LIBUSB_DT_CONFIG;
  const int got = libusb_get_descriptor(d->handle, usbType, 0, out, static_cast<int>(length));
  return got == static_cast<int>(length);
}

bool LibusbPipeDriver::queryAttached(int32_t device, uint32_t* attached) {
  OpenDevice* d = find(device);
  int configuration = 0;
  // Asking for the configuration fails with "no device" once it is unplugged.
  if (d == nullptr || libusb_get_configuration(d->handle, &configuration) != 0) return false;
  *attached = 1;
  return true;
}

bool LibusbPipeDriver::getStatus(int32_t device, uint16_t recipient, uint16_t index, uint16_t* status) {
  OpenDevice* d = find(device);
  if (d == nullptr) return false;
  constexpr unsigned kStandardIn = unsigned{LIBUSB_ENDPOINT_IN} | unsigned{LIBUSB_REQUEST_TYPE_STANDARD};
  uint8_t requestType = kStandardIn | LIBUSB_RECIPIENT_DEVICE;
  uint16_t wIndex = index;
  if (recipient == kRecipientEndpoint) {
    requestType = kStandardIn | LIBUSB_RECIPIENT_ENDPOINT;
    // The request names an endpoint by its address, direction bit included.
    for (const Endpoint& e : d->endpoints) {
      if ((e.address & 0x0F) == index) wIndex = e.address;
    }
  }
  uint8_t word[2] = {};
  const int got = libusb_control_transfer(d->handle, requestType, LIBUSB_REQUEST_GET_STATUS, 0, wIndex, word,
                                          sizeof word, kControlTimeoutMs);
  if (got != 2) return false;
  *status = static_cast<uint16_t>(word[0] | (word[1] << 8));
  return true;
}

bool LibusbPipeDriver::claimInterfaceZero(OpenDevice& device) {
  if (device.claimed) return true;
  libusb_set_auto_detach_kernel_driver(device.handle, 1);
  if (libusb_claim_interface(device.handle, 0) != 0) return false;
  device.claimed = true;
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(libusb_get_device(device.handle), &config) != 0) return false;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& iface = config->interface[i];
    if (iface.num_altsetting < 1 || iface.altsetting[0].bInterfaceNumber != 0) continue;
    const libusb_interface_descriptor& setting = iface.altsetting[0];
    for (int e = 0; e < setting.bNumEndpoints; ++e) {
      const libusb_endpoint_descriptor& ep = setting.endpoint[e];
      const bool interrupt = (ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_INTERRUPT;
      device.endpoints.push_back(Endpoint{ep.bEndpointAddress, interrupt});
    }
  }
  libusb_free_config_descriptor(config);
  return true;
}

int32_t LibusbPipeDriver::openPipe(int32_t device, int pipeNumber) {
  OpenDevice* d = find(device);
  if (d == nullptr || !claimInterfaceZero(*d)) return kNoToken;
  if (pipeNumber < 0 || static_cast<size_t>(pipeNumber) >= d->endpoints.size()) return kNoToken;
  pipes_.push_back(Pipe{device, d->endpoints[static_cast<size_t>(pipeNumber)]});
  return static_cast<int32_t>(pipes_.size() - 1);
}

void LibusbPipeDriver::closePipe(int32_t pipe) {
  if (Pipe* p = findPipe(pipe)) *p = Pipe{};
}

void LibusbPipeDriver::resetPipe(int32_t pipe) {
  Pipe* p = findPipe(pipe);
  if (p != nullptr) libusb_clear_halt(find(p->device)->handle, p->endpoint.address);
}

TransferOutcome LibusbPipeDriver::transfer(int32_t pipe, uint8_t* data, size_t length, unsigned timeoutMs,
                                           size_t* moved) {
  *moved = 0;
  Pipe* p = findPipe(pipe);
  if (p == nullptr || length > 0x7FFFFFFF) return TransferOutcome::Failed;
  libusb_device_handle* handle = find(p->device)->handle;
  int transferred = 0;
  // The synchronous calls cancel a transfer that runs out of time, so the
  // buffer is free again when they return.
  const int result = p->endpoint.interrupt
                         ? libusb_interrupt_transfer(handle, p->endpoint.address, data, static_cast<int>(length),
                                                     &transferred, timeoutMs)
                         : libusb_bulk_transfer(handle, p->endpoint.address, data, static_cast<int>(length),
                                                &transferred, timeoutMs);
  *moved = transferred > 0 ? static_cast<size_t>(transferred) : 0;
  if (result == 0) return TransferOutcome::Completed;
  if (result == LIBUSB_ERROR_TIMEOUT) return TransferOutcome::TimedOut;
  return TransferOutcome::Failed;
}

TransferOutcome LibusbPipeDriver::write(int32_t pipe, const uint8_t* data, size_t length, unsigned timeoutMs,
                                        size_t* moved) {
  Pipe* p = findPipe(pipe);
  if (p == nullptr || (p->endpoint.address & 0x80) != 0) return TransferOutcome::Failed;
  // libusb takes one buffer type for both directions; an OUT transfer only reads it.
  return transfer(pipe, const_cast<uint8_t*>(data), length, timeoutMs, moved);
}

TransferOutcome LibusbPipeDriver::read(int32_t pipe, uint8_t* data, size_t length, unsigned timeoutMs,
                                       size_t* moved) {
  Pipe* p = findPipe(pipe);
  if (p == nullptr || (p->endpoint.address & 0x80) == 0) return TransferOutcome::Failed;
  return transfer(pipe, data, length, timeoutMs, moved);
}

}  // namespace usbpio
