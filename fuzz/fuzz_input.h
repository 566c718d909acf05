// Takes a fuzzer's input apart: a few leading bytes steer the harness (which
// scanner, what buffer size, where reads split), the rest is the stream under
// test. Reading past the end gives zeros, so every input is usable.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzzing {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t takeByte() { return used_ < size_ ? data_[used_++] : 0; }
  uint16_t takeWord() {
    const uint16_t low = takeByte();
    return static_cast<uint16_t>(low | (takeByte() << 8));
  }
  // Up to `wanted` bytes of the stream; fewer near the end.
  const uint8_t* takeBytes(size_t wanted, size_t& got) {
    got = wanted < remaining() ? wanted : remaining();
    const uint8_t* start = data_ + used_;
    used_ += got;
    return start;
  }
  const uint8_t* rest(size_t& got) { return takeBytes(remaining(), got); }
  size_t remaining() const { return size_ - used_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};

// Stops the run with a message libFuzzer keeps next to the crashing input.
[[noreturn]] void failCheck(const char* what, const char* file, int line);

}  // namespace fuzzing

// A property the harness checks beyond what the sanitizers see.
#define FUZZ_CHECK(condition) \
  do { \
    if (!(condition)) ::fuzzing::failCheck(#condition, __FILE__, __LINE__); \
  } while (0)
