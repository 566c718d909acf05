// Units of the relay protocol: the control messages that begin with 0x7F and a
// letter, the 8-byte frame header, device-list records and packed versions.
// Builders only; the client-side scanners live in client_scanners.h.
// Pure code: no I/O, no allocation except buildDeviceList.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace protocol {

constexpr uint8_t kControlMark = 0x7F;

enum class ControlLetter : uint8_t {
  Open = 0x71,           // client: open; relay: open result
  Acknowledge = 0x73,    // relay: one frame received
  NoReply = 0x74,        // relay: the board did not answer in time
  DeviceList = 0x75,     // client: request; relay: the list
  Version = 0x76,        // client: request; relay: its packed version
};

// Status bytes carried by the relay's 3-byte control messages. They are signed
// on the wire; clients hand them on sign-extended.
enum class RelayStatus : int8_t {
  Ok = 0,
  UnknownBoard = -2,   // 0xFE: open found no such board / frame to an unbound or unconnected board
  NoReply = -3,        // 0xFD: board did not answer within the response time-out
  Refused = -6,        // 0xFA: wrong unit byte or payload too long
};

constexpr size_t kFrameHeaderSize = 8;
// The relay takes client payloads of at most this many bytes.
constexpr size_t kMaxRelayPayload = 512;
constexpr size_t kMaxRelayFrame = kFrameHeaderSize + kMaxRelayPayload;
// Highest byte value that starts a frame on the stream (the Board ID range).
constexpr uint8_t kMaxUnitByte = 0x0F;

constexpr size_t kDeviceListRecordSize = 16;
// The relay stops adding records once the message passes 1007 bytes.
constexpr size_t kMaxDeviceListRecords = 63;

struct FrameHeader {
  uint8_t unit = 0;            // Board ID, 0..15
  uint8_t tag = 0;             // 0 from a client; the answered command byte in a reply
  uint16_t payloadLength = 0;
  uint16_t boardWord = 0;      // bytes 4-5: set by boards, never interpreted
  uint16_t mustBeZero = 0;     // bytes 6-7

  static FrameHeader parse(const uint8_t* bytes);
  void write(uint8_t* bytes) const;
  size_t frameLength() const { return kFrameHeaderSize + payloadLength; }
};

// IPv4 address with its octets in wire order (first octet first).
struct Ipv4Address {
  std::array<uint8_t, 4> octets{};
  friend bool operator==(const Ipv4Address&, const Ipv4Address&) = default;
  std::string toString() const;  // "%d.%d.%d.%d"
};

using MacAddress = std::array<uint8_t, 6>;
std::string macToString(const MacAddress& mac);  // "%02x:%02x:%02x:%02x:%02x:%02x"

struct DeviceListRecord {
  uint8_t boardId = 0;
  uint8_t typeCode = 0;
  Ipv4Address address;
  MacAddress mac{};
  uint8_t openCount = 0;  // unit connections that have the board open, low 8 bits

  void write(uint8_t* bytes) const;  // exactly kDeviceListRecordSize bytes
  static DeviceListRecord parse(const uint8_t* bytes);
};

// major.minor.build.revision packed one hex digit each: 3.1.0.0 -> 0x3100.
constexpr uint16_t packVersion(unsigned major, unsigned minor, unsigned build, unsigned revision) {
  return static_cast<uint16_t>(((major * 16 + minor) * 16 + build) * 16 + revision);
}

// Client -> relay.
std::array<uint8_t, 4> buildOpenRequest(uint8_t boardId, uint8_t typeCode);
std::array<uint8_t, 2> buildDeviceListRequest();
std::array<uint8_t, 2> buildVersionRequest();

// Relay -> client.
std::array<uint8_t, 3> buildOpenResult(RelayStatus status);
std::array<uint8_t, 3> buildAcknowledge(RelayStatus status);
std::array<uint8_t, 3> buildNoReply();  // 7F 74 FD
std::array<uint8_t, 4> buildVersionAnswer(uint16_t packedVersion);
// 7F 75, n (u16), then the records; at most kMaxDeviceListRecords are taken.
std::vector<uint8_t> buildDeviceList(std::span<const DeviceListRecord> records);

}  // namespace protocol
