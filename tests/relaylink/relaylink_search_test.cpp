// rlk_search in a private network: one query per local address, one record
// per answering host, the record rules, and the whole time-out waited out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>

#include "fake_search.h"
#include "relaylink.h"

namespace {

using fake::Bytes;
using fake::PrivateNetwork;
using fake::RelayResponders;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kSearchTime = 150;  // ms; long enough for answers on a busy machine

struct SearchCase {
  const char* name;
  std::vector<RelayResponders::Relay> relays;
  int bufferSize;
  std::vector<Bytes> records;  // sorted; empty with count > 0: any of the relays
  int count = -1;              // -1: records.size()
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class RelaylinkSearch : public testing::TestWithParam<SearchCase> {};

TEST_P(RelaylinkSearch, RecordsFollowTheRules) {
  const SearchCase& c = GetParam();
  std::vector<std::string> addresses;
  for (const auto& r : c.relays) addresses.push_back(r.address);
  PrivateNetwork network(addresses);
  if (!network.ok()) GTEST_SKIP() << network.why();
  RelayResponders responders(c.relays);
  Bytes buf(static_cast<size_t>(c.bufferSize) + 8, 0xEE);
  const auto start = Clock::now();
  const int n = rlk_search(buf.data(), c.bufferSize, kSearchTime);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kSearchTime));
  ASSERT_EQ(n, c.count >= 0 ? c.count : static_cast<int>(c.records.size()));
  std::vector<Bytes> got;
  for (int i = 0; i < n; ++i) got.emplace_back(buf.begin() + 8 * i, buf.begin() + 8 * i + 8);
  // Answers from different relays may arrive in any order.
  std::sort(got.begin(), got.end());
  if (c.count < 0) {
    EXPECT_EQ(got, c.records);
  }
  EXPECT_EQ(Bytes(buf.begin() + c.bufferSize, buf.end()), Bytes(8, 0xEE));
  // One query from each local address but 127.0.0.1: 10.77.0.1, 10.77.0.2
  // and every relay address (the veth pair may deliver each twice).
  EXPECT_GE(responders.queriesSeen(), static_cast<int>(2 + c.relays.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RelaylinkSearch,
    testing::Values(
        SearchCase{"NoRelay", {}, 256, {}},
        SearchCase{"DefaultRelay", {{"10.77.0.10", {0x92, 0x00, 0x1A, 0x27}}}, 256,
                   {{10, 77, 0, 10, 0x00, 0x00, 0x1A, 0x27}}},
        SearchCase{"TwoByteAnswerHasNoPort", {{"10.77.0.10", {0x92, 0x03}}}, 256, {{10, 77, 0, 10, 3, 0, 0, 0}}},
        SearchCase{"FiveByteAnswerHasNoPort", {{"10.77.0.10", {0x92, 0x03, 0x1A, 0x27, 0}}}, 256,
                   {{10, 77, 0, 10, 3, 0, 0, 0}}},
        SearchCase{"ProbeAnswerIgnored", {{"10.77.0.10", {0x93, 0x00}}}, 256, {}},
        SearchCase{"ShortAndLongIgnored",
                   {{"10.77.0.10", {0x92}}, {"10.77.0.11", {0x92, 1, 2, 3, 4, 5, 6, 7, 8}}}, 256, {}},
        SearchCase{"ThreeRelays",
                   {{"10.77.0.10", {0x92, 1, 0x1A, 0x27}},
                    {"10.77.0.11", {0x92, 2, 0x1B, 0x27}},
                    {"10.77.0.12", {0x92, 0, 0x1A, 0x27}}},
                   256,
                   {{10, 77, 0, 10, 1, 0, 0x1A, 0x27}, {10, 77, 0, 11, 2, 0, 0x1B, 0x27}, {10, 77, 0, 12, 0, 0, 0x1A, 0x27}}},
        SearchCase{"BufferOfFifteenHoldsOne",
                   {{"10.77.0.10", {0x92, 1, 0x1A, 0x27}}, {"10.77.0.11", {0x92, 1, 0x1A, 0x27}}}, 15, {}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RelaylinkSearchTime, ZeroTimeOutIsOnePass) {
  PrivateNetwork network({"10.77.0.10"});
  if (!network.ok()) GTEST_SKIP() << network.why();
  RelayResponders responders({{"10.77.0.10", {0x92, 0x00, 0x1A, 0x27}}});
  uint8_t buf[64];
  const auto start = Clock::now();
  const int n = rlk_search(buf, sizeof buf, 0);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_LE(n, 1);
}

}  // namespace
