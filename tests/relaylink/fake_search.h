// Relay search tests: a private network of their own and relays that answer
// the relay query from addresses of it.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fake_relay.h"

namespace fake {

// Moves the calling process into a new network namespace (inside the test
// namespace of scripts/in-netns) with loopback and a veth pair whose ends
// carry 10.77.0.1 and 10.77.0.2, plus `relayAddresses` on the second end.
// Tests that broadcast run only there; ok() is false (and the test should
// skip) outside LANRELAY_NETNS=1 or when the namespace cannot be made.
class PrivateNetwork {
 public:
  explicit PrivateNetwork(const std::vector<std::string>& relayAddresses);
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

 private:
  bool ok_ = false;
  std::string why_;
};

// Relays that answer every relay query (91 00 on UDP port 30720) each from
// its own address with its own answer bytes.
class RelayResponders {
 public:
  struct Relay {
    std::string address;
    Bytes answer;
  };
  explicit RelayResponders(std::vector<Relay> relays);
  ~RelayResponders();
  RelayResponders(const RelayResponders&) = delete;
  RelayResponders& operator=(const RelayResponders&) = delete;
  int queriesSeen() const { return queries_.load(); }

 private:
  void run();
  std::vector<Relay> relays_;
  std::vector<int> answerFds_;
  int queryFd_ = -1;
  int stopFd_ = -1;
  std::atomic<int> queries_{0};
  std::thread thread_;
};

}  // namespace fake
