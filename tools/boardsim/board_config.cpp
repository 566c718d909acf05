#include "tools/boardsim/board_config.h"

#include <charconv>
#include <cstdio>
#include <set>
#include <sstream>

namespace boardsim {
namespace {

std::vector<std::string> splitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

std::string hex(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

}  // namespace

std::optional<uint32_t> parseNumber(const std::string& text, uint32_t max) {
  int base = 10;
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits = digits.substr(2);
  } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'b' || digits[1] == 'B')) {
    base = 2;
    digits = digits.substr(2);
  }
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  const char* end = digits.data() + digits.size();
  auto [ptr, ec] = std::from_chars(digits.data(), end, value, base);
  if (ec != std::errc() || ptr != end || value > max) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<protocol::Ipv4Address> parseIpv4(const std::string& text) {
  const auto parts = splitOn(text, '.');
  if (parts.size() != 4) return std::nullopt;
  protocol::Ipv4Address address;
  for (size_t i = 0; i < 4; ++i) {
    if (parts[i].empty() || parts[i].size() > 3 || parts[i].find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    const auto octet = parseNumber(parts[i], 255);
    if (!octet) return std::nullopt;
    address.octets[i] = static_cast<uint8_t>(*octet);
  }
  return address;
}

std::optional<protocol::MacAddress> parseMac(const std::string& text) {
  const auto parts = splitOn(text, ':');
  if (parts.size() != 6) return std::nullopt;
  protocol::MacAddress mac{};
  for (size_t i = 0; i < 6; ++i) {
    if (parts[i].empty() || parts[i].size() > 2) return std::nullopt;
    const auto octet = parseNumber("0x" + parts[i], 255);
    if (!octet) return std::nullopt;
    mac[i] = static_cast<uint8_t>(*octet);
  }
  return mac;
}

protocol::MacAddress macForAddress(const protocol::Ipv4Address& address) {
  return {0x02, 0x00, address.octets[0], address.octets[1], address.octets[2], address.octets[3]};
}

bool parseInputs(const std::string& text, InputSetup& out, std::string& error) {
  InputSetup setup;
  if (text == "follow") {
    setup.mode = InputMode::FollowOutputs;
  } else if (text.rfind("counter:", 0) == 0) {
    const auto period = parseNumber(text.substr(8), 3600000);
    if (!period || *period == 0) {
      error = "inputs counter:MS needs a period of 1 to 3600000 ms, got '" + text + "'";
      return false;
    }
    setup.mode = InputMode::Counter;
    setup.periodMs = *period;
  } else {
    const std::string value = text.rfind("fixed:", 0) == 0 ? text.substr(6) : text;
    const auto number = parseNumber(value, 0xFFFFFFFFu);
    if (!number) {
      error = "inputs must be follow, fixed:VALUE, counter:MS or a 32-bit value, got '" + text + "'";
      return false;
    }
    setup.mode = InputMode::Fixed;
    setup.value = *number;
  }
  out = setup;
  return true;
}

bool parseFaults(const std::string& text, Faults& out, std::string& error) {
  Faults faults;
  if (text == "none" || text.empty()) {
    out = faults;
    return true;
  }
  for (const std::string& item : splitOn(text, '+')) {
    if (item == "silent") {
      faults.silent = true;
    } else if (item == "nosearch") {
      faults.noSearch = true;
    } else if (item == "split") {
      faults.split = true;
    } else if (item.rfind("slow:", 0) == 0) {
      const auto ms = parseNumber(item.substr(5), 600000);
      if (!ms) {
        error = "fault slow:MS needs 0 to 600000 ms, got '" + item + "'";
        return false;
      }
      faults.slowMs = *ms;
    } else if (item.rfind("drop:", 0) == 0) {
      const auto n = parseNumber(item.substr(5), 1000000);
      if (!n || *n == 0) {
        error = "fault drop:N needs N of 1 or more, got '" + item + "'";
        return false;
      }
      faults.dropAfter = *n;
    } else {
      error = "unknown fault '" + item + "' (known: silent, nosearch, slow:MS, split, drop:N, none)";
      return false;
    }
  }
  out = faults;
  return true;
}

bool parseBoardOption(const std::string& text, BoardSetup& out, std::string& error) {
  BoardSetup setup;
  bool haveAddress = false;
  bool haveMac = false;
  for (const std::string& field : splitOn(text, ',')) {
    const size_t eq = field.find('=');
    if (eq == std::string::npos) {
      error = "board field '" + field + "' is not KEY=VALUE";
      return false;
    }
    const std::string key = field.substr(0, eq);
    const std::string value = field.substr(eq + 1);
    if (key == "ip") {
      const auto address = parseIpv4(value);
      if (!address) {
        error = "ip '" + value + "' is not an IPv4 address";
        return false;
      }
      setup.identity.address = *address;
      haveAddress = true;
    } else if (key == "id") {
      const auto id = parseNumber(value, 15);
      if (!id) {
        error = "id '" + value + "' is not a Board ID (0 to 15)";
        return false;
      }
      setup.identity.boardId = static_cast<uint8_t>(*id);
    } else if (key == "type") {
      const auto type = parseNumber(value, 255);
      if (!type) {
        error = "type '" + value + "' is not a byte (0x12 wired, 0x13 wireless)";
        return false;
      }
      setup.identity.typeCode = static_cast<uint8_t>(*type);
    } else if (key == "mac") {
      const auto mac = parseMac(value);
      if (!mac) {
        error = "mac '" + value + "' is not six hex bytes separated by ':'";
        return false;
      }
      setup.identity.mac = *mac;
      haveMac = true;
    } else if (key == "inputs") {
      if (!parseInputs(value, setup.inputs, error)) return false;
    } else if (key == "fault") {
      if (!parseFaults(value, setup.faults, error)) return false;
    } else if (key == "version") {
      const auto parts = splitOn(value, ':');
      const auto first = parts.size() == 2 ? parseNumber(parts[0], 0xFFFF) : std::nullopt;
      const auto second = parts.size() == 2 ? parseNumber(parts[1], 0xFFFF) : std::nullopt;
      if (!first || !second) {
        error = "version '" + value + "' is not two 16-bit values joined by ':'";
        return false;
      }
      setup.version[0] = static_cast<uint16_t>(*first);
      setup.version[1] = static_cast<uint16_t>(*second);
    } else {
      error = "unknown board field '" + key + "' (known: ip, id, type, mac, inputs, fault, version)";
      return false;
    }
  }
  if (!haveAddress) {
    error = "board '" + text + "' has no ip=";
    return false;
  }
  if (!haveMac) setup.identity.mac = macForAddress(setup.identity.address);
  out = setup;
  return true;
}

std::string describeFaults(const Faults& faults) {
  std::string text;
  auto add = [&text](const std::string& item) { text += (text.empty() ? "" : "+") + item; };
  if (faults.silent) add("silent");
  if (faults.noSearch) add("nosearch");
  if (faults.slowMs) add("slow:" + std::to_string(faults.slowMs));
  if (faults.split) add("split");
  if (faults.dropAfter) add("drop:" + std::to_string(faults.dropAfter));
  return text.empty() ? "none" : text;
}

std::string describeInputs(const InputSetup& inputs) {
  switch (inputs.mode) {
    case InputMode::FollowOutputs:
      return "follow";
    case InputMode::Counter:
      return "counter:" + std::to_string(inputs.periodMs);
    case InputMode::Fixed:
      break;
  }
  return "fixed:" + hex(inputs.value);
}

std::string usageText(const char* program) {
  std::ostringstream out;
  out << "usage: " << program << " [options] --board KEYS [--board KEYS ...]\n"
      << "       " << program << " [options] --count N --first-ip A.B.C.D [--type T]\n"
      << "\n"
      << "Simulates network I/O boards (32 inputs, 32 outputs) for the relay: each board\n"
      << "answers the board search on UDP, takes the relay's TCP connection on the board\n"
      << "port of its own IPv4 address, and serves the board commands. The addresses must\n"
      << "exist on an interface of this host. Run it only inside a private network\n"
      << "namespace (scripts/in-netns): it listens for broadcasts.\n"
      << "\n"
      << "Board KEYS, comma-separated KEY=VALUE:\n"
      << "  ip=A.B.C.D        the board's address (required)\n"
      << "  id=N              Board ID 0..15 (default 0; two boards with one ID and type\n"
      << "                    make the relay's duplicate-ID case)\n"
      << "  type=T            type code, 0x12 wired (default) or 0x13 wireless\n"
      << "  mac=xx:..:xx      MAC address (default 02:00 followed by the address octets)\n"
      << "  inputs=I          follow (inputs read back the outputs; default),\n"
      << "                    fixed:VALUE, counter:MS (counts up every MS), or VALUE\n"
      << "  fault=F           none, or switches joined by '+': silent (never answers on\n"
      << "                    TCP), nosearch (ignores the search), slow:MS (delays every\n"
      << "                    reply), split (sends every reply in two segments), drop:N\n"
      << "                    (closes the connection on the Nth frame received)\n"
      << "  version=V1:V2     the two 16-bit values of the version command\n"
      << "\n"
      << "Options:\n"
      << "  --board KEYS      add a board (repeatable)\n"
      << "  --count N         add N boards at --first-ip and the following addresses,\n"
      << "                    Board IDs from --first-id (default 0), type --type\n"
      << "  --first-ip A      first address for --count\n"
      << "  --first-id N      first Board ID for --count\n"
      << "  --type T          type code for --count (default 0x12)\n"
      << "  --board-port P    TCP port of every board (default 10001; 0 = any free port)\n"
      << "  --search-port P   UDP port of the board search (default 30718; 0 = any)\n"
      << "  --any-namespace   run even when LANRELAY_NETNS is not 1 (only in a network\n"
      << "                    namespace of your own making: boards answer broadcasts)\n"
      << "  -v, --verbose     log every frame to stderr\n"
      << "  -h, --help        this text\n"
      << "\n"
      << "Control lines on standard input (BOARD = index from the start-up list or ip):\n"
      << "  unplug BOARD      drop its connections, close its port, ignore searches\n"
      << "  plug BOARD        back on the network\n"
      << "  inputs BOARD I    change how its inputs behave (as inputs= above)\n"
      << "  fault BOARD F     change its faults (as fault= above)\n"
      << "  id BOARD N        change its Board ID (takes effect on the next identification)\n"
      << "  status            one line per board\n"
      << "  quit              stop\n"
      << "Each control line is answered on standard output with 'ok ...' or 'error ...'.\n"
      << "Start-up ends with the line 'ready'.\n";
  return out.str();
}

ParseOutcome parseCommandLine(int argc, const char* const* argv, SimulatorOptions& options,
                              std::string& error) {
  SimulatorOptions parsed;
  std::optional<uint32_t> count;
  std::optional<protocol::Ipv4Address> firstIp;
  uint32_t firstId = 0;
  uint32_t typeCode = 0x12;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") return ParseOutcome::Help;
    if (arg == "-v" || arg == "--verbose") {
      parsed.verbose = true;
      continue;
    }
    if (arg == "--any-namespace") {
      parsed.anyNamespace = true;
      continue;
    }
    static const std::set<std::string> withValue = {"--board",      "--count",      "--first-ip",   "--first-id",
                                                    "--type",       "--board-port", "--search-port"};
    if (!withValue.count(arg)) {
      error = "unknown option '" + arg + "'; see --help";
      return ParseOutcome::Error;
    }
    if (i + 1 >= argc) {
      error = "option " + arg + " needs a value; see --help";
      return ParseOutcome::Error;
    }
    const std::string value = argv[++i];
    auto number = [&](uint32_t max) -> std::optional<uint32_t> {
      auto n = parseNumber(value, max);
      if (!n) error = arg + " '" + value + "' must be a number from 0 to " + std::to_string(max);
      return n;
    };
    if (arg == "--board") {
      BoardSetup setup;
      if (!parseBoardOption(value, setup, error)) return ParseOutcome::Error;
      parsed.boards.push_back(setup);
    } else if (arg == "--count") {
      if (!(count = number(256))) return ParseOutcome::Error;
    } else if (arg == "--first-ip") {
      if (!(firstIp = parseIpv4(value))) {
        error = "--first-ip '" + value + "' is not an IPv4 address";
        return ParseOutcome::Error;
      }
    } else if (arg == "--first-id") {
      auto n = number(15);
      if (!n) return ParseOutcome::Error;
      firstId = *n;
    } else if (arg == "--type") {
      auto n = number(255);
      if (!n) return ParseOutcome::Error;
      typeCode = *n;
    } else if (arg == "--board-port") {
      auto n = number(65535);
      if (!n) return ParseOutcome::Error;
      parsed.boardPort = static_cast<uint16_t>(*n);
    } else if (arg == "--search-port") {
      auto n = number(65535);
      if (!n) return ParseOutcome::Error;
      parsed.searchPort = static_cast<uint16_t>(*n);
    } else {
      error = "unknown option '" + arg + "'; see --help";
      return ParseOutcome::Error;
    }
  }
  if (count) {
    if (!firstIp) {
      error = "--count needs --first-ip";
      return ParseOutcome::Error;
    }
    for (uint32_t n = 0; n < *count; ++n) {
      BoardSetup setup;
      protocol::Ipv4Address address = *firstIp;
      const uint32_t last = address.octets[3] + n;
      if (last > 254) {
        error = "--count " + std::to_string(*count) + " boards from " + firstIp->toString() +
                " run past the end of the subnet";
        return ParseOutcome::Error;
      }
      address.octets[3] = static_cast<uint8_t>(last);
      setup.identity.address = address;
      setup.identity.mac = macForAddress(address);
      setup.identity.boardId = static_cast<uint8_t>((firstId + n) & 0x0F);
      setup.identity.typeCode = static_cast<uint8_t>(typeCode);
      parsed.boards.push_back(setup);
    }
  } else if (firstIp) {
    error = "--first-ip is used only with --count";
    return ParseOutcome::Error;
  }
  if (parsed.boards.empty()) {
    error = "no boards: give --board KEYS or --count N --first-ip A; see --help";
    return ParseOutcome::Error;
  }
  // Two boards cannot listen on one address and port; say so before binding.
  std::set<std::array<uint8_t, 4>> seen;
  for (const BoardSetup& board : parsed.boards) {
    if (!seen.insert(board.identity.address.octets).second && parsed.boardPort != 0) {
      error = "two boards share the address " + board.identity.address.toString();
      return ParseOutcome::Error;
    }
  }
  options = parsed;
  return ParseOutcome::Run;
}

}  // namespace boardsim
