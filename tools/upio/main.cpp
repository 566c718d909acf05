// upio: the USB boards from the command line, through libusbpio.
//
//   upio list
//   upio read UNIT in|out dw          upio read UNIT in|out b|w PORT
//   upio write UNIT dw VALUE          upio write UNIT b|w PORT VALUE
//   upio inout UNIT VALUE             (writes the outputs, prints the inputs)
//   upio filter UNIT PORTMASK TIME
//   upio version UNIT
//
// UNIT is the number `upio list` shows. Numbers may be decimal or 0x-hex.
// Exit status: 0 done, 1 the library refused (the message says why), 2 usage.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/upio/result_text.h"
#include "usbpio.h"

namespace {

const char* kUsage =
    "usage: upio list\n"
    "       upio read UNIT in|out dw | upio read UNIT in|out b|w PORT\n"
    "       upio write UNIT dw VALUE | upio write UNIT b|w PORT VALUE\n"
    "       upio inout UNIT VALUE\n"
    "       upio filter UNIT PORTMASK TIME\n"
    "       upio version UNIT\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

bool number(const char* text, unsigned long max, unsigned long* out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (text[0] == '-' || errno != 0 || end == text || *end != '\0' || value > max) return false;
  *out = value;
  return true;
}

int failed(const char* what, uint32_t unit, uint32_t result) {
  std::fprintf(stderr, "upio: %s on unit %u: result %u (0x%X): %s\n", what, unit, result, result,
               upio::resultMeaning(result));
  return 1;
}

std::vector<UpioDeviceInfo> units() {
  std::vector<UpioDeviceInfo> records(UPIO_MAX_UNITS);
  uint32_t count = UPIO_MAX_UNITS;
  if (upio_GetDeviceInfo(&count, records.data()) != UPIO_OK) count = 0;
  records.resize(count);
  return records;
}

// Opens the unit that `upio list` showed as `listed`; the library picks the
// lowest unit that matches the record, which is the same one unless two
// boards look alike.
class OpenUnit {
 public:
  explicit OpenUnit(uint32_t listed) {
    const auto all = units();
    if (listed >= all.size()) {
      result_ = UPIO_NO_UNIT;
      return;
    }
    result_ = upio_OpenDevice(&unit_, &all[listed]);
    if (result_ != UPIO_OK) unit_ = listed;
  }
  ~OpenUnit() {
    if (result_ == UPIO_OK) upio_CloseDevice(unit_);
  }
  uint32_t result() const { return result_; }
  uint32_t unit() const { return unit_; }

 private:
  uint32_t unit_ = 0;
  uint32_t result_ = UPIO_NO_UNIT;
};

int list() {
  const auto all = units();
  if (all.empty()) {
    std::printf("no USB boards found\n");
    return 0;
  }
  std::printf("unit  board-id  link    board-type  board-code  where\n");
  for (uint32_t n = 0; n < all.size(); ++n) {
    const UpioDeviceInfo& info = all[n];
    const bool serial = info.pipe_count == 1;
    std::string where;
    if (serial) {
      where = "port " + std::to_string(info.max_packet_size[0]);
    } else {
      char endpoints[48];
      std::snprintf(endpoints, sizeof endpoints, "endpoints 0x%02X 0x%02X", info.endpoint_address[0],
                    info.endpoint_address[1]);
      where = endpoints;
    }
    std::string id = info.board_id == 99 ? "?" : std::to_string(info.board_id);
    std::string type = "-", code = "-";
    OpenUnit open(n);
    if (open.result() == UPIO_OK) {
      uint16_t value = 0;
      if (upio_GetBoardType(open.unit(), &value) == UPIO_OK) type = std::to_string(value);
      else if (serial) type = "unknown";
      if (upio_GetBoardCode(open.unit(), &value) == UPIO_OK) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%04X", value);
        code = text;
      }
    }
    std::printf("%-4u  %-8s  %-6s  %-10s  %-10s  %s\n", n, id.c_str(), serial ? "serial" : "pipe", type.c_str(),
                code.c_str(), where.c_str());
  }
  return 0;
}

