// The shared object's C surface: one library instance per process, made when
// the object is loaded and taken down when it is unloaded.
#include "include/usbpio.h"
#include "usbpio/board_ids.h"
#include "usbpio/libusb_pipe_driver.h"
#include "usbpio/library.h"
#include "usbpio/termios_serial_ports.h"

#define UPIO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Instance {
  usbpio::LibusbPipeDriver pipes;
  usbpio::TermiosSerialPorts serial;
  usbpio::Library library;

  explicit Instance(const usbpio::BoardIds& ids)
      : pipes(ids),
        serial("/sys/class/tty", usbpio::serialPortsFromEnvironment()),
        library(pipes, serial, ids) {}
};

// The process's instance: the library is loaded once per process, and its
// exports have no handle through which to pass one.
Instance* instance = nullptr;

__attribute__((constructor)) void loadLibrary() { instance = new Instance(usbpio::boardIdsFromEnvironment()); }

// The library goes before the backends: it gives the ports their settings
// back and closes them through the backends.
__attribute__((destructor)) void unloadLibrary() {
  delete instance;
  instance = nullptr;
}

usbpio::Library* library() { return instance != nullptr ? &instance->library : nullptr; }

}  // namespace

// Every output pointer is checked: a null one is an argument out of range,
// not a crash inside the library.
#define UPIO_NEED(pointer)                              \
  do {                                                  \
    if ((pointer) == nullptr) return UPIO_BAD_ARGUMENT; \
  } while (0)

UPIO_EXPORT uint32_t upio_GetDeviceCount(int32_t* count) {
  UPIO_NEED(count);
  if (library() == nullptr) {
    *count = 0;
    return UPIO_NO_UNIT;
  }
  return library()->getDeviceCount(count);
}

UPIO_EXPORT uint32_t upio_GetDeviceInfo(uint32_t* count, UpioDeviceInfo* records) {
  UPIO_NEED(count);
  if (*count != 0) UPIO_NEED(records);
  return library() ? library()->getDeviceInfo(count, records) : UPIO_NO_UNIT;
}

UPIO_EXPORT uint32_t upio_OpenDevice(uint32_t* unit, const UpioDeviceInfo* info) {
  UPIO_NEED(unit);
  UPIO_NEED(info);
  return library() ? library()->openDevice(unit, info) : UPIO_NO_UNIT;
}

UPIO_EXPORT uint32_t upio_CloseDevice(uint32_t unit) {
  return library() ? library()->closeDevice(unit) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_GetBoardCode(uint32_t unit, uint16_t* code) {
  UPIO_NEED(code);
  return library() ? library()->getBoardCode(unit, code) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_GetBoardType(uint32_t unit, uint16_t* type) {
  UPIO_NEED(type);
  return library() ? library()->getBoardType(unit, type) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_rInB(uint32_t unit, uint16_t port, uint16_t* value) {
  UPIO_NEED(value);
  return library() ? library()->rInB(unit, port, value) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_rInW(uint32_t unit, uint16_t port, uint16_t* value) {
  UPIO_NEED(value);
  return library() ? library()->rInW(unit, port, value) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_rInDW(uint32_t unit, uint32_t* value) {
  UPIO_NEED(value);
  return library() ? library()->rInDW(unit, value) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_rOutB(uint32_t unit, uint16_t port, uint16_t* value) {
  UPIO_NEED(value);
  return library() ? library()->rOutB(unit, port, value) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_rOutW(uint32_t unit, uint16_t port, uint16_t* value) {
  UPIO_NEED(value);
  return library() ? library()->rOutW(unit, port, value) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_rOutDW(uint32_t unit, uint32_t* value) {
  UPIO_NEED(value);
  return library() ? library()->rOutDW(unit, value) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_wOutB(uint32_t unit, uint16_t port, uint16_t value) {
  return library() ? library()->wOutB(unit, port, value) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_wOutW(uint32_t unit, uint16_t port, uint16_t value) {
  return library() ? library()->wOutW(unit, port, value) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_wOutDW(uint32_t unit, uint32_t value) {
  return library() ? library()->wOutDW(unit, value) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_InOutDW(uint32_t unit, uint32_t* inputs, uint32_t value) {
  UPIO_NEED(inputs);
  return library() ? library()->inOutDW(unit, inputs, value) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_SetFilter(uint32_t unit, uint16_t port_mask, uint32_t time) {
  return library() ? library()->setFilter(unit, port_mask, time) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_SetFilterEx(uint32_t unit, uint16_t group_mask, uint16_t setting) {
  return library() ? library()->setFilterEx(unit, group_mask, setting) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_rVersion(uint32_t unit, uint16_t version[2]) {
  UPIO_NEED(version);
  return library() ? library()->rVersion(unit, version) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_UsbSend(uint32_t unit, const uint8_t* buffer, uint16_t* length) {
  UPIO_NEED(buffer);
  UPIO_NEED(length);
  return library() ? library()->usbSend(unit, buffer, length) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_UsbRecv(uint32_t unit, uint8_t* buffer, uint16_t* length) {
  UPIO_NEED(buffer);
  UPIO_NEED(length);
  return library() ? library()->usbRecv(unit, buffer, length) : UPIO_BAD_UNIT;
}

UPIO_EXPORT uint32_t upio_WritDevice(uint32_t unit, const uint8_t* buffer, uint16_t* length) {
  return upio_UsbSend(unit, buffer, length);
}

UPIO_EXPORT uint32_t upio_ReadDevice(uint32_t unit, uint8_t* buffer, uint16_t* length) {
  return upio_UsbRecv(unit, buffer, length);
}
