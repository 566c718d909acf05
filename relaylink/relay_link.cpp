// The relay client exports: open a unit connection, send a frame and read its
// acknowledgement, receive the reply, and the two one-shot queries (device
// list, version). Every wait goes through waitForUnit().
#include <unistd.h>

#include <array>
#include <cstdint>

#include "protocol/byte_order.h"
#include "protocol/client_scanners.h"
#include "protocol/relay_messages.h"
#include "relaylink.h"
#include "relaylink/host_text.h"
#include "relaylink/socket_ops.h"
#include "relaylink/wait_loop.h"

namespace relaylink {
namespace {

// Set by the build from the library's product version.
constexpr int kOwnVersion =
    protocol::packVersion(RELAYLINK_VERSION_MAJOR, RELAYLINK_VERSION_MINOR, RELAYLINK_VERSION_BUILD,
                          RELAYLINK_VERSION_REVISION);

constexpr int kBadFrame = -6;

size_t capacityOf(const uint8_t* buf, int size) { return buf != nullptr && size > 0 ? static_cast<size_t>(size) : 0; }

// A query connection (device list or version): connect, send the 2-byte
// request, wait for the answer, close whatever happened. The deadline counts
// from before the connect, so connecting uses up part of the time-out.
template <class Scanner>
int runQuery(const char* host, int port, const std::array<uint8_t, 2>& request, Scanner& scanner, size_t readSize,
             uint32_t timeoutMs) {
  const WaitBudget budget = WaitBudget::startingNow(timeoutMs);
  const int fd = connectWithTimeout(host, port, budget);
  if (fd < 0) return kSocketFailure;
  int result = kSocketFailure;
  if (sendAll(fd, request.data(), request.size(), budget)) result = waitForUnit(fd, scanner, readSize, budget);
  close(fd);
  return result;
}

int64_t openUnit(const char* host, int port, int boardId, int typeCode, uint32_t timeoutMs, int* status) {
  if (status != nullptr) *status = kSocketFailure;
  const WaitBudget budget = WaitBudget::startingNow(timeoutMs);
  const int fd = connectWithTimeout(host, port, budget);
  if (fd < 0) return RLK_NO_SOCKET;
  const auto request =
      protocol::buildOpenRequest(static_cast<uint8_t>(boardId & 0xFF), static_cast<uint8_t>(typeCode & 0xFF));
  int result = kSocketFailure;
  if (sendAll(fd, request.data(), request.size(), budget)) {
    protocol::OpenResultScanner scanner;
    result = waitForUnit(fd, scanner, kShortRead, budget);
  }
  if (status != nullptr) *status = result;
  if (result != 0) {
    close(fd);
    return RLK_NO_SOCKET;
  }
  return fd;
}

// Socket values come from rlk_open*; anything outside the int range is no
// descriptor of ours.
int descriptorOf(int64_t s) { return s >= 0 && s <= INT32_MAX ? static_cast<int>(s) : -1; }

}  // namespace
}  // namespace relaylink

using namespace relaylink;

extern "C" {

int rlk_initialize(void) { return 0; }

int rlk_finalize(void) { return 0; }

int64_t rlk_openA(const char* host, int port, int boardId, int typeCode, uint32_t timeoutMs, int* status) {
  if (host == nullptr) return RLK_NULL_HOST;
  return openUnit(host, port, boardId, typeCode, timeoutMs, status);
}

int64_t rlk_openW(const char16_t* host, int port, int boardId, int typeCode, uint32_t timeoutMs, int* status) {
  if (host == nullptr) return RLK_NULL_HOST;
  const NarrowHost narrow = narrowWideHost(host);
  return openUnit(narrow.data(), port, boardId, typeCode, timeoutMs, status);
}

int rlk_close(int64_t s) {
  const int fd = descriptorOf(s);
  if (fd < 0) return -1;
  return close(fd) == 0 ? 0 : -1;
}

int rlk_send(int64_t s, const uint8_t* frame, int length, uint32_t timeoutMs) {
  // Checked before anything goes out: the relay would take a frame of the
  // wrong length as the start of a longer one and wait for the rest.
  if (frame == nullptr || length < 10 || length != 8 + protocol::readLe16(frame + 2)) return kBadFrame;
  const int fd = descriptorOf(s);
  if (fd < 0 || !sendAll(fd, frame, static_cast<size_t>(length), WaitBudget::startingNow(timeoutMs))) {
    return kSocketFailure;
  }
  // The wait for the acknowledgement counts from the end of the send.
  const WaitBudget budget = WaitBudget::startingNow(timeoutMs);
  protocol::AcknowledgeScanner scanner;
  // Never read past the acknowledgement: the reply frame may follow it at once.
  return waitForUnit(fd, scanner, [&scanner] { return scanner.bytesWanted(); }, budget);
}

int rlk_receive(int64_t s, uint8_t* buf, int size, uint32_t timeoutMs) {
  const WaitBudget budget = WaitBudget::startingNow(timeoutMs);
  const int fd = descriptorOf(s);
  if (fd < 0) return kSocketFailure;
  protocol::ReplyScanner scanner(buf, capacityOf(buf, size));
  return waitForUnit(fd, scanner, kLargeRead, budget);
}

int rlk_deviceA(const char* host, int port, uint8_t* buf, int size, uint32_t timeoutMs) {
  if (host == nullptr) return RLK_NULL_HOST;
  protocol::DeviceListScanner scanner(buf, capacityOf(buf, size));
  return runQuery(host, port, protocol::buildDeviceListRequest(), scanner, kLargeRead, timeoutMs);
}

int rlk_deviceW(const char16_t* host, int port, uint8_t* buf, int size, uint32_t timeoutMs) {
  if (host == nullptr) return RLK_NULL_HOST;
  const NarrowHost narrow = narrowWideHost(host);
  return rlk_deviceA(narrow.data(), port, buf, size, timeoutMs);
}

int rlk_versionA(const char* host, int port, uint32_t timeoutMs) {
  if (host == nullptr || host[0] == '\0') return kOwnVersion;
  protocol::VersionScanner scanner;
  return runQuery(host, port, protocol::buildVersionRequest(), scanner, kShortRead, timeoutMs);
}

int rlk_versionW(const char16_t* host, int port, uint32_t timeoutMs) {
  if (host == nullptr || host[0] == 0) return kOwnVersion;
  const NarrowHost narrow = narrowWideHost(host);
  return rlk_versionA(narrow.data(), port, timeoutMs);
}

}  // extern "C"
