// The simulator over real sockets, inside a private network namespace: the
// test plays the relay (search datagram, TCP connection, frames).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "protocol/board_commands.h"
#include "tests/boardsim/sim_harness.h"
#include "tests/support/private_network.h"

namespace {

using boardsim_test::connectTo;
using boardsim_test::identificationRequest;
using boardsim_test::receive;
using boardsim_test::sendAll;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes bytesOf(const protocol::RequestFrame& frame) { return Bytes(frame.view().begin(), frame.view().end()); }

long msSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Sends a frame and returns the reply of `length` bytes (or what came of it).
boardsim_test::Received ask(int fd, const Bytes& frame, size_t length, int timeoutMs = 2000) {
  EXPECT_TRUE(sendAll(fd, frame));
  return receive(fd, length, timeoutMs);
}

uint32_t le32(const Bytes& bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

struct SearchAnswer {
  std::string from;
  Bytes bytes;
};

// Sends the board search from `fd` to address:port and collects answers until
// `expected` came or `timeoutMs` passed.
std::vector<SearchAnswer> search(int fd, const std::string& address, uint16_t port, size_t expected,
                                 int timeoutMs) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  const uint8_t searchBytes[] = {0x00, 0x00, 0x00, 0xF6};
  EXPECT_EQ(sendto(fd, searchBytes, sizeof searchBytes, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 4);
  std::vector<SearchAnswer> answers;
  const auto start = Clock::now();
  while (answers.size() < expected && msSince(start) < timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs - static_cast<int>(msSince(start))) <= 0) break;
    uint8_t buffer[128];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) break;
    char sender[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
    answers.push_back({sender, Bytes(buffer, buffer + n)});
  }
  return answers;
}

int udpSocketOn(const std::string& address, bool broadcast) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  if (broadcast) setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

class BoardsimSockets : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!testsupport::enterPrivateNetwork(why)) GTEST_SKIP() << why;
  }

  // Two boards: 127.0.0.11 (ID 1, wired) and 127.0.0.12 (ID 2, wireless).
  void startTwoBoards(const boardsim::Faults& firstFaults = {}) {
    boardsim::SimulatorOptions options;
    options.boardPort = 0;
    options.searchPort = 0;
    options.boards.push_back(boardsim_test::loopbackBoard(11, 1));
    options.boards.push_back(boardsim_test::loopbackBoard(12, 2, 0x13));
    options.boards[0].faults = firstFaults;
    std::string error;
    ASSERT_TRUE(sim.start(options, error)) << error;
  }

  int connectBoard(size_t index) {
    const int fd = connectTo(index == 0 ? "127.0.0.11" : "127.0.0.12", sim.boardPort(index));
    if (fd >= 0) fds.push_back(fd);
    return fd;
  }

  void TearDown() override {
    for (int fd : fds) close(fd);
  }

  boardsim_test::SimulatorHarness sim;
  std::vector<int> fds;
};

TEST_F(BoardsimSockets, IdentifiesItselfThenServesCommands) {
  startTwoBoards();
  const int board = connectBoard(0);
  ASSERT_GE(board, 0);
  auto reply = ask(board, identificationRequest(0xFF), 24);
  ASSERT_EQ(reply.bytes.size(), 24u);
  EXPECT_EQ(reply.bytes[0], 1);
  EXPECT_EQ(reply.bytes[1], 0xFF);
  EXPECT_EQ(reply.bytes[8], 1);     // Board ID
  EXPECT_EQ(reply.bytes[9], 0x12);  // type code

  reply = ask(board, bytesOf(protocol::writeOutputsFrame(1, 0x12345678)), 8);
  ASSERT_EQ(reply.bytes.size(), 8u);
  EXPECT_EQ(reply.bytes[1], 0x90);
  reply = ask(board, bytesOf(protocol::writeByteFrame(1, 1, 0x5A)), 8);
  ASSERT_EQ(reply.bytes.size(), 8u);
  reply = ask(board, bytesOf(protocol::readInputsFrame(1)), 12);
  ASSERT_EQ(reply.bytes.size(), 12u);
  EXPECT_EQ(le32(reply.bytes, 8), 0x12345A78u);  // inputs follow the outputs

  // The other board has its own identity and state.
  const int other = connectBoard(1);
  ASSERT_GE(other, 0);
  reply = ask(other, identificationRequest(0xFF), 24);
  ASSERT_EQ(reply.bytes.size(), 24u);
  EXPECT_EQ(reply.bytes[8], 2);
  EXPECT_EQ(reply.bytes[9], 0x13);
  reply = ask(other, bytesOf(protocol::readOutputsFrame(2)), 12);
  ASSERT_EQ(reply.bytes.size(), 12u);
  EXPECT_EQ(le32(reply.bytes, 8), 0u);
}

