#include "netpio/unit_transaction.h"

#include "netpio/error_bits.h"
#include "netpio/library_state.h"
#include "relaylink.h"

namespace netpio {
namespace {

// Big enough for any control message or short frame left on the connection;
// what it receives is never looked at.
constexpr int kScratchSize = 72;

// Holds a unit's cross-process lock for the length of one operation.
class UnitSession {
 public:
  explicit UnitSession(const Unit& unit) {
    LibraryState& state = libraryState();
    socket_ = state.socketOf(unit);
    if (socket_ == kNoSocket) {
      error_ = NPIO_SOCKET_FAILURE;
      return;
    }
    timeoutMs_ = state.relay().timeoutMs;
    lock_ = state.unitLock(unit);
    // An abandoned lock (its holder died mid-request) is reported busy once;
    // its connection may still carry that holder's late reply.
    if (lock_ == nullptr || lock_->tryLock() != platform::LockAttempt::Acquired) {
      lock_ = nullptr;
      error_ = NPIO_BUSY;
    }
  }
  ~UnitSession() {
    if (lock_ != nullptr) lock_->unlock();
  }
  UnitSession(const UnitSession&) = delete;
  UnitSession& operator=(const UnitSession&) = delete;

  uint32_t error() const { return error_; }
  int64_t socket() const { return socket_; }
  uint32_t timeoutMs() const { return timeoutMs_; }

  // A reply that came after its caller gave up would otherwise be taken as
  // the answer to the next request: one look at the socket (time-out 0),
  // whatever is there is dropped.
  void dropStaleInput() const {
    uint8_t scratch[kScratchSize];
    rlk_receive(socket_, scratch, kScratchSize, 0);
  }

 private:
  int64_t socket_ = kNoSocket;
  uint32_t timeoutMs_ = 0;
  platform::ProcessLock* lock_ = nullptr;
  uint32_t error_ = 0;
};

}  // namespace

uint32_t exchangeWithBoard(const Unit& unit, std::span<const uint8_t> request, uint8_t* reply,
                           size_t replyCapacity, protocol::ReplyShape shape) {
  UnitSession session(unit);
  if (session.error() != 0) return session.error();
  session.dropStaleInput();
  const int sent = rlk_send(session.socket(), request.data(), static_cast<int>(request.size()), session.timeoutMs());
  if (sent != 0) return failureBit(sent);
  const int received = rlk_receive(session.socket(), reply, static_cast<int>(replyCapacity), session.timeoutMs());
  if (received < 0 && received != RLK_UNEXPECTED) return linkErrorBit(received);
  if (!protocol::replyAccepted(reply, received, unit.boardId, shape)) return NPIO_REPLY_MISMATCH;
  return NPIO_OK;
}

uint32_t passFrameToBoard(const Unit& unit, const uint8_t* frame, uint16_t length) {
  UnitSession session(unit);
  if (session.error() != 0) return session.error();
  session.dropStaleInput();
  const int sent = rlk_send(session.socket(), frame, length, session.timeoutMs());
  return sent < 0 ? linkErrorBit(sent) : NPIO_OK;
}

uint32_t passReplyFromBoard(const Unit& unit, uint8_t* buffer, uint16_t* size) {
  UnitSession session(unit);
  if (session.error() != 0) return session.error();
  const int received = rlk_receive(session.socket(), buffer, *size, session.timeoutMs());
  if (received < 0) return linkErrorBit(received);
  *size = static_cast<uint16_t>(received);
  return NPIO_OK;
}

}  // namespace netpio
