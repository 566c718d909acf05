// A FIFO that reuses its storage: a ring over a vector that only grows, so a
// board's steady stream of requests allocates nothing once the ring is big
// enough. Elements are reset by assignment when pushed. The ring starts at one
// slot: an idle board only ever holds its alive request, and with thousands
// of boards every unused slot (over half a kilobyte each) counts.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace engine {

template <typename T>
class RequestQueue {
 public:
  bool empty() const { return count_ == 0; }
  size_t size() const { return count_; }

  T& front() { return slots_[head_]; }
  const T& front() const { return slots_[head_]; }
  T& at(size_t i) { return slots_[(head_ + i) % slots_.size()]; }
  const T& at(size_t i) const { return slots_[(head_ + i) % slots_.size()]; }

  // Returns the new back element, default-initialised.
  T& pushBack() {
    if (count_ == slots_.size()) grow();
    T& slot = slots_[(head_ + count_) % slots_.size()];
    slot = T{};
    ++count_;
    return slot;
  }

  void popFront() {
    head_ = (head_ + 1) % slots_.size();
    if (--count_ == 0) head_ = 0;
  }

  void clear() {
    head_ = 0;
    count_ = 0;
  }

 private:
  void grow() {
    std::vector<T> bigger(slots_.empty() ? 1 : slots_.size() * 2);
    for (size_t i = 0; i < count_; ++i) bigger[i] = std::move(at(i));
    slots_ = std::move(bigger);
    head_ = 0;
  }

  std::vector<T> slots_;
  size_t head_ = 0;
  size_t count_ = 0;
};

}  // namespace engine