TEST_F(BoardsimSockets, RequestsSplitAcrossSegmentsAreAssembled) {
  startTwoBoards();
  const int board = connectBoard(0);
  ASSERT_GE(board, 0);
  const Bytes request = bytesOf(protocol::exchangeFrame(1, 0xA5A5A5A5));
  ASSERT_TRUE(sendAll(board, Bytes(request.begin(), request.begin() + 5)));
  EXPECT_TRUE(receive(board, 1, 50).bytes.empty());  // nothing until the frame is whole
  ASSERT_TRUE(sendAll(board, Bytes(request.begin() + 5, request.end())));
  const auto reply = receive(board, 16, 2000);
  ASSERT_EQ(reply.bytes.size(), 16u);
  EXPECT_EQ(le32(reply.bytes, 8), 0xA5A5A5A5u);
  EXPECT_EQ(le32(reply.bytes, 12), 0xA5A5A5A5u);
}

TEST_F(BoardsimSockets, SearchIsAnsweredFromEveryBoardsOwnAddress) {
  startTwoBoards();
  const int udp = udpSocketOn("127.0.0.1", false);
  ASSERT_GE(udp, 0);
  fds.push_back(udp);
  auto answers = search(udp, "127.0.0.1", sim.searchPort(), 2, 2000);
  ASSERT_EQ(answers.size(), 2u);
  std::map<std::string, Bytes> bySender;
  for (const auto& a : answers) bySender[a.from] = a.bytes;
  ASSERT_EQ(bySender.count("127.0.0.11"), 1u);
  ASSERT_EQ(bySender.count("127.0.0.12"), 1u);
  const Bytes& first = bySender["127.0.0.11"];
  ASSERT_GE(first.size(), 30u);
  EXPECT_EQ(Bytes(first.begin() + 24, first.begin() + 30), (Bytes{0x02, 0x00, 127, 0, 0, 11}));

  // A board with the nosearch fault stays out of the answers.
  ASSERT_EQ(sim.control("fault 0 nosearch"), "ok fault 0");
  answers = search(udp, "127.0.0.1", sim.searchPort(), 2, 300);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].from, "127.0.0.12");
}

TEST_F(BoardsimSockets, OtherDatagramsGetNoAnswer) {
  startTwoBoards();
  const int udp = udpSocketOn("127.0.0.1", false);
  ASSERT_GE(udp, 0);
  fds.push_back(udp);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(sim.searchPort());
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  const uint8_t notSearch[] = {0x91, 0x00};
  ASSERT_EQ(sendto(udp, notSearch, sizeof notSearch, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 2);
  pollfd p{udp, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 200), 0);
}

TEST_F(BoardsimSockets, SlowBoardDelaysEveryReply) {
  boardsim::Faults faults;
  faults.slowMs = 150;
  startTwoBoards(faults);
  const int board = connectBoard(0);
  ASSERT_GE(board, 0);
  const auto start = Clock::now();
  const auto reply = ask(board, identificationRequest(0xFF), 24);
  EXPECT_EQ(reply.bytes.size(), 24u);
  EXPECT_GE(msSince(start), 140);
}

TEST_F(BoardsimSockets, SplitBoardSendsItsReplyInTwoPieces) {
  boardsim::Faults faults;
  faults.split = true;
  startTwoBoards(faults);
  const int board = connectBoard(0);
  ASSERT_GE(board, 0);
  const auto start = Clock::now();
  const auto reply = ask(board, bytesOf(protocol::readInputsFrame(1)), 12);
  ASSERT_EQ(reply.bytes.size(), 12u);
  EXPECT_EQ(reply.bytes[1], 0x93);
  // The second half leaves a few tens of milliseconds after the first.
  EXPECT_GE(msSince(start), 20);
}

TEST_F(BoardsimSockets, SilentBoardTakesTheConnectionButNeverAnswers) {
  boardsim::Faults faults;
  faults.silent = true;
  startTwoBoards(faults);
  const int board = connectBoard(0);
  ASSERT_GE(board, 0);
  const auto reply = ask(board, identificationRequest(0xFF), 24, 300);
  EXPECT_TRUE(reply.bytes.empty());
  EXPECT_FALSE(reply.closed);
}

TEST_F(BoardsimSockets, DroppingBoardClosesOnTheNthFrame) {
  boardsim::Faults faults;
  faults.dropAfter = 2;
  startTwoBoards(faults);
  const int board = connectBoard(0);
  ASSERT_GE(board, 0);
  EXPECT_EQ(ask(board, identificationRequest(0xFF), 24).bytes.size(), 24u);
  const auto reply = ask(board, identificationRequest(1), 24);
  EXPECT_TRUE(reply.bytes.empty());
  EXPECT_TRUE(reply.closed);
}

