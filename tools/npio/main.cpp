// npio: try network boards from a shell, through the relay.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"

namespace {

using namespace npio_tool;

const char* const kGlobalHelp =
    "usage: npio [options] COMMAND [arguments]\n"
    "\n"
    "options:\n"
    "  --relay HOST[:PORT]  relay address, dotted IPv4 (default 127.0.0.1:10010)\n"
    "  --timeout MS         time-out of each wait for the relay (default 3000)\n"
    "  --type CODE          board type code: 0x12 wired (default), 0x13 wireless\n"
    "  --board ID           Board ID 0..15 (default 0)\n"
    "  --help               this text; COMMAND --help for a command\n"
    "\n"
    "commands:\n";

void printGlobalHelp(FILE* to) {
  std::fputs(kGlobalHelp, to);
  for (const Command& c : commands()) std::fprintf(to, "  %-8s %s\n", c.name, c.summary);
}

const Command* findCommand(const std::string& name) {
  for (const Command& c : commands()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  // The first word that is not an option (or an option's value) is the command.
  static const char* const kValued[] = {"--relay", "--timeout", "--type", "--board"};
  size_t commandAt = words.size();
  for (size_t i = 0; i < words.size(); ++i) {
    bool valued = false;
    for (const char* v : kValued) valued = valued || words[i] == v;
    if (valued) {
      ++i;
      continue;
    }
    if (words[i].rfind("--", 0) != 0) {
      commandAt = i;
      break;
    }
  }
  const std::vector<std::string> globalWords(words.begin(), words.begin() + static_cast<long>(commandAt));
  try {
    OptionReader global(globalWords);
    const bool help = global.takeFlag("--help") || global.takeFlag("-h");
    if (commandAt == words.size()) {
      printGlobalHelp(help ? stdout : stderr);
      return help ? 0 : 2;
    }
    GlobalOptions options;
    if (auto relay = global.take("--relay")) parseRelay(*relay, options);
    if (auto t = global.take("--timeout")) options.timeoutMs = static_cast<uint16_t>(parseNumber(*t, 0, 65535, "time-out"));
    if (auto t = global.take("--type")) options.typeCode = static_cast<int>(parseNumber(*t, 0, 255, "type code"));
    if (auto b = global.take("--board")) options.boardId = static_cast<int>(parseNumber(*b, 0, 15, "Board ID"));
    if (!global.rest().empty()) throw UsageError{"unexpected argument " + global.rest().front()};

    const Command* command = findCommand(words[commandAt]);
    if (command == nullptr) throw UsageError{"unknown command " + words[commandAt]};
    OptionReader commandWords(std::vector<std::string>(words.begin() + static_cast<long>(commandAt) + 1, words.end()));
    if (help || commandWords.takeFlag("--help") || commandWords.takeFlag("-h")) {
      std::fputs(command->help, stdout);
      return 0;
    }
    return command->run(options, commandWords);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "npio: %s\n(npio --help for usage)\n", e.text.c_str());
    return 2;
  }
}
