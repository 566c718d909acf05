// A relay that runs inside a test: listens on 127.0.0.1 (port 0), speaks the
// relay side of the client protocol, records what clients send and answers as
// the test tells it. One background thread; every setter and observer may be
// called from the test thread at any time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace fake {

using Bytes = std::vector<uint8_t>;

// What the relay does with one frame from a client.
struct Answer {
  Bytes acknowledge{0x7F, 0x73, 0x00};
  Bytes reply;                                // sent after the acknowledgement, may be empty
  std::chrono::milliseconds replyDelay{0};
  size_t splitAt = 0;                         // non-zero: the reply goes out in two sends, this far apart
  std::chrono::milliseconds splitGap{3};
  bool closeAfter = false;                    // close the connection once everything is sent
};

// A board behind the relay: inputs, outputs and version, answering every
// command of the board command set.
struct SimulatedBoard {
  uint32_t inputs = 0x44332211;
  uint32_t outputs = 0;
  uint16_t version[2] = {0x0102, 0x0304};
  uint8_t filterMask = 0;
  uint32_t filterNibbles = 0;
  Answer answer(const Bytes& frame);
};

// Reply frame from a board: unit, the answered command byte, the payload.
Bytes replyFrame(uint8_t unit, uint8_t command, const Bytes& payload);

// The relay's device-list answer: 7F 75, the byte count, then the 16-byte records as given.
Bytes deviceList(const std::vector<Bytes>& records);

class FakeRelay {
 public:
  FakeRelay();
  ~FakeRelay();
  FakeRelay(const FakeRelay&) = delete;
  FakeRelay& operator=(const FakeRelay&) = delete;

  uint16_t port() const { return port_; }

  // Raw answers to the control messages (defaults: 7F 71 00, an empty list,
  // version 3.1.0.0). An empty answer means: say nothing.
  void setOpenAnswer(Bytes raw);
  void setDeviceListAnswer(Bytes raw);
  void setVersionAnswer(Bytes raw);
  // Frames go to this handler (default: the simulated board).
  void setFrameHandler(std::function<Answer(const Bytes&)> handler);
  SimulatedBoard& board() { return board_; }  // change only while no client talks

  // Sends bytes on every open connection now (stray or late data).
  void pushToAll(const Bytes& raw);

  std::vector<Bytes> frames() const;   // every frame received, in order
  std::vector<Bytes> controls() const; // every control message received, in order
  int connectionsAccepted() const;
  int connectionsOpen() const;
  // Waits (bounded) until the thread has handled everything received so far.
  void settle(std::chrono::milliseconds limit = std::chrono::milliseconds(500)) const;

 private:
  struct Pending {
    std::chrono::steady_clock::time_point due;
    int fd;
    Bytes bytes;
    bool closeAfter;
  };
  struct Client {
    int fd;
    Bytes input;
  };
  void run();
  void acceptClients();
  bool readClient(Client& client);  // false when the client is gone
  void handleUnits(Client& client);
  void schedule(int fd, const Answer& answer);
  void sendDue();
  void wake() const;

  int listenFd_ = -1;
  int wakeFd_ = -1;
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  Bytes openAnswer_{0x7F, 0x71, 0x00};
  Bytes listAnswer_{0x7F, 0x75, 0x00, 0x00};
  Bytes versionAnswer_{0x7F, 0x76, 0x00, 0x31};
  std::function<Answer(const Bytes&)> handler_;
  SimulatedBoard board_;
  std::vector<Bytes> frames_;
  std::vector<Bytes> controls_;
  std::vector<Client> clients_;
  std::vector<Pending> pending_;
  std::vector<Bytes> pushes_;
  int accepted_ = 0;
  uint64_t passes_ = 0;
  mutable int settling_ = 0;
  mutable std::condition_variable passed_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace fake
