#include "platform/local_addresses.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/private_network.h"

namespace {

TEST(PlatformLocalAddresses, ListsEveryUpInterfaceWithItsMask) {
  std::string why;
  if (!testsupport::enterPrivateNetwork(why)) GTEST_SKIP() << why;
  ASSERT_TRUE(testsupport::runCommand("ip link add lrt0 type veth peer name lrt0p"));
  ASSERT_TRUE(testsupport::runCommand("ip addr add 10.77.1.5/24 dev lrt0"));
  ASSERT_TRUE(testsupport::runCommand("ip link set lrt0 up && ip link set lrt0p up"));

  std::vector<platform::LocalAddress> addresses;
  ASSERT_TRUE(platform::listLocalAddresses(addresses));

  const auto find = [&](const std::string& text) {
    return std::find_if(addresses.begin(), addresses.end(),
                        [&](const platform::LocalAddress& a) { return a.address.toString() == text; });
  };
  const auto loop = find("127.0.0.1");
  ASSERT_NE(loop, addresses.end());
  EXPECT_TRUE(loop->loopback);
  const auto dummy = find("10.77.1.5");
  ASSERT_NE(dummy, addresses.end());
  EXPECT_FALSE(dummy->loopback);
  EXPECT_EQ(dummy->netmask.toString(), "255.255.255.0");
  EXPECT_EQ(dummy->interfaceName, "lrt0");
}

TEST(PlatformLocalAddresses, DownInterfacesAreLeftOut) {
  std::string why;
  if (!testsupport::enterPrivateNetwork(why)) GTEST_SKIP() << why;
  ASSERT_TRUE(testsupport::runCommand("ip link add lrt1 type veth peer name lrt1p"));
  ASSERT_TRUE(testsupport::runCommand("ip addr add 10.77.2.5/24 dev lrt1"));
  std::vector<platform::LocalAddress> addresses;
  ASSERT_TRUE(platform::listLocalAddresses(addresses));
  for (const auto& a : addresses) EXPECT_NE(a.address.toString(), "10.77.2.5");
}

}  // namespace