TEST_F(BoardsimSockets, UnpluggedBoardDropsItsConnectionAndComesBackWhenPlugged) {
  startTwoBoards();
  const int board = connectBoard(0);
  ASSERT_GE(board, 0);
  ASSERT_EQ(ask(board, identificationRequest(0xFF), 24).bytes.size(), 24u);
  ASSERT_EQ(sim.control("unplug 127.0.0.11"), "ok unplug 0");
  EXPECT_TRUE(receive(board, 1, 2000).closed);
  EXPECT_LT(connectTo("127.0.0.11", sim.boardPort(0)), 0);
  const int udp = udpSocketOn("127.0.0.1", false);
  ASSERT_GE(udp, 0);
  fds.push_back(udp);
  const auto answers = search(udp, "127.0.0.1", sim.searchPort(), 2, 300);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].from, "127.0.0.12");

  ASSERT_EQ(sim.control("plug 0"), "ok plug 0");
  const int again = connectBoard(0);
  ASSERT_GE(again, 0);
  EXPECT_EQ(ask(again, identificationRequest(0xFF), 24).bytes.size(), 24u);
}

TEST_F(BoardsimSockets, ControlChangesInputsAndId) {
  startTwoBoards();
  const int board = connectBoard(0);
  ASSERT_GE(board, 0);
  ASSERT_EQ(sim.control("inputs 0 fixed:0x00c0ffee"), "ok inputs 0");
  auto reply = ask(board, bytesOf(protocol::readInputsFrame(1)), 12);
  ASSERT_EQ(reply.bytes.size(), 12u);
  EXPECT_EQ(le32(reply.bytes, 8), 0x00C0FFEEu);

  // A counting board changes its inputs on its own.
  ASSERT_EQ(sim.control("inputs 0 counter:5"), "ok inputs 0");
  const auto start = Clock::now();
  uint32_t last = 0;
  bool changed = false;
  while (!changed && msSince(start) < 2000) {
    reply = ask(board, bytesOf(protocol::readInputsFrame(1)), 12);
    ASSERT_EQ(reply.bytes.size(), 12u);
    changed = le32(reply.bytes, 8) > last && last != 0;
    last = std::max(last, le32(reply.bytes, 8));
    if (!changed) usleep(10000);
  }
  EXPECT_TRUE(changed);

  // A changed ID answers alive requests and frames under the new unit only.
  ASSERT_EQ(sim.control("id 0 9"), "ok id 0");
  reply = ask(board, identificationRequest(9), 24);
  ASSERT_EQ(reply.bytes.size(), 24u);
  EXPECT_EQ(reply.bytes[8], 9);
  EXPECT_TRUE(ask(board, bytesOf(protocol::readInputsFrame(1)), 12, 200).bytes.empty());
}

TEST_F(BoardsimSockets, ControlMistakesAreAnsweredWithErrors) {
  startTwoBoards();
  const char* bad[] = {"frobnicate", "unplug 7", "unplug 10.1.1.1", "inputs 0 sometimes",
                       "fault 1 flaky", "id 0 16"};
  for (const char* line : bad) EXPECT_EQ(sim.control(line).rfind("error ", 0), 0u) << line;
  // The status lists every board, and the simulator still works.
  EXPECT_EQ(sim.control("status"), "ok status");
  EXPECT_GE(connectBoard(1), 0);
}

TEST_F(BoardsimSockets, BroadcastSearchOnAnInterfaceReachesEveryBoard) {
  // The relay broadcasts from each local address; give it one on a veth pair.
  ASSERT_TRUE(testsupport::runCommand("ip link add lrbs0 type veth peer name lrbs0p"));
  ASSERT_TRUE(testsupport::runCommand("ip addr add 10.79.0.1/24 dev lrbs0 && ip addr add 10.79.0.11/24 dev lrbs0 && "
                                      "ip addr add 10.79.0.12/24 dev lrbs0"));
  ASSERT_TRUE(testsupport::runCommand("ip link set lrbs0 up && ip link set lrbs0p up"));
  boardsim::SimulatorOptions options;
  options.boardPort = 0;
  options.searchPort = 0;
  for (uint8_t last : {11, 12}) {
    boardsim::BoardSetup board = boardsim_test::loopbackBoard(last, last - 10);
    board.identity.address.octets = {10, 79, 0, last};
    board.identity.mac = boardsim::macForAddress(board.identity.address);
    options.boards.push_back(board);
  }
  std::string error;
  ASSERT_TRUE(sim.start(options, error)) << error;
  const int udp = udpSocketOn("10.79.0.1", true);
  ASSERT_GE(udp, 0);
  fds.push_back(udp);
  const auto answers = search(udp, "255.255.255.255", sim.searchPort(), 2, 2000);
  std::map<std::string, int> senders;
  for (const auto& a : answers) ++senders[a.from];
  EXPECT_EQ(senders.count("10.79.0.11"), 1u);
  EXPECT_EQ(senders.count("10.79.0.12"), 1u);
}

}  // namespace
