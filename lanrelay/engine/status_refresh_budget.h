// The shell's services as the engine uses them, with one change: status-list
// refreshes are rationed. The shell rebuilds every row on each refresh, so
// when thousands of boards connect at once a refresh per board costs time
// that grows with the square of the table. Within one 100 ms tick refreshes
// pass straight through until they have cost a budget of rows; after that
// the list is refreshed once more at the next tick. With a few dozen boards
// the budget is never reached and every refresh is immediate.
//
// Thread: the loop thread, as the engine.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "lanrelay/engine/records.h"
#include "lanrelay/engine/shell_services.h"

namespace engine {

class StatusRefreshBudget final : public ShellServices {
 public:
  // Rows rebuilt per tick before refreshes wait for the next tick: a few
  // milliseconds of work in each 100 ms.
  static constexpr size_t kRowsPerTick = 20000;

  // `boards` is the engine's board table, read only for its size.
  StatusRefreshBudget(ShellServices& shell, const std::vector<BoardRecord>& boards)
      : shell_(shell), boards_(boards) {}

  // At each tick: a refresh held back is done now, and the budget renews.
  void startTick() {
    rowsLeft_ = kRowsPerTick;
    if (!held_) return;
    held_ = false;
    spend();
  }

  void refreshStatusList() override {
    if (rowsLeft_ == 0) {
      held_ = true;
      return;
    }
    spend();
  }
  void raiseEvent(EventIndex event, const BoardRecord* board, const std::string& extra) override {
    shell_.raiseEvent(event, board, extra);
  }
  bool debugLogEnabled() const override { return shell_.debugLogEnabled(); }
  void writeDebugLog(int tag, const Ipv4Address& from, const Ipv4Address& to, const uint8_t* bytes,
                     int count) override {
    shell_.writeDebugLog(tag, from, to, bytes, count);
  }
  void listenerFailed(int32_t serverPort) override { shell_.listenerFailed(serverPort); }
  void anotherRelayFound(const Ipv4Address& other) override { shell_.anotherRelayFound(other); }

 private:
  void spend() {
    const size_t rows = boards_.size() + 1;
    rowsLeft_ = rowsLeft_ > rows ? rowsLeft_ - rows : 0;
    shell_.refreshStatusList();
  }

  ShellServices& shell_;
  const std::vector<BoardRecord>& boards_;
  size_t rowsLeft_ = kRowsPerTick;
  bool held_ = false;
};

}  // namespace engine
