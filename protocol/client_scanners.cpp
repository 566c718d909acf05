#include "protocol/client_scanners.h"

#include "protocol/byte_order.h"
#include "protocol/relay_messages.h"

namespace protocol {
namespace {

constexpr uint8_t kAckLetter = static_cast<uint8_t>(ControlLetter::Acknowledge);
constexpr uint8_t kNoReplyLetter = static_cast<uint8_t>(ControlLetter::NoReply);

int signExtend(uint8_t status) { return static_cast<int8_t>(status); }

ScanStep finished(ScanState state, size_t consumed) { return {state, consumed}; }

// The step of a scanner whose unit has ended: Failed for -4, else Complete.
ScanStep ended(int result, size_t consumed) {
  return {result == kScanUnexpected ? ScanState::Failed : ScanState::Complete, consumed};
}

}  // namespace

bool ControlPrefix::feed(uint8_t byte, size_t& skipped) {
  if (!sawMark_) {
    if (byte == kControlMark) sawMark_ = true;
    else ++skipped;
    return false;
  }
  sawMark_ = false;
  if (byte == letter_) return true;
  skipped += 2;
  return false;
}

ScanStep OpenResultScanner::feed(const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    switch (stage_) {
      case Stage::Prefix:
        if (prefix_.feed(b, skipped_)) stage_ = Stage::Status;
        break;
      case Stage::Status:
        result_ = signExtend(b);
        stage_ = Stage::Done;
        return finished(ScanState::Complete, i + 1);
      case Stage::Done:
        return finished(ScanState::Complete, i);
    }
  }
  return {stage_ == Stage::Done ? ScanState::Complete : ScanState::NeedMore, n};
}

ScanStep AcknowledgeScanner::feed(const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (stage_ == Stage::Done) return finished(ScanState::Complete, i);
    if (seen_ == kLength) return finished(ScanState::Failed, i);
    const uint8_t b = data[i];
    ++seen_;
    switch (stage_) {
      case Stage::Mark:
        if (b == kControlMark) stage_ = Stage::Letter;
        break;
      case Stage::Letter:
        stage_ = b == kAckLetter ? Stage::Status : Stage::Mark;
        break;
      case Stage::Status:
        result_ = signExtend(b);
        stage_ = Stage::Done;
        return finished(ScanState::Complete, i + 1);
      case Stage::Done:
        break;
    }
    if (seen_ == kLength) {
      result_ = kScanUnexpected;
      return finished(ScanState::Failed, i + 1);
    }
  }
  if (stage_ == Stage::Done) return {ScanState::Complete, n};
  return {seen_ == kLength ? ScanState::Failed : ScanState::NeedMore, n};
}

void ReplyScanner::reset() {
  stage_ = Stage::Idle;
  stored_ = 0;
  frameLength_ = 0;
  result_ = 0;
  skipped_ = 0;
}

bool ReplyScanner::store(uint8_t byte) {
  if (stored_ >= capacity_) return false;
  buffer_[stored_++] = byte;
  return true;
}

ScanStep ReplyScanner::feed(const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    switch (stage_) {
      case Stage::Idle:
        stored_ = 0;
        if (b == kControlMark || b <= kMaxUnitByte) {
          if (!store(b)) {
            result_ = kScanUnexpected;
            stage_ = Stage::Done;
            return finished(ScanState::Failed, i + 1);
          }
          stage_ = b == kControlMark ? Stage::AfterMark : Stage::Frame;
        } else {
          ++skipped_;
        }
        break;
      case Stage::AfterMark:
        if (b == kNoReplyLetter) {
          stage_ = Stage::AfterNoReplyLetter;
        } else {
          // Not a 7F 74 message (a stray acknowledgement, say): start over with
          // the next byte; this one is not looked at again.
          stage_ = Stage::Idle;
          skipped_ += 2;
        }
        break;
      case Stage::AfterNoReplyLetter:
        result_ = signExtend(b);
        stage_ = Stage::Done;
        return finished(ScanState::Complete, i + 1);
      case Stage::Frame: {
        const size_t index = stored_;  // position of this byte in the frame
        if ((index == 6 || index == 7) && b != 0) {
          // Not a frame header after all; this byte is not a new start either.
          skipped_ += index + 1;
          stage_ = Stage::Idle;
          break;
        }
        if (!store(b)) {
          result_ = kScanUnexpected;
          stage_ = Stage::Done;
          return finished(ScanState::Failed, i + 1);
        }
        if (index == 3) frameLength_ = kFrameHeaderSize + readLe16(buffer_ + 2);
        if (stored_ >= kFrameHeaderSize && stored_ == frameLength_) {
          result_ = static_cast<int>(frameLength_);
          stage_ = Stage::Done;
          return finished(ScanState::Complete, i + 1);
        }
        break;
      }
      case Stage::Done:
        return ended(result_, i);
    }
  }
  return stage_ == Stage::Done ? ended(result_, n) : ScanStep{ScanState::NeedMore, n};
}

void DeviceListScanner::reset() {
  stage_ = Stage::Prefix;
  prefix_ = ControlPrefix(static_cast<uint8_t>(ControlLetter::DeviceList));
  count_ = 0;
  stored_ = 0;
  result_ = 0;
  skipped_ = 0;
}

ScanStep DeviceListScanner::feed(const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    switch (stage_) {
      case Stage::Prefix:
        if (prefix_.feed(b, skipped_)) stage_ = Stage::CountLow;
        break;
      case Stage::CountLow:
        count_ = b;
        stage_ = Stage::CountHigh;
        break;
      case Stage::CountHigh:
        count_ |= static_cast<size_t>(b) << 8;
        if (count_ == 0) {
          result_ = 0;
          stage_ = Stage::Done;
          return finished(ScanState::Complete, i + 1);
        }
        if (count_ > capacity_) {
          result_ = kScanUnexpected;
          stage_ = Stage::Done;
          return finished(ScanState::Failed, i + 1);
        }
        stage_ = Stage::Records;
        break;
      case Stage::Records:
        buffer_[stored_++] = b;
        if (stored_ == count_) {
          result_ = static_cast<int>(count_ / kDeviceListRecordSize);
          stage_ = Stage::Done;
          return finished(ScanState::Complete, i + 1);
        }
        break;
      case Stage::Done:
        return ended(result_, i);
    }
  }
  return stage_ == Stage::Done ? ended(result_, n) : ScanStep{ScanState::NeedMore, n};
}

ScanStep VersionScanner::feed(const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    switch (stage_) {
      case Stage::Prefix:
        if (prefix_.feed(b, skipped_)) stage_ = Stage::Low;
        break;
      case Stage::Low:
        low_ = b;
        stage_ = Stage::High;
        break;
      case Stage::High:
        result_ = low_ | (b << 8);
        stage_ = Stage::Done;
        return finished(ScanState::Complete, i + 1);
      case Stage::Done:
        return finished(ScanState::Complete, i);
    }
  }
  return {stage_ == Stage::Done ? ScanState::Complete : ScanState::NeedMore, n};
}

}  // namespace protocol
