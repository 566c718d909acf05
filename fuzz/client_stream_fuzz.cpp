// The relay's parser of a client's stream, on a live engine: any bytes a
// program on the network may send (control messages, frames for the bound
// board, huge or zero length fields, noise), read in whatever pieces TCP
// delivers. The client then ends its stream; the relay must let go of it in
// bounded time and keep its board connected and served.
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/engine_rig.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16 * 1024) return 0;
  fuzzing::EngineRig& rig = fuzzing::engineRig();
  rig.answers = fuzzing::BoardAnswers::Properly;
  FUZZ_CHECK(rig.boardReady());
  fuzzing::FuzzInput input(data, size);
  // Byte 0 bit 0: start with a successful open, so frames reach the board.
  const bool openFirst = (input.takeByte() & 1) != 0;
  size_t length = 0;
  const uint8_t* stream = input.rest(length);

  const platform::SocketHandle client = rig.connectClient();
  FUZZ_CHECK(client != platform::kInvalidSocket);
  fuzzing::Bytes received;
  if (openFirst) {
    const uint8_t open[] = {0x7F, 0x71, 0x03, 0x12};
    FUZZ_CHECK(rig.sendAll(client, open, sizeof open));
    FUZZ_CHECK(rig.pump([&] { return rig.drain(client, received), received.size() >= 3; }, 2000));
    FUZZ_CHECK(received[0] == 0x7F && received[1] == 0x71 && received[2] == 0x00);
  }
  rig.sendAll(client, stream, length);
  // The end of the stream: the relay reads up to it and closes its side.
  shutdown(client, SHUT_WR);
  const size_t clientsBefore = rig.relay().clientCount();
  const bool released = rig.pump(
      [&] {
        rig.drain(client, received);
        return rig.relay().clientCount() < clientsBefore;
      },
      20000, 5);
  FUZZ_CHECK(released);
  platform::closeSocket(client);
  FUZZ_CHECK(rig.relay().clientCount() == 0);
  return 0;
}
