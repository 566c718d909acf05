#include "lanrelay/shell/event_texts.h"

#include "lanrelay/shell/board_type_names.h"
#include "lanrelay/shell/ini_profile.h"
#include "lanrelay/shell/text_utils.h"

namespace shell {

using engine::EventIndex;
using engine::IconKind;

IconKind iconKindFromWord(std::string_view word) {
  if (word == "INFORMATION") return IconKind::Information;
  if (word == "WARNING") return IconKind::Warning;
  if (word == "ERROR") return IconKind::Error;
  return IconKind::None;
}

EventTexts loadEventTexts(const std::string& messageFilePath) {
  EventTexts texts;
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string_view section = engine::kEventKeys[i];
    texts[i].icon = iconKindFromWord(readProfileString(messageFilePath, section, "ICON", ""));
    texts[i].title = readProfileString(messageFilePath, section, "TITLE", "");
    texts[i].message = readProfileString(messageFilePath, section, "MESSAGE", "");
  }
  return texts;
}

std::string fillPlaceholders(std::string_view text, EventIndex event, const engine::BoardRecord* board,
                             std::string_view extra) {
  std::string filled(text);
  if (board) {
    filled = replaceAll(filled, "{id}", std::to_string(board->boardId));
    if (board->typeCode >= 0 && board->typeCode <= 255) {
      filled = replaceAll(filled, "{type}", boardTypeName(board->typeCode));
    }
    // Open and close events name the client, not the board.
    bool clientEvent = event == EventIndex::Open || event == EventIndex::Close;
    filled = replaceAll(filled, "{ip}", clientEvent ? std::string(extra) : board->ip.toString());
    filled = replaceAll(filled, "{dupmac}", protocol::macToString(board->mac));
  }
  if (event == EventIndex::Duplicate || event == EventIndex::DuplicateLanrelay) {
    filled = replaceAll(filled, "{duplicate}", extra);
  }
  if (event >= EventIndex::NicConfigUpdate && event <= EventIndex::DebugInformation) {
    filled = replaceAll(filled, "{information}", extra);
  }
  return replaceAll(filled, "\\n", "\r\n");
}

}  // namespace shell