int read(uint32_t listed, const std::string& side, const std::string& width, const char* portText) {
  const bool inputs = side == "in";
  if (!inputs && side != "out") return usage();
  OpenUnit open(listed);
  if (open.result() != UPIO_OK) return failed("open", listed, open.result());
  if (width == "dw") {
    if (portText != nullptr) return usage();
    uint32_t value = 0;
    const uint32_t r = inputs ? upio_rInDW(open.unit(), &value) : upio_rOutDW(open.unit(), &value);
    if (r != UPIO_OK) return failed(inputs ? "rInDW" : "rOutDW", listed, r);
    std::printf("0x%08X\n", value);
    return 0;
  }
  unsigned long port = 0;
  if ((width != "b" && width != "w") || portText == nullptr || !number(portText, 0xFFFF, &port)) return usage();
  uint16_t value = 0;
  uint32_t r;
  if (width == "b") r = inputs ? upio_rInB(open.unit(), static_cast<uint16_t>(port), &value)
                               : upio_rOutB(open.unit(), static_cast<uint16_t>(port), &value);
  else r = inputs ? upio_rInW(open.unit(), static_cast<uint16_t>(port), &value)
                  : upio_rOutW(open.unit(), static_cast<uint16_t>(port), &value);
  if (r != UPIO_OK) return failed("read", listed, r);
  std::printf(width == "b" ? "0x%02X\n" : "0x%04X\n", value);
  return 0;
}

int write(uint32_t listed, const std::string& width, const std::vector<const char*>& rest) {
  unsigned long port = 0, value = 0;
  if (width == "dw") {
    if (rest.size() != 1 || !number(rest[0], 0xFFFFFFFFul, &value)) return usage();
  } else if (width == "b" || width == "w") {
    const unsigned long max = width == "b" ? 0xFF : 0xFFFF;
    if (rest.size() != 2 || !number(rest[0], 0xFFFF, &port) || !number(rest[1], max, &value)) return usage();
  } else {
    return usage();
  }
  OpenUnit open(listed);
  if (open.result() != UPIO_OK) return failed("open", listed, open.result());
  // A fresh open starts from a cleared output cache: byte and word writes
  // would zero the other ports. Read the outputs first so they keep them.
  if (width != "dw") {
    uint32_t current = 0;
    const uint32_t r = upio_rOutDW(open.unit(), &current);
    if (r != UPIO_OK) return failed("rOutDW", listed, r);
  }
  uint32_t r;
  if (width == "dw") r = upio_wOutDW(open.unit(), static_cast<uint32_t>(value));
  else if (width == "b") r = upio_wOutB(open.unit(), static_cast<uint16_t>(port), static_cast<uint16_t>(value));
  else r = upio_wOutW(open.unit(), static_cast<uint16_t>(port), static_cast<uint16_t>(value));
  return r == UPIO_OK ? 0 : failed("write", listed, r);
}

int inout(uint32_t listed, const char* valueText) {
  unsigned long value = 0;
  if (!number(valueText, 0xFFFFFFFFul, &value)) return usage();
  OpenUnit open(listed);
  if (open.result() != UPIO_OK) return failed("open", listed, open.result());
  uint32_t inputs = 0;
  const uint32_t r = upio_InOutDW(open.unit(), &inputs, static_cast<uint32_t>(value));
  if (r != UPIO_OK) return failed("InOutDW", listed, r);
  std::printf("0x%08X\n", inputs);
  return 0;
}

int filter(uint32_t listed, const char* maskText, const char* timeText) {
  unsigned long mask = 0, time = 0;
  if (!number(maskText, 0xFFFF, &mask) || !number(timeText, 0xFFFFFFFFul, &time)) return usage();
  OpenUnit open(listed);
  if (open.result() != UPIO_OK) return failed("open", listed, open.result());
  const uint32_t r = upio_SetFilter(open.unit(), static_cast<uint16_t>(mask), static_cast<uint32_t>(time));
  return r == UPIO_OK ? 0 : failed("SetFilter", listed, r);
}

int version(uint32_t listed) {
  OpenUnit open(listed);
  if (open.result() != UPIO_OK) return failed("open", listed, open.result());
  uint16_t words[2] = {};
  const uint32_t r = upio_rVersion(open.unit(), words);
  if (r != UPIO_OK) return failed("rVersion", listed, r);
  std::printf("0x%04X 0x%04X\n", words[0], words[1]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  if (command == "list") return argc == 2 ? list() : usage();
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  unsigned long unit = 0;
  if (argc < 3 || !number(argv[2], 0xFFFFFFFFul, &unit)) return usage();
  const uint32_t listed = static_cast<uint32_t>(unit);
  if (command == "read" && (argc == 5 || argc == 6)) return read(listed, argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
  if (command == "write" && argc >= 5) return write(listed, argv[3], std::vector<const char*>(argv + 4, argv + argc));
  if (command == "inout" && argc == 4) return inout(listed, argv[3]);
  if (command == "filter" && argc == 5) return filter(listed, argv[3], argv[4]);
  if (command == "version" && argc == 3) return version(listed);
  return usage();
}
