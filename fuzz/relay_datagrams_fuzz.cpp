// The relay's two UDP ports on a live engine: datagrams of any size and
// content as search answers (from one of a few loopback senders) and as relay
// queries or probe answers. A relay query is answered exactly when it is one;
// nothing else gets an answer; the engine survives and its board table stays
// bounded.
#include <cstddef>
#include <cstdint>

#include "fuzz/engine_rig.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2048) return 0;
  fuzzing::EngineRig& rig = fuzzing::engineRig();
  if (rig.relay().stopped()) rig.restartEngine();
  fuzzing::FuzzInput input(data, size);
  const uint8_t steer = input.takeByte();
  size_t length = 0;
  const uint8_t* datagram = input.rest(length);

  // Senders 127.0.0.10-13: never the rig's own board.
  const protocol::Ipv4Address sender{{127, 0, 0, static_cast<uint8_t>(10 + (steer >> 1) % 4)}};
  const platform::SocketHandle socket = platform::openUdpSocket({sender, 0}, false);
  FUZZ_CHECK(socket != platform::kInvalidSocket);
  const bool toRelayPort = (steer & 1) != 0;
  const platform::SocketAddress to = toRelayPort ? rig.relayQueryTarget() : rig.searchAnswerTarget();
  platform::sendDatagram(socket, to, datagram, length);
  rig.pump([] { return false; }, 4);

  uint8_t answer[64];
  platform::SocketAddress from;
  const platform::IoResult r = platform::receiveDatagram(socket, answer, sizeof answer, from);
  const bool isQuery = toRelayPort && length >= 2 && datagram[0] == 0x91 && datagram[1] == 0x00;
  if (r.outcome == platform::IoOutcome::Done) {
    FUZZ_CHECK(isQuery);
    FUZZ_CHECK(r.bytes == 4 && answer[0] == 0x92);
  }
  platform::closeSocket(socket);
  FUZZ_CHECK(rig.relay().boards().size() <= 4096);
  return 0;
}
