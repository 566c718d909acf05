// Client-side scanners of the relay stream. Each is a small state machine fed
// the bytes of one read at a time; feed() reports how many bytes it consumed
// (everything up to and including the byte that completed or failed the unit;
// the caller discards the rest of that read), and the scanner counts the bytes
// it skipped as noise. No allocation: frames and lists go straight into the
// caller's buffer.
//
// The relay sends every unit with one send call, so a unit normally arrives
// within one read. A scanner still keeps its state between feeds, so a unit
// that TCP happens to split is not lost; call reset() to start afresh.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/relay_messages.h"

namespace protocol {

enum class ScanState {
  NeedMore,   // unit not complete yet
  Complete,   // result() holds the unit's value
  Failed,     // result() is -4: unexpected bytes or a unit larger than the buffer
};

// Result value of a failed scan, as the client library reports it.
constexpr int kScanUnexpected = -4;

struct ScanStep {
  ScanState state = ScanState::NeedMore;
  size_t consumed = 0;
};

// Finds 0x7F followed by one given letter, the start of a control message.
// A byte that breaks the pair is dropped, not re-tested as a new 0x7F.
class ControlPrefix {
 public:
  explicit constexpr ControlPrefix(uint8_t letter) : letter_(letter) {}
  // True when this byte completes the pair; counts dropped bytes in `skipped`.
  bool feed(uint8_t byte, size_t& skipped);

 private:
  uint8_t letter_;
  bool sawMark_ = false;
};

// Open result: 7F 71 status. A byte that breaks the pattern is not itself
// re-tested for 0x7F. Result: the status sign-extended.
class OpenResultScanner {
 public:
  ScanStep feed(const uint8_t* data, size_t n);
  int result() const { return result_; }
  size_t skipped() const { return skipped_; }
  void reset() { *this = OpenResultScanner(); }

 private:
  enum class Stage { Prefix, Status, Done } stage_ = Stage::Prefix;
  ControlPrefix prefix_{static_cast<uint8_t>(ControlLetter::Open)};
  int result_ = 0;
  size_t skipped_ = 0;
};

// Acknowledgement: 7F 73 status within exactly 3 bytes. The caller must never
// read more than bytesWanted(), so the reply frame behind it stays unread.
// Result: the status sign-extended; Failed once 3 bytes came without the pattern.
class AcknowledgeScanner {
 public:
  ScanStep feed(const uint8_t* data, size_t n);
  size_t bytesWanted() const { return kLength - seen_; }
  int result() const { return result_; }
  void reset() { *this = AcknowledgeScanner(); }

 private:
  static constexpr size_t kLength = 3;
  enum class Stage { Mark, Letter, Status, Done } stage_ = Stage::Mark;
  size_t seen_ = 0;
  int result_ = 0;
};

// Reply: the next unit into the caller's buffer. A byte 0x00..0x0F starts a
// frame, 0x7F a possible 7F 74 status; other bytes are skipped. Result: the
// frame length (8 + L), or for 7F 74 s the status sign-extended (only the 0x7F
// is stored). Failed when the unit needs more room than the buffer; nothing is
// ever written beyond it.
class ReplyScanner {
 public:
  ReplyScanner(uint8_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  ScanStep feed(const uint8_t* data, size_t n);
  int result() const { return result_; }
  size_t skipped() const { return skipped_; }
  void reset();

 private:
  bool store(uint8_t byte);
  enum class Stage { Idle, AfterMark, AfterNoReplyLetter, Frame, Done } stage_ = Stage::Idle;
  uint8_t* buffer_;
  size_t capacity_;
  size_t stored_ = 0;
  size_t frameLength_ = 0;
  int result_ = 0;
  size_t skipped_ = 0;
};

// Device list: 7F 75 n(u16) then n bytes of records into the buffer.
// Result: n / 16 records; Failed when n exceeds the buffer.
class DeviceListScanner {
 public:
  DeviceListScanner(uint8_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  ScanStep feed(const uint8_t* data, size_t n);
  int result() const { return result_; }
  size_t skipped() const { return skipped_; }
  void reset();

 private:
  enum class Stage { Prefix, CountLow, CountHigh, Records, Done } stage_ = Stage::Prefix;
  ControlPrefix prefix_{static_cast<uint8_t>(ControlLetter::DeviceList)};
  uint8_t* buffer_;
  size_t capacity_;
  size_t count_ = 0;
  size_t stored_ = 0;
  int result_ = 0;
  size_t skipped_ = 0;
};

// Version answer: 7F 76 lo hi. Result: the packed version.
class VersionScanner {
 public:
  ScanStep feed(const uint8_t* data, size_t n);
  int result() const { return result_; }
  size_t skipped() const { return skipped_; }
  void reset() { *this = VersionScanner(); }

 private:
  enum class Stage { Prefix, Low, High, Done } stage_ = Stage::Prefix;
  ControlPrefix prefix_{static_cast<uint8_t>(ControlLetter::Version)};
  uint8_t low_ = 0;
  int result_ = 0;
  size_t skipped_ = 0;
};

}  // namespace protocol
