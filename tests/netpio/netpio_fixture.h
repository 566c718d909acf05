// A fake relay with board 3 of type 0x12 open on it, for the netpio tests.
#pragma once

#include <gtest/gtest.h>

#include "fake_relay.h"
#include "netpio.h"
#include "test_lock_dir.h"

namespace netpio_test {

constexpr int kType = 0x12;
constexpr int kBoard = 3;

class NetpioUnit : public testing::Test {
 protected:
  void SetUp() override {
    privateLockDirectory();
    ASSERT_EQ(npio_SetProgLink("127.0.0.1", relay.port(), 2000), 0u);
    ASSERT_EQ(npio_OpenDevice(kType, kBoard), 0u);
  }
  void TearDown() override { npio_CloseDevice(kType, kBoard); }

  // Frames the relay received after the open.
  std::vector<fake::Bytes> frames() const { return relay.frames(); }

  fake::FakeRelay relay;
};

}  // namespace netpio_test
