// Round trips of npio_rInB against an instant relay on loopback, next to a
// bare TCP ping-pong of the same bytes, so that what the libraries add per
// operation shows on its own. Not a test: run it by hand (see
// docs/libraries.md).
//
// usage: netpio_bench [ROUND_TRIPS]   (default 20000)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "netpio.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kOpenAnswer[] = {0x7F, 0x71, 0x00};
constexpr uint8_t kAcknowledge[] = {0x7F, 0x73, 0x00};
constexpr uint8_t kReply[] = {0x03, 0x93, 0x04, 0x00, 0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44};
constexpr uint8_t kRequest[] = {0x03, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0x93, 0x01};

bool receiveExactly(int fd, uint8_t* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = recv(fd, buf + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

void sendAll(int fd, const uint8_t* data, size_t n) { (void)send(fd, data, n, MSG_NOSIGNAL); }

void noDelay(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// The instant relay: answers an open at once, and every 10-byte frame with
// the acknowledgement and the reply, as two sends the way the relay does.
void serveConnection(int fd) {
  noDelay(fd);
  uint8_t first[2];
  uint8_t frame[10];
  size_t have = 0;
  uint8_t rest[2];
  if (!receiveExactly(fd, first, 2)) {
    close(fd);
    return;
  }
  if (first[0] == 0x7F) {
    if (!receiveExactly(fd, rest, 2)) {
      close(fd);
      return;
    }
    sendAll(fd, kOpenAnswer, sizeof kOpenAnswer);
  } else {
    frame[0] = first[0];
    frame[1] = first[1];
    have = 2;
  }
  for (;;) {
    if (!receiveExactly(fd, frame + have, sizeof frame - have)) break;
    have = 0;
    sendAll(fd, kAcknowledge, sizeof kAcknowledge);
    sendAll(fd, kReply, sizeof kReply);
  }
  close(fd);
}

int listenOnLoopback(uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof sa;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size) != 0) {
    std::perror("listen");
    std::exit(1);
  }
  port = ntohs(sa.sin_port);
  return fd;
}

struct Figures {
  double median, p99, max;
  size_t overMillisecond;
};

Figures summarise(std::vector<double>& us) {
  std::sort(us.begin(), us.end());
  const size_t n = us.size();
  return {us[n / 2], us[std::min(n - 1, n * 99 / 100)], us.back(),
          static_cast<size_t>(std::count_if(us.begin(), us.end(), [](double v) { return v >= 1000.0; }))};
}

template <class Op>
std::vector<double> time(int warmUp, int rounds, Op op) {
  for (int i = 0; i < warmUp; ++i) op();
  std::vector<double> us;
  us.reserve(static_cast<size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    op();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return us;
}

void print(const char* name, const Figures& f) {
  std::printf("%-22s %9.1f %9.1f %9.1f %8zu\n", name, f.median, f.p99, f.max, f.overMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
  const int warmUp = std::max(100, rounds / 20);
  // Unit locks of our own, so that the run never meets another program's.
  char lockDir[] = "/tmp/netpio-bench-locks-XXXXXX";
  if (mkdtemp(lockDir) != nullptr) setenv("LANRELAY_LOCK_DIR", lockDir, 1);

  uint16_t port = 0;
  const int listener = listenOnLoopback(port);
  std::thread server([listener] {
    for (int c = 0; c < 2; ++c) {
      const int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      std::thread(serveConnection, fd).detach();
    }
  });

  if (npio_SetProgLink("127.0.0.1", port, 3000) != 0 || npio_OpenDevice(0x12, 3) != 0) {
    std::fprintf(stderr, "netpio_bench: cannot open the unit at the bench relay\n");
    return 1;
  }
  const int bare = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(bare, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    std::perror("connect");
    return 1;
  }
  noDelay(bare);

  uint32_t failures = 0;
  auto libraryRoundTrip = [&] {
    uint16_t value = 0;
    if (npio_rInB(0x12, 3, 1, &value) != 0 || value != 0x22) ++failures;
  };
  auto bareRoundTrip = [&] {
    uint8_t ack[3], reply[12];
    sendAll(bare, kRequest, sizeof kRequest);
    if (!receiveExactly(bare, ack, 3) || !receiveExactly(bare, reply, 12)) ++failures;
  };
  // Blocks of the two kinds take turns, so that both see the same machine:
  // on a shared machine the load changes faster than a whole run.
  constexpr int kBlock = 200;
  std::vector<double> library, pingPong;
  for (int done = 0; done < rounds; done += kBlock) {
    const int n = std::min(kBlock, rounds - done);
    const auto lib = time(done == 0 ? warmUp : 0, n, libraryRoundTrip);
    const auto tcp = time(done == 0 ? warmUp : 0, n, bareRoundTrip);
    library.insert(library.end(), lib.begin(), lib.end());
    pingPong.insert(pingPong.end(), tcp.begin(), tcp.end());
  }
  npio_CloseDevice(0x12, 3);
  close(bare);
  server.join();
  close(listener);
  rmdir(lockDir);

  const Figures lib = summarise(library);
  const Figures tcp = summarise(pingPong);
  std::printf("%d round trips each on loopback (after %d warm-up)\n", rounds, warmUp);
  std::printf("%-22s %9s %9s %9s %8s\n", "microseconds", "median", "p99", "max", ">=1ms");
  print("npio_rInB", lib);
  print("bare TCP ping-pong", tcp);
  std::printf("library overhead: median %+.1f us (ratio %.2f), p99 %+.1f us (ratio %.2f)\n", lib.median - tcp.median,
              lib.median / tcp.median, lib.p99 - tcp.p99, lib.p99 / tcp.p99);
  if (failures != 0) std::printf("failed round trips: %u\n", failures);
  return failures == 0 ? 0 : 1;
}
