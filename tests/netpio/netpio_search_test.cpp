// npio_EtnSearch in a private network: only relays with connected boards are
// reported, within the caller's capacity.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "fake_search.h"
#include "netpio.h"

namespace {

using fake::Bytes;
using fake::PrivateNetwork;
using fake::RelayResponders;

constexpr uint16_t kSearchTime = 150;

struct EtnSearchCase {
  const char* name;
  std::vector<RelayResponders::Relay> relays;
  uint16_t capacity;
  uint32_t result;
  uint16_t count;    // count afterwards
  int written;       // records written into the caller's array
};

void PrintTo(const EtnSearchCase& c, std::ostream* os) { *os << c.name; }

class NetpioEtnSearch : public testing::TestWithParam<EtnSearchCase> {};

TEST_P(NetpioEtnSearch, ReportsRelaysWithBoards) {
  const EtnSearchCase& c = GetParam();
  std::vector<std::string> addresses;
  for (const auto& r : c.relays) addresses.push_back(r.address);
  PrivateNetwork network(addresses);
  if (!network.ok()) GTEST_SKIP() << network.why();
  RelayResponders responders(c.relays);
  Bytes records(8 * 4, 0xEE);
  uint16_t count = c.capacity;
  EXPECT_EQ(npio_EtnSearch(records.data(), &count, kSearchTime), c.result);
  EXPECT_EQ(count, c.count);
  for (int i = 0; i < 4; ++i) {
    const bool written = i < c.written;
    EXPECT_EQ(records[8 * i] != 0xEE, written) << "record " << i;
    if (written) {
      EXPECT_NE(records[8 * i + 4], 0) << "a relay without boards was reported";
    }
  }
}

const Bytes kWithBoards{0x92, 2, 0x1A, 0x27};
const Bytes kWithoutBoards{0x92, 0, 0x1A, 0x27};

INSTANTIATE_TEST_SUITE_P(
    Table, NetpioEtnSearch,
    testing::Values(
        EtnSearchCase{"NoRelay", {}, 4, NPIO_UNKNOWN_BOARD, 0, 0},
        EtnSearchCase{"OnlyRelaysWithoutBoards",
                      {{"10.77.0.10", kWithoutBoards}, {"10.77.0.11", kWithoutBoards}}, 4,
                      NPIO_NO_CONNECTED_BOARD, 0, 0},
        EtnSearchCase{"SkipsRelaysWithoutBoards",
                      {{"10.77.0.10", kWithBoards}, {"10.77.0.11", kWithoutBoards}, {"10.77.0.12", kWithBoards}}, 4,
                      0, 2, 2},
        EtnSearchCase{"MoreRelaysThanRoom",
                      {{"10.77.0.10", kWithBoards}, {"10.77.0.11", kWithBoards}, {"10.77.0.12", kWithBoards}}, 2,
                      NPIO_UNEXPECTED, 2, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NetpioEtnSearchArguments, CapacityZeroOrNullPointers) {
  uint8_t records[8];
  uint16_t count = 0;
  EXPECT_EQ(npio_EtnSearch(records, &count, 0), NPIO_BAD_ARGUMENT);
  count = 1;
  EXPECT_EQ(npio_EtnSearch(nullptr, &count, 0), NPIO_BAD_ARGUMENT);
  EXPECT_EQ(npio_EtnSearch(records, nullptr, 0), NPIO_BAD_ARGUMENT);
}

}  // namespace
