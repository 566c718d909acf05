// The simulator's configuration: which boards it plays, how their inputs
// behave, which faults they show, and the ports. Parsed from the command line
// and from the control channel's arguments. Pure code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/boardsim/board_model.h"

namespace boardsim {

// Misbehaviour switched on per board, to see how the relay and the
// applications cope with boards that are not well.
struct Faults {
  bool silent = false;      // takes the TCP connection, reads, never answers
  bool noSearch = false;    // does not answer the board search
  uint32_t slowMs = 0;      // every reply waits this long
  bool split = false;       // every reply goes out as two TCP segments
  uint32_t dropAfter = 0;   // closes the connection on receiving frame N (1 = the identification request)
  friend bool operator==(const Faults&, const Faults&) = default;
};

struct InputSetup {
  InputMode mode = InputMode::FollowOutputs;
  uint32_t value = 0;       // Fixed: the value; Counter: the start value
  uint32_t periodMs = 0;    // Counter: tick period
};

struct BoardSetup {
  BoardIdentity identity;
  InputSetup inputs;
  Faults faults;
  uint16_t version[2] = {0x0105, 0x0200};
};

struct SimulatorOptions {
  std::vector<BoardSetup> boards;
  uint16_t searchPort = 30718;
  uint16_t boardPort = 10001;  // 0: every board takes a free port (tests)
  bool verbose = false;
  bool anyNamespace = false;  // run without LANRELAY_NETNS=1
};

// "0x12", "18", "0b1010" style unsigned numbers; nullopt when not a number or above max.
std::optional<uint32_t> parseNumber(const std::string& text, uint32_t max);
std::optional<protocol::Ipv4Address> parseIpv4(const std::string& text);
std::optional<protocol::MacAddress> parseMac(const std::string& text);

// A locally administered MAC derived from the address, so every simulated
// board has a distinct, stable MAC without configuration: 02:00:a:b:c:d.
protocol::MacAddress macForAddress(const protocol::Ipv4Address& address);

// "follow", "fixed:VALUE", "counter:MS", or a bare VALUE (= fixed).
bool parseInputs(const std::string& text, InputSetup& out, std::string& error);
// "none" or switches joined by '+': silent, nosearch, slow:MS, split, drop:N.
bool parseFaults(const std::string& text, Faults& out, std::string& error);
// "ip=A[,id=N][,type=T][,mac=M][,inputs=I][,fault=F][,version=V1:V2]".
bool parseBoardOption(const std::string& text, BoardSetup& out, std::string& error);

std::string describeFaults(const Faults& faults);
std::string describeInputs(const InputSetup& inputs);

enum class ParseOutcome { Run, Help, Error };
// Fills options from argv; on Error, error says what is wrong.
ParseOutcome parseCommandLine(int argc, const char* const* argv, SimulatorOptions& options,
                              std::string& error);
std::string usageText(const char* program);

}  // namespace boardsim
