// The relay's assembly of a board's reply, on a live engine: a client's
// request goes to the board, and the board answers with the input's bytes
// (noise, wrong tags, huge lengths, several replies, half a reply). The
// client's acknowledged request must get exactly one answer: one reply frame
// or the time-out message 7F 74 FD, never two and never none.
#include <cstddef>
#include <cstdint>

#include "fuzz/engine_rig.h"
#include "fuzz/fuzz_input.h"
#include "protocol/byte_order.h"

namespace {

// Length of the one answer at the start of `bytes`, or 0 when it is not one.
size_t answerLength(const fuzzing::Bytes& bytes) {
  if (bytes.size() >= 3 && bytes[0] == 0x7F && bytes[1] == 0x74 && bytes[2] == 0xFD) return 3;
  if (bytes.size() >= 8 && bytes[0] <= 0x0F) return 8 + protocol::readLe16(bytes.data() + 2);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8 * 1024) return 0;
  fuzzing::EngineRig& rig = fuzzing::engineRig();
  rig.answers = fuzzing::BoardAnswers::Properly;
  FUZZ_CHECK(rig.boardReady());
  fuzzing::FuzzInput input(data, size);
  const uint8_t tag = input.takeByte();
  const uint8_t payload = static_cast<uint8_t>(1 + input.takeByte() % 16);
  size_t length = 0;
  const uint8_t* reply = input.rest(length);

  const platform::SocketHandle client = rig.connectClient();
  FUZZ_CHECK(client != platform::kInvalidSocket);
  fuzzing::Bytes received;
  const uint8_t open[] = {0x7F, 0x71, 0x03, 0x12};
  FUZZ_CHECK(rig.sendAll(client, open, sizeof open));
  FUZZ_CHECK(rig.pump([&] { return rig.drain(client, received), received.size() >= 3; }, 2000));
  FUZZ_CHECK(received == (fuzzing::Bytes{0x7F, 0x71, 0x00}));
  received.clear();

  rig.answers = fuzzing::BoardAnswers::Scripted;
  rig.script.assign(reply, reply + length);
  fuzzing::Bytes request(8 + payload, 0x40);
  request[0] = 3;
  request[1] = 0;
  protocol::writeLe16(request.data() + 2, payload);
  request[4] = request[5] = request[6] = request[7] = 0;
  request[8] = tag;
  FUZZ_CHECK(rig.sendAll(client, request.data(), request.size()));
  FUZZ_CHECK(rig.pump([&] { return rig.drain(client, received), received.size() >= 3; }, 2000));
  FUZZ_CHECK(received[0] == 0x7F && received[1] == 0x73 && received[2] == 0x00);
  received.erase(received.begin(), received.begin() + 3);

  // Ticks run out the response time-out when no reply is complete.
  const auto answered = [&] {
    rig.drain(client, received);
    const size_t n = answerLength(received);
    return n > 0 && received.size() >= n;
  };
  FUZZ_CHECK(rig.pump(answered, 4000, 3));
  // Give a second answer every chance to show up.
  rig.pump([] { return false; }, 12, 3);
  rig.drain(client, received);
  FUZZ_CHECK(received.size() == answerLength(received));
  if (received.size() > 3) FUZZ_CHECK(received[1] == tag);

  rig.answers = fuzzing::BoardAnswers::Properly;
  rig.closeClient(client);
  return 0;
}
