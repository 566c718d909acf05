// Runs a Simulator on a thread of the test process, with its control channel
// on pipes, plus the small socket helpers the tests use to play the relay.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/boardsim/simulator.h"

namespace boardsim_test {

class SimulatorHarness {
 public:
  ~SimulatorHarness();
  // Starts the simulator and waits for its "ready" line.
  bool start(boardsim::SimulatorOptions options, std::string& error);
  // Sends one control line and returns the answer line ("ok ..."/"error ..."),
  // or "" when none comes within the time limit.
  std::string control(const std::string& line);
  uint16_t searchPort() const { return simulator_->searchPort(); }
  uint16_t boardPort(size_t index) const { return simulator_->boardPort(index); }
  // Lines the simulator wrote before "ready".
  const std::vector<std::string>& startLines() const { return startLines_; }

 private:
  std::string readLine(int timeoutMs);

  std::unique_ptr<boardsim::Simulator> simulator_;
  std::thread thread_;
  int controlWrite_ = -1;
  int controlRead_ = -1;  // simulator side
  int outputRead_ = -1;
  int outputWrite_ = -1;  // simulator side
  std::string pending_;
  std::vector<std::string> startLines_;
};

// Boards of a test on loopback addresses (127.0.0.0/8 is all local), any free port.
boardsim::BoardSetup loopbackBoard(uint8_t lastOctet, uint8_t id, uint8_t type = 0x12);

// TCP client to a board. -1 on failure.
int connectTo(const std::string& address, uint16_t port);
bool sendAll(int fd, const std::vector<uint8_t>& bytes);
// Reads until `count` bytes arrived, the peer closed or timeoutMs passed.
// reads counts the recv calls that returned data; closed says the peer closed.
struct Received {
  std::vector<uint8_t> bytes;
  int reads = 0;
  bool closed = false;
};
Received receive(int fd, size_t count, int timeoutMs);

// The relay's 24-byte identification request (unit 0xFF) or alive request (unit = ID).
std::vector<uint8_t> identificationRequest(uint8_t unit);

}  // namespace boardsim_test
