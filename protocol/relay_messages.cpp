#include "protocol/relay_messages.h"

#include <algorithm>
#include <cstdio>

#include "protocol/byte_order.h"

namespace protocol {
namespace {

std::array<uint8_t, 3> statusMessage(ControlLetter letter, RelayStatus status) {
  return {kControlMark, static_cast<uint8_t>(letter), static_cast<uint8_t>(status)};
}

}  // namespace

FrameHeader FrameHeader::parse(const uint8_t* bytes) {
  FrameHeader h;
  h.unit = bytes[0];
  h.tag = bytes[1];
  h.payloadLength = readLe16(bytes + 2);
  h.boardWord = readLe16(bytes + 4);
  h.mustBeZero = readLe16(bytes + 6);
  return h;
}

void FrameHeader::write(uint8_t* bytes) const {
  bytes[0] = unit;
  bytes[1] = tag;
  writeLe16(bytes + 2, payloadLength);
  writeLe16(bytes + 4, boardWord);
  writeLe16(bytes + 6, mustBeZero);
}

std::string Ipv4Address::toString() const {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
  return text;
}

std::string macToString(const MacAddress& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

void DeviceListRecord::write(uint8_t* bytes) const {
  bytes[0] = boardId;
  bytes[1] = typeCode;
  std::copy(address.octets.begin(), address.octets.end(), bytes + 2);
  std::copy(mac.begin(), mac.end(), bytes + 6);
  bytes[12] = openCount;
  bytes[13] = bytes[14] = bytes[15] = 0;
}

DeviceListRecord DeviceListRecord::parse(const uint8_t* bytes) {
  DeviceListRecord r;
  r.boardId = bytes[0];
  r.typeCode = bytes[1];
  std::copy(bytes + 2, bytes + 6, r.address.octets.begin());
  std::copy(bytes + 6, bytes + 12, r.mac.begin());
  r.openCount = bytes[12];
  return r;
}

std::array<uint8_t, 4> buildOpenRequest(uint8_t boardId, uint8_t typeCode) {
  return {kControlMark, static_cast<uint8_t>(ControlLetter::Open), boardId, typeCode};
}

std::array<uint8_t, 2> buildDeviceListRequest() {
  return {kControlMark, static_cast<uint8_t>(ControlLetter::DeviceList)};
}

std::array<uint8_t, 2> buildVersionRequest() {
  return {kControlMark, static_cast<uint8_t>(ControlLetter::Version)};
}

std::array<uint8_t, 3> buildOpenResult(RelayStatus status) {
  return statusMessage(ControlLetter::Open, status);
}

std::array<uint8_t, 3> buildAcknowledge(RelayStatus status) {
  return statusMessage(ControlLetter::Acknowledge, status);
}

std::array<uint8_t, 3> buildNoReply() { return statusMessage(ControlLetter::NoReply, RelayStatus::NoReply); }

std::array<uint8_t, 4> buildVersionAnswer(uint16_t packedVersion) {
  std::array<uint8_t, 4> m{kControlMark, static_cast<uint8_t>(ControlLetter::Version), 0, 0};
  writeLe16(m.data() + 2, packedVersion);
  return m;
}

std::vector<uint8_t> buildDeviceList(std::span<const DeviceListRecord> records) {
  const size_t count = std::min(records.size(), kMaxDeviceListRecords);
  std::vector<uint8_t> m(4 + count * kDeviceListRecordSize);
  m[0] = kControlMark;
  m[1] = static_cast<uint8_t>(ControlLetter::DeviceList);
  writeLe16(m.data() + 2, static_cast<uint16_t>(count * kDeviceListRecordSize));
  for (size_t i = 0; i < count; ++i) records[i].write(m.data() + 4 + i * kDeviceListRecordSize);
  return m;
}

}  // namespace protocol
