// Load generator for the relay benchmarks: many connections in one epoll
// loop, each doing sequential round trips of one read-inputs frame (10 bytes
// out, 12 bytes back), either straight to the boards or through the relay.
// Prints one line of `key=value` figures for scripts/bench to tabulate.
//
// usage:
//   relay_load direct ADDR:PORT... [--conns N] [--seconds S]
//       ping-pong with the boards themselves; connection i goes to the
//       (i mod count)th address; the frame carries ID=ID of that address
//       (ADDR:PORT:ID).
//   relay_load relay ADDR:PORT ID:TYPE... [--conns N] [--seconds S]
//       through the relay: connection i opens the (i mod count)th board,
//       then each round trip is frame, acknowledgement and reply.
//   --blocking   one connection, plain blocking send/receive (no epoll)
//   --poll-ms M  one connection; waits for the answer by trying a
//                non-blocking receive and sleeping M ms between tries, the
//                way a client library that polls does
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/relay/latency_summary.h"
#include "protocol/board_commands.h"
#include "protocol/relay_messages.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReplySize = 12;  // read-inputs reply: 8-byte header + 4 data bytes
constexpr size_t kAckSize = 3;     // 7F 73 status

struct Target {
  sockaddr_in address{};
  uint8_t boardId = 0;
  uint8_t typeCode = 0;
};

struct Options {
  bool throughRelay = false;
  std::vector<Target> targets;  // direct: boards; relay: one address
  std::vector<Target> boards;   // relay: boards to open (ID, type)
  int conns = 1;
  double seconds = 2.0;
  bool blocking = false;
  int pollMs = 0;
};

struct Connection {
  int fd = -1;
  protocol::RequestFrame frame;
  size_t expect = 0;  // bytes awaited for the round trip in flight
  size_t have = 0;
  Clock::time_point sentAt;
};

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "relay_load: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

bool parseAddress(const std::string& text, Target& out) {
  // ADDR:PORT[:ID]
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  const std::string host = text.substr(0, colon);
  std::string rest = text.substr(colon + 1);
  const size_t colon2 = rest.find(':');
  if (colon2 != std::string::npos) {
    out.boardId = static_cast<uint8_t>(std::strtoul(rest.substr(colon2 + 1).c_str(), nullptr, 0));
    rest = rest.substr(0, colon2);
  }
  out.address.sin_family = AF_INET;
  out.address.sin_port = htons(static_cast<uint16_t>(std::strtoul(rest.c_str(), nullptr, 0)));
  return inet_pton(AF_INET, host.c_str(), &out.address.sin_addr) == 1;
}

bool parseBoard(const std::string& text, Target& out) {
  // ID:TYPE
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  out.boardId = static_cast<uint8_t>(std::strtoul(text.substr(0, colon).c_str(), nullptr, 0));
  out.typeCode = static_cast<uint8_t>(std::strtoul(text.substr(colon + 1).c_str(), nullptr, 0));
  return true;
}

Options parseOptions(int argc, char** argv) {
  Options o;
  if (argc < 3) {
    std::fprintf(stderr, "usage: relay_load direct ADDR:PORT:ID... | relay ADDR:PORT ID:TYPE... [options]\n");
    std::exit(2);
  }
  o.throughRelay = std::strcmp(argv[1], "relay") == 0;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--conns" && i + 1 < argc) {
      o.conns = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--seconds" && i + 1 < argc) {
      o.seconds = std::max(0.1, std::atof(argv[++i]));
    } else if (arg == "--blocking") {
      o.blocking = true;
    } else if (arg == "--poll-ms" && i + 1 < argc) {
      o.pollMs = std::max(1, std::atoi(argv[++i]));
    } else {
      Target t;
      const bool isBoard = o.throughRelay && !o.targets.empty();
      if (isBoard ? !parseBoard(arg, t) : !parseAddress(arg, t)) {
        std::fprintf(stderr, "relay_load: cannot read '%s'\n", arg.c_str());
        std::exit(2);
      }
      (isBoard ? o.boards : o.targets).push_back(t);
    }
  }
  if (o.targets.empty() || (o.throughRelay && o.boards.empty())) {
    std::fprintf(stderr, "relay_load: no address or no board given\n");
    std::exit(2);
  }
  return o;
}

bool receiveExactly(int fd, uint8_t* buffer, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = recv(fd, buffer + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

// A connected, blocking socket with TCP_NODELAY; through the relay the board
// is opened too.
int connectTo(const Options& o, size_t index, protocol::RequestFrame& frame) {
  const Target& to = o.targets[index % o.targets.size()];
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fail("socket");
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to.address), sizeof to.address) != 0) fail("connect");
  uint8_t boardId = to.boardId;
  if (o.throughRelay) {
    const Target& board = o.boards[index % o.boards.size()];
    const auto open = protocol::buildOpenRequest(board.boardId, board.typeCode);
    uint8_t answer[3];
    if (send(fd, open.data(), open.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(open.size()) ||
        !receiveExactly(fd, answer, sizeof answer) || answer[2] != 0) {
      std::fprintf(stderr, "relay_load: the relay refused to open board %u type 0x%02x\n", board.boardId,
                   board.typeCode);
      std::exit(1);
    }
    boardId = board.boardId;
  }
  frame = protocol::readInputsFrame(boardId);
  return fd;
}

