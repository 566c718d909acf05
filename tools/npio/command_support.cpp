#include "command_support.h"

#include <cstdio>

#include "error_names.h"

namespace npio_tool {

int reportFailure(const char* what, uint32_t result, bool fromSearch) {
  std::fprintf(stderr, "npio: %s: %s\n", what, errorText(result, fromSearch).c_str());
  return 1;
}

void noMoreWords(const OptionReader& words) {
  const auto rest = words.rest();
  if (!rest.empty()) throw UsageError{"unexpected argument " + rest.front()};
}

uint32_t pointAtRelay(const GlobalOptions& options) {
  return npio_SetProgLink(options.relayHost.c_str(), options.relayPort, options.timeoutMs);
}

OpenUnit::OpenUnit(const GlobalOptions& options) : type_(options.typeCode), board_(options.boardId) {
  result_ = pointAtRelay(options);
  if (result_ == 0) result_ = npio_OpenDevice(type_, board_);
}

OpenUnit::~OpenUnit() {
  if (result_ == 0) npio_CloseDevice(type_, board_);
}

}  // namespace npio_tool
