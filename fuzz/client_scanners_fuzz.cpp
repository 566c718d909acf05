// The libraries' scanners of the relay stream, fed hostile bytes in reads of
// any size. Byte 0 picks the scanner, byte 1 the caller's buffer size, byte 2
// the read sizes. Checked beyond memory safety: every feed makes progress,
// never claims more than it was given, and a finished unit fits the buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "protocol/client_scanners.h"

namespace {

using fuzzing::FuzzInput;
using protocol::ScanState;
using protocol::ScanStep;

// Feeds the stream in reads of 1..readStep bytes; after each finished unit the
// caller drops the rest of that read and starts afresh, as the library does.
template <typename Scanner, typename Check>
void scanStream(Scanner& scanner, const uint8_t* data, size_t size, size_t readStep, Check checkFinished) {
  size_t offset = 0;
  while (offset < size) {
    size_t n = readStep == 0 ? size - offset : readStep;
    if (n > size - offset) n = size - offset;
    const ScanStep step = scanner.feed(data + offset, n);
    FUZZ_CHECK(step.consumed <= n);
    if (step.state == ScanState::NeedMore) {
      FUZZ_CHECK(step.consumed == n);
    } else {
      checkFinished(step.state);
      scanner.reset();
    }
    offset += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const uint8_t which = input.takeByte() % 5;
  // Exact-size heap buffers, so that a write one past the end is caught.
  const size_t capacity = input.takeByte() * 9u;
  const size_t readStep = input.takeByte() % 32;
  size_t length = 0;
  const uint8_t* stream = input.rest(length);

  switch (which) {
    case 0: {
      protocol::OpenResultScanner scanner;
      scanStream(scanner, stream, length, readStep, [&](ScanState state) {
        FUZZ_CHECK(state == ScanState::Complete);
        FUZZ_CHECK(scanner.result() >= -128 && scanner.result() <= 127);
      });
      break;
    }
    case 1: {
      protocol::AcknowledgeScanner scanner;
      // The library never reads past what the scanner still wants.
      size_t offset = 0;
      while (offset < length) {
        size_t n = scanner.bytesWanted();
        FUZZ_CHECK(n >= 1 && n <= 3);
        if (n > length - offset) n = length - offset;
        const ScanStep step = scanner.feed(stream + offset, n);
        FUZZ_CHECK(step.consumed == n);
        if (step.state != ScanState::NeedMore) scanner.reset();
        offset += n;
      }
      break;
    }
    case 2: {
      std::vector<uint8_t> buffer(capacity);
      protocol::ReplyScanner scanner(buffer.data(), buffer.size());
      scanStream(scanner, stream, length, readStep, [&](ScanState state) {
        // A frame's length fits the buffer; a 7F 74 status is any signed byte.
        if (state == ScanState::Complete && scanner.result() > 127) {
          FUZZ_CHECK(static_cast<size_t>(scanner.result()) <= capacity);
        }
        if (state == ScanState::Failed) FUZZ_CHECK(scanner.result() == protocol::kScanUnexpected);
      });
      break;
    }
    case 3: {
      std::vector<uint8_t> buffer(capacity);
      protocol::DeviceListScanner scanner(buffer.data(), buffer.size());
      scanStream(scanner, stream, length, readStep, [&](ScanState state) {
        if (state == ScanState::Complete) {
          FUZZ_CHECK(scanner.result() >= 0);
          FUZZ_CHECK(static_cast<size_t>(scanner.result()) * 8 <= capacity);
        }
      });
      break;
    }
    default: {
      protocol::VersionScanner scanner;
      scanStream(scanner, stream, length, readStep, [&](ScanState state) {
        FUZZ_CHECK(state == ScanState::Complete);
        FUZZ_CHECK(scanner.result() >= 0 && scanner.result() <= 0xFFFF);
      });
      break;
    }
  }
  return 0;
}
