#include "platform/local_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

namespace platform {
namespace {

protocol::Ipv4Address fromSockaddr(const sockaddr* sa) {
  protocol::Ipv4Address a;
  if (sa != nullptr && sa->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
    // s_addr is already in wire order; copy its bytes as they lie.
    std::memcpy(a.octets.data(), &in->sin_addr.s_addr, 4);
  }
  return a;
}

}  // namespace

bool listLocalAddresses(std::vector<LocalAddress>& out) {
  out.clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    if ((it->ifa_flags & IFF_UP) == 0) continue;
    LocalAddress entry;
    entry.address = fromSockaddr(it->ifa_addr);
    entry.netmask = fromSockaddr(it->ifa_netmask);
    entry.interfaceName = it->ifa_name != nullptr ? it->ifa_name : "";
    entry.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
    out.push_back(std::move(entry));
  }
  freeifaddrs(list);
  return true;
}

}  // namespace platform
