// The network side of the simulated boards: one UDP socket answering the board
// search for every board, one TCP listener per board on its own address, and
// the connections the relay opens. Control lines (unplug, plug, inputs, fault,
// id, status, quit) arrive on a file descriptor and are answered on another.
// Single-threaded: construct, start() and run() on one thread; the only way in
// from elsewhere is the control descriptor or a stop descriptor.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/boardsim/board_config.h"
#include "tools/boardsim/board_model.h"
#include "tools/boardsim/frame_assembler.h"
#include "platform/event_loop.h"

namespace boardsim {

class Simulator {
 public:
  // controlIn: lines to obey (-1 for none); controlOut: where start-up lines,
  // answers to control lines and "ready" go. Neither is closed by the simulator.
  Simulator(SimulatorOptions options, int controlIn, int controlOut);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens every socket and announces the boards. On failure error says which
  // board or port could not be opened and why; nothing is left open.
  bool start(std::string& error);

  // Serves until "quit" arrives or stopFd (if given) becomes readable.
  void run();
  void addStopFd(int fd);

  uint16_t searchPort() const { return searchPort_; }
  uint16_t boardPort(size_t index) const { return boards_.at(index).port; }
  size_t boardCount() const { return boards_.size(); }

  // Obeys one control line and returns the answer line (without newline).
  std::string obey(const std::string& line);

 private:
  struct Connection {
    int fd = -1;
    FrameAssembler assembler;
    uint32_t framesReceived = 0;
  };
  struct Board {
    explicit Board(const BoardSetup& board) : setup(board), model(board.identity) {}
    BoardSetup setup;
    BoardModel model;
    bool plugged = true;
    int listenFd = -1;
    uint16_t port = 0;
    std::map<uint64_t, Connection> connections;
    platform::TimerId inputTimer = platform::kNoTimer;
  };

  bool openSearchSocket(std::string& error);
  bool openListener(size_t index, std::string& error);
  void closeBoardSockets(size_t index);
  void closeConnection(size_t index, uint64_t connectionId);
  void onSearchReadable();
  void answerSearch(size_t index, const sockaddr_in& searcher);
  void onListenerReadable(size_t index);
  void onConnectionReadable(size_t index, uint64_t connectionId);
  void onFrame(size_t index, uint64_t connectionId, const std::vector<uint8_t>& frame);
  void deliver(size_t index, uint64_t connectionId, std::vector<uint8_t> reply);
  void sendNow(size_t index, uint64_t connectionId, const std::vector<uint8_t>& bytes);
  void applyInputs(size_t index, const InputSetup& inputs);
  void onControlReadable();
  // Runs `callback` once, delayMs from now (the loop's timers are periodic).
  void after(uint32_t delayMs, std::function<void()> callback);
  void say(const std::string& line);
  void logFrame(size_t index, const char* direction, const std::vector<uint8_t>& bytes);
  std::string describe(size_t index) const;
  // Index from "3" or from an address; -1 when neither matches.
  int findBoard(const std::string& text) const;

  SimulatorOptions options_;
  int controlIn_;
  int controlOut_;
  platform::EventLoop loop_;
  std::vector<Board> boards_;
  int searchFd_ = -1;
  uint16_t searchPort_ = 0;
  std::string controlBuffer_;
  uint64_t nextConnectionId_ = 1;
};

}  // namespace boardsim
