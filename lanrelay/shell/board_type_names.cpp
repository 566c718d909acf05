#include "lanrelay/shell/board_type_names.h"

#include <array>
#include <cstdio>

namespace shell {
namespace {

using NameTable = std::array<std::string, 256>;

NameTable buildTable() {
  NameTable names;
  for (size_t code = 0; code < names.size(); ++code) {
    char text[8];
    std::snprintf(text, sizeof text, "-(%02zXh)-", code);
    names[code] = text;
  }
  names[0x02] = "LRB-32E";    // wired board
  names[0x03] = "LRB-32W";    // wireless variant of 02h
  names[0x12] = "LRB-32EX";   // wired board driven by the network board library
  names[0x13] = "LRB-32WX";   // wireless board driven by the network board library
  names[0x81] = "LRB-64E";
  names[0x82] = "LRB-64W";
  return names;
}

}  // namespace

const std::string& boardTypeName(int typeCode) {
  // Built on first use and read-only afterwards.
  static const NameTable names = buildTable();
  static const std::string outOfRange = "-";
  if (typeCode < 0 || typeCode > 255) return outOfRange;
  return names[static_cast<size_t>(typeCode)];
}

}  // namespace shell