struct Run {
  std::vector<double> latencies;  // µs, round trips completed inside the window
  size_t failures = 0;
  size_t total = 0;  // every round trip, warm-up included: what the relay did
  double seconds = 0;
};

// One connection, plain blocking calls; or, with pollMs, non-blocking tries
// with a sleep between them.
Run runSingle(const Options& o) {
  Run run;
  protocol::RequestFrame frame;
  const int fd = connectTo(o, 0, frame);
  const size_t expect = (o.throughRelay ? kAckSize : 0) + kReplySize;
  uint8_t answer[kAckSize + kReplySize];
  const auto warmUpEnd = Clock::now() + std::chrono::milliseconds(200);
  auto end = warmUpEnd + std::chrono::duration<double>(o.seconds);
  for (;;) {
    const auto start = Clock::now();
    if (start >= end) break;
    send(fd, frame.bytes.data(), frame.size, MSG_NOSIGNAL);
    bool ok = true;
    if (o.pollMs > 0) {
      size_t got = 0;
      while (got < expect) {
        const ssize_t r = recv(fd, answer + got, expect - got, MSG_DONTWAIT);
        if (r > 0) {
          got += static_cast<size_t>(r);
        } else if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
          ok = false;
          break;
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(o.pollMs));
        }
      }
    } else {
      ok = receiveExactly(fd, answer, expect);
    }
    if (!ok) fail("round trip");
    ++run.total;
    if (answer[expect - kReplySize + 1] != frame.bytes[8]) ++run.failures;
    if (start >= warmUpEnd) {
      run.latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
  }
  run.seconds = o.seconds;
  close(fd);
  return run;
}

// Many connections in one epoll loop, each with one round trip in flight.
Run runMany(const Options& o) {
  Run run;
  std::vector<Connection> conns(static_cast<size_t>(o.conns));
  const int ep = epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) fail("epoll_create1");
  const size_t expect = (o.throughRelay ? kAckSize : 0) + kReplySize;
  for (size_t i = 0; i < conns.size(); ++i) {
    Connection& c = conns[i];
    c.fd = connectTo(o, i, c.frame);
    c.expect = expect;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = i;
    if (epoll_ctl(ep, EPOLL_CTL_ADD, c.fd, &ev) != 0) fail("epoll_ctl");
  }
  const auto begin = Clock::now();
  const auto warmUpEnd = begin + std::chrono::milliseconds(300);
  const auto end = warmUpEnd + std::chrono::duration<double>(o.seconds);
  run.latencies.reserve(1 << 20);
  for (Connection& c : conns) {
    c.sentAt = Clock::now();
    send(c.fd, c.frame.bytes.data(), c.frame.size, MSG_NOSIGNAL);
  }
  uint8_t buffer[256];
  epoll_event events[256];
  bool measuring = true;
  while (measuring) {
    const int n = epoll_wait(ep, events, 256, 5000);
    if (n < 0 && errno != EINTR) fail("epoll_wait");
    if (n == 0) {
      std::fprintf(stderr, "relay_load: no answer for five seconds\n");
      std::exit(1);
    }
    const auto now = Clock::now();
    if (now >= end) measuring = false;
    for (int e = 0; e < n; ++e) {
      Connection& c = conns[events[e].data.u64];
      const ssize_t r = recv(c.fd, buffer, sizeof buffer, 0);
      if (r <= 0) fail("connection lost");
      c.have += static_cast<size_t>(r);
      if (c.have < c.expect) continue;
      if (c.have > c.expect) ++run.failures;  // a stray byte: the stream is out of step
      c.have = 0;
      ++run.total;
      if (c.sentAt >= warmUpEnd && now < end) {
        run.latencies.push_back(std::chrono::duration<double, std::micro>(now - c.sentAt).count());
      }
      c.sentAt = now;
      send(c.fd, c.frame.bytes.data(), c.frame.size, MSG_NOSIGNAL);
    }
  }
  run.seconds = o.seconds;
  for (Connection& c : conns) close(c.fd);
  close(ep);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parseOptions(argc, argv);
  Run run = (o.blocking || o.pollMs > 0) ? runSingle(o) : runMany(o);
  const bench::LatencySummary s = bench::summarise(run.latencies);
  std::printf("frames=%zu total=%zu seconds=%.3f rate=%.0f median_us=%.2f p99_us=%.2f failures=%zu\n", s.count,
              run.total, run.seconds, static_cast<double>(s.count) / run.seconds, s.median, s.p99, run.failures);
  return run.failures == 0 ? 0 : 1;
}
