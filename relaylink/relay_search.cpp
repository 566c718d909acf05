// rlk_search: broadcast the relay query from every local IPv4 address (but
// 127.0.0.1) and collect the answers until the time-out has passed in full.
// Each relay host is reported once, in the order of its first answer.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <cstring>
#include <vector>

#include "platform/local_addresses.h"
#include "protocol/byte_order.h"
#include "relaylink.h"
#include "relaylink/wait_budget.h"

namespace relaylink {
namespace {

constexpr uint16_t kRelayQueryPort = 30720;
constexpr uint8_t kQuery[] = {0x91, 0x00};
constexpr uint8_t kAnswerMark = 0x92;
constexpr size_t kAnswerLength = 4;
// Answers are 4 bytes; anything longer than this is not an answer.
constexpr size_t kLongestAnswer = 8;

bool isLoopbackHost(const protocol::Ipv4Address& a) {
  return a == protocol::Ipv4Address{{127, 0, 0, 1}};
}

sockaddr_in socketAddress(const protocol::Ipv4Address& ip, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  std::memcpy(&sa.sin_addr.s_addr, ip.octets.data(), 4);  // octets are already in wire order
  return sa;
}

// One socket per local address, bound to (address, 30720) with SO_REUSEADDR so
// that it shares the port with a relay on this machine and with other searches.
// Failures only mean that no answer comes through that address.
std::vector<int> sendQueries() {
  std::vector<int> sockets;
  std::vector<platform::LocalAddress> addresses;
  if (!platform::listLocalAddresses(addresses)) return sockets;
  const sockaddr_in broadcast = socketAddress(protocol::Ipv4Address{{255, 255, 255, 255}}, kRelayQueryPort);
  for (const auto& local : addresses) {
    if (isLoopbackHost(local.address)) continue;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in self = socketAddress(local.address, kRelayQueryPort);
    bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof self);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sendto(fd, kQuery, sizeof kQuery, 0, reinterpret_cast<const sockaddr*>(&broadcast), sizeof broadcast);
    sockets.push_back(fd);
  }
  return sockets;
}

class RecordList {
 public:
  RecordList(uint8_t* buf, int size) : buf_(buf), capacity_(buf != nullptr && size > 0 ? size_t(size) / 8 : 0) {}

  // Applies the record rules to one datagram of `length` bytes from `sender`.
  void consider(const uint8_t* datagram, size_t length, const protocol::Ipv4Address& sender) {
    if (length < 2 || length > kLongestAnswer || datagram[0] != kAnswerMark) return;
    if (count_ == capacity_) return;
    if (std::find(senders_.begin(), senders_.end(), sender) != senders_.end()) return;
    uint8_t* record = buf_ + count_ * RLK_SEARCH_RECORD_SIZE;
    std::memcpy(record, sender.octets.data(), 4);
    record[4] = datagram[1];
    record[5] = 0;
    // The port is only trusted from an answer of the exact answer length.
    protocol::writeLe16(record + 6, length == kAnswerLength ? protocol::readLe16(datagram + 2) : 0);
    senders_.push_back(sender);
    ++count_;
  }

  int count() const { return static_cast<int>(count_); }

 private:
  uint8_t* buf_;
  size_t capacity_;
  size_t count_ = 0;
  std::vector<protocol::Ipv4Address> senders_;
};

// Takes one datagram from the first readable socket, in the order of the
// local addresses.
void takeOneAnswer(const std::vector<pollfd>& polled, RecordList& records) {
  for (const pollfd& p : polled) {
    if ((p.revents & POLLIN) == 0) continue;
    std::array<uint8_t, kLongestAnswer> datagram{};
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    // MSG_TRUNC reports the real length, so an over-long datagram is seen as such.
    const ssize_t got = recvfrom(p.fd, datagram.data(), datagram.size(), MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 0) return;
    protocol::Ipv4Address sender;
    std::memcpy(sender.octets.data(), &from.sin_addr.s_addr, 4);
    records.consider(datagram.data(), static_cast<size_t>(got), sender);
    return;
  }
}

}  // namespace
}  // namespace relaylink

using namespace relaylink;

extern "C" int rlk_search(uint8_t* buf, int size, uint32_t timeoutMs) {
  const std::vector<int> sockets = sendQueries();
  const WaitBudget budget = WaitBudget::startingNow(timeoutMs);
  RecordList records(buf, size);
  std::vector<pollfd> polled;
  for (int fd : sockets) polled.push_back(pollfd{fd, POLLIN, 0});
  for (;;) {
    // Wait for the next answer rather than stepping: the loop still takes
    // one datagram per pass and still runs until the deadline.
    const timespec wait = budget.remainingTimespec();
    const int ready = ppoll(polled.data(), polled.size(), &wait, nullptr);
    if (ready > 0) takeOneAnswer(polled, records);
    if (ready < 0 && errno != EINTR) {
      // Nothing more can be read; the call still lasts its whole time-out.
      const timespec rest = budget.remainingTimespec();
      nanosleep(&rest, nullptr);
    }
    if (budget.expired()) break;
  }
  for (int fd : sockets) close(fd);
  return records.count();
}
