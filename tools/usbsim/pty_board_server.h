// Serves simulated serial boards on pseudo-terminals: the library opens the
// terminal side by its path and goes through real termios code; the board
// answers on the controlling side. Each board runs on its own thread until
// stop() or destruction.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/usbsim/serial_board.h"

namespace usbsim {

class PtyBoardServer {
 public:
  explicit PtyBoardServer(SerialBoardSettings settings = {});
  ~PtyBoardServer();
  PtyBoardServer(const PtyBoardServer&) = delete;
  PtyBoardServer& operator=(const PtyBoardServer&) = delete;

  // False when no pseudo-terminal could be had.
  bool ok() const { return master_ >= 0; }
  // Path of the terminal side, for example /dev/pts/3.
  const std::string& portPath() const { return path_; }

  void start();
  void stop();

  // Copies of the board's state, safe while the server runs.
  std::vector<std::vector<uint8_t>> requests();
  // Waits until at least `count` requests came since the last clearRequests()
  // (a write is not answered, so the caller cannot know otherwise); false
  // when the time ran out first.
  bool waitForRequests(size_t count, int timeoutMs = 2000);
  SerialBoardSettings settings();
  void changeSettings(const SerialBoardSettings& settings);
  void clearRequests();

 private:
  void serve();

  std::mutex lock_;
  std::condition_variable received_;
  SerialBoard board_;
  size_t requestsSeen_ = 0;  // requests before the last clearRequests()
  int master_ = -1;
  int keeper_ = -1;  // our own open terminal side, so the controlling side never hangs up
  int stopFd_ = -1;
  std::string path_;
  std::thread thread_;
};

}  // namespace usbsim
