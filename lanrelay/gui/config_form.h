// The configuration dialog's reading of its controls, without the widgets:
// the fixed field order, the integer and range checks, the length limit of
// the log folder and the operator's messages. The dialog shows a failure's
// message and puts the focus on its field; values read before the failing
// field keep their new values, the rest keep their old ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lanrelay/engine/relay_settings.h"

namespace gui {

// The dialog's controls in the order they are read.
enum class ConfigField {
  LogEnabled,    // check box "Enable"
  PopupEnabled,  // check box "Poup Message Display Enable(&P)"
  AliveTime,     // 1 to 100000 seconds
  BoardPort,     // 0 to 65535
  LogFolder,     // at most 255 characters
  NonCommTime,   // 1 to 100000 seconds
  ResponseTime,  // 1 to 100000 milliseconds
  ServerPort,    // 0 to 65535
  ErrorCount,    // 1 to 99999
};

// What the controls hold: two check boxes and seven texts as typed.
struct ConfigFormInput {
  bool logEnabled = false;
  bool popupEnabled = false;
  std::string aliveTime;
  std::string boardPort;
  std::string logFolder;
  std::string nonCommTime;
  std::string responseTime;
  std::string serverPort;
  std::string errorCount;
};

struct ConfigFailure {
  ConfigField field;
  std::string message;
};

constexpr size_t kLogFolderLimit = 255;

// The texts of the controls for `values` (integers as decimal text).
ConfigFormInput configFormFor(const engine::RelaySettings& values);

// A whole decimal integer with optional blanks around it and an optional
// sign; values beyond 32 bits are clamped, so the range check catches them.
// Nothing (an empty text, letters, trailing text) when it is not an integer.
std::optional<int32_t> parseDialogInteger(std::string_view text);

// "整数を入力してください。"
std::string integerMessage();
// "LO から HI までの整数を入力してください。"
std::string rangeMessage(int32_t low, int32_t high);
// "LIMIT 文字以内で入力してください。"
std::string lengthMessage(size_t limit);

// Reads the fields in the order of ConfigField into `values`, stopping at the
// first that fails. Ranges are inclusive.
std::optional<ConfigFailure> readConfigForm(const ConfigFormInput& input, engine::RelaySettings& values);

// True when `folder` names an existing folder (what OK demands while the
// system log is enabled).
bool logFolderExists(const std::string& folder);

}  // namespace gui
