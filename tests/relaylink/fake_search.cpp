#include "fake_search.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace fake {
namespace {

sockaddr_in addressOf(const std::string& ip, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, ip.c_str(), &sa.sin_addr);
  return sa;
}

}  // namespace

PrivateNetwork::PrivateNetwork(const std::vector<std::string>& relayAddresses) {
  const char* netns = std::getenv("LANRELAY_NETNS");
  if (netns == nullptr || std::string(netns) != "1") {
    why_ = "broadcasts only inside scripts/in-netns";
    return;
  }
  if (unshare(CLONE_NEWNET) != 0) {
    why_ = "cannot make a network namespace";
    return;
  }
  std::string script =
      "ip link set lo up && ip link add rlk0 type veth peer name rlk1 && "
      "ip addr add 10.77.0.1/24 dev rlk0 && ip addr add 10.77.0.2/24 dev rlk1";
  for (const std::string& a : relayAddresses) script += " && ip addr add " + a + "/24 dev rlk1";
  script += " && ip link set rlk0 up && ip link set rlk1 up";
  ok_ = std::system(script.c_str()) == 0;
  if (!ok_) why_ = "ip could not set up the veth pair";
}

RelayResponders::RelayResponders(std::vector<Relay> relays) : relays_(std::move(relays)) {
  const int one = 1;
  queryFd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  setsockopt(queryFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in any = addressOf("0.0.0.0", 30720);
  bind(queryFd_, reinterpret_cast<const sockaddr*>(&any), sizeof any);
  for (const Relay& r : relays_) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in self = addressOf(r.address, 0);
    bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof self);
    answerFds_.push_back(fd);
  }
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { run(); });
}

RelayResponders::~RelayResponders() {
  const uint64_t one = 1;
  (void)write(stopFd_, &one, sizeof one);
  thread_.join();
  for (int fd : answerFds_) close(fd);
  close(queryFd_);
  close(stopFd_);
}

void RelayResponders::run() {
  for (;;) {
    pollfd fds[2] = {{queryFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents & POLLIN) return;
    uint8_t query[64];
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t got = recvfrom(queryFd_, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (got < 2 || query[0] != 0x91 || query[1] != 0x00) continue;
    ++queries_;
    for (size_t i = 0; i < relays_.size(); ++i) {
      sendto(answerFds_[i], relays_[i].answer.data(), relays_[i].answer.size(), 0,
             reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }
  }
}

}  // namespace fake
