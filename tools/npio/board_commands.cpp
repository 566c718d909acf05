// npio read, write, filter, version and watch: one open unit each.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <thread>

#include "command_support.h"

namespace npio_tool {
namespace {

enum class Width { Byte, Word, Double };

Width parseWidth(const std::string& word) {
  if (word == "byte" || word == "b") return Width::Byte;
  if (word == "word" || word == "w") return Width::Word;
  if (word == "dword" || word == "dw") return Width::Double;
  throw UsageError{"width must be byte, word or dword, not " + word};
}

uint32_t maxOf(Width w) { return w == Width::Byte ? 0xFF : w == Width::Word ? 0xFFFF : 0xFFFFFFFFu; }
int digitsOf(Width w) { return w == Width::Byte ? 2 : w == Width::Word ? 4 : 8; }

volatile std::sig_atomic_t g_stop = 0;

void printTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char text[32];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  std::printf("%s.%03ld", text, now.tv_nsec / 1'000'000);
}

}  // namespace

int runRead(const GlobalOptions& options, OptionReader& words) {
  auto rest = words.rest();
  if (rest.size() < 2 || rest.size() > 3) throw UsageError{"read needs in|out, a width and maybe a port"};
  const bool inputs = rest[0] == "in" || rest[0] == "inputs";
  if (!inputs && rest[0] != "out" && rest[0] != "outputs") throw UsageError{"read in or read out, not " + rest[0]};
  const Width width = parseWidth(rest[1]);
  if (width == Width::Double && rest.size() == 3) throw UsageError{"dword reads take no port"};
  const uint16_t port = rest.size() == 3 ? static_cast<uint16_t>(parseNumber(rest[2], 0, 3, "port")) : 0;
  OpenUnit unit(options);
  if (unit.result() != 0) return reportFailure("open", unit.result());
  uint32_t value = 0;
  uint32_t result = 0;
  if (width == Width::Double) {
    result = inputs ? npio_rInDW(options.typeCode, options.boardId, &value)
                    : npio_rOutDW(options.typeCode, options.boardId, &value);
  } else {
    uint16_t v = 0;
    auto read = width == Width::Byte ? (inputs ? npio_rInB : npio_rOutB) : (inputs ? npio_rInW : npio_rOutW);
    result = read(options.typeCode, options.boardId, port, &v);
    value = v;
  }
  if (result != 0) return reportFailure("read", result);
  std::printf("0x%0*x\n", digitsOf(width), value);
  return 0;
}

int runWrite(const GlobalOptions& options, OptionReader& words) {
  auto rest = words.rest();
  if (rest.size() < 2 || rest.size() > 3) throw UsageError{"write needs a width, maybe a port, and a value"};
  const Width width = parseWidth(rest[0]);
  const bool hasPort = rest.size() == 3;
  if (width == Width::Double && hasPort) throw UsageError{"dword writes take no port"};
  if (width != Width::Double && !hasPort) throw UsageError{"byte and word writes need a port"};
  const uint16_t port = hasPort ? static_cast<uint16_t>(parseNumber(rest[1], 0, 3, "port")) : 0;
  const uint32_t value = parseNumber(rest.back(), 0, maxOf(width), "value");
  OpenUnit unit(options);
  if (unit.result() != 0) return reportFailure("open", unit.result());
  uint32_t result = 0;
  switch (width) {
    case Width::Byte: result = npio_wOutB(options.typeCode, options.boardId, port, static_cast<uint8_t>(value)); break;
    case Width::Word: result = npio_wOutW(options.typeCode, options.boardId, port, static_cast<uint16_t>(value)); break;
    case Width::Double: result = npio_wOutDW(options.typeCode, options.boardId, value); break;
  }
  return result != 0 ? reportFailure("write", result) : 0;
}

int runFilter(const GlobalOptions& options, OptionReader& words) {
  auto rest = words.rest();
  if (rest.size() != 2) throw UsageError{"filter needs a group mask and a setting"};
  const uint16_t mask = static_cast<uint16_t>(parseNumber(rest[0], 0, 255, "group mask"));
  const uint16_t setting = static_cast<uint16_t>(parseNumber(rest[1], 0, 15, "setting"));
  OpenUnit unit(options);
  if (unit.result() != 0) return reportFailure("open", unit.result());
  const uint32_t result = npio_SetFilter(options.typeCode, options.boardId, mask, setting);
  return result != 0 ? reportFailure("filter", result) : 0;
}

int runVersion(const GlobalOptions& options, OptionReader& words) {
  noMoreWords(words);
  OpenUnit unit(options);
  if (unit.result() != 0) return reportFailure("open", unit.result());
  uint16_t versions[2] = {};
  const uint32_t result = npio_rVersion(options.typeCode, options.boardId, versions);
  if (result != 0) return reportFailure("version", result);
  std::printf("0x%04x 0x%04x\n", versions[0], versions[1]);
  return 0;
}

int runWatch(const GlobalOptions& options, OptionReader& words) {
  const uint32_t interval = parseNumber(words.take("--interval").value_or("100"), 1, 3600000, "interval");
  const uint32_t changes = parseNumber(words.take("--changes").value_or("0"), 0, 0xFFFFFFFFu, "changes");
  noMoreWords(words);
  OpenUnit unit(options);
  if (unit.result() != 0) return reportFailure("open", unit.result());
  std::signal(SIGINT, [](int) { g_stop = 1; });
  std::signal(SIGTERM, [](int) { g_stop = 1; });
  bool first = true;
  uint32_t last = 0;
  uint32_t printed = 0;
  while (g_stop == 0) {
    uint32_t inputs = 0;
    const uint32_t result = npio_rInDW(options.typeCode, options.boardId, &inputs);
    // A busy unit (another program's request) is no reason to stop watching.
    if (result != 0 && result != NPIO_BUSY) return reportFailure("watch", result);
    if (result == 0 && (first || inputs != last)) {
      printTime();
      std::printf(" inputs 0x%08x changed 0x%08x\n", inputs, first ? 0u : inputs ^ last);
      std::fflush(stdout);
      first = false;
      last = inputs;
      if (changes != 0 && ++printed >= changes) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(interval));
  }
  return 0;
}

}  // namespace npio_tool
