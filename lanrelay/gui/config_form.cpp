#include "lanrelay/gui/config_form.h"

#include <sys/stat.h>

#include <limits>

#include "lanrelay/shell/text_utils.h"

namespace gui {
namespace {

size_t characterCount(std::string_view utf8) {
  size_t count = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

// One number field: the text must be an integer within [low, high].
std::optional<ConfigFailure> readNumber(ConfigField field, const std::string& text, int32_t low, int32_t high,
                                        int32_t& value) {
  std::optional<int32_t> parsed = parseDialogInteger(text);
  if (!parsed) return ConfigFailure{field, integerMessage()};
  value = *parsed;  // stored before the range check, as the dialog's data exchange does
  if (*parsed < low || *parsed > high) return ConfigFailure{field, rangeMessage(low, high)};
  return std::nullopt;
}

}  // namespace

ConfigFormInput configFormFor(const engine::RelaySettings& values) {
  ConfigFormInput input;
  input.logEnabled = values.logFlag != 0;
  input.popupEnabled = values.popupFlag != 0;
  input.aliveTime = std::to_string(values.aliveTime);
  input.boardPort = std::to_string(values.boardPort);
  input.logFolder = values.logFolder;
  input.nonCommTime = std::to_string(values.nonCommTime);
  input.responseTime = std::to_string(values.responseTime);
  input.serverPort = std::to_string(values.serverPort);
  input.errorCount = std::to_string(values.errorCount);
  return input;
}

std::optional<int32_t> parseDialogInteger(std::string_view text) {
  text = shell::trimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  int64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    // Saturate well above the 32-bit range: the value is clamped below anyway.
    if (magnitude < (int64_t{1} << 40)) magnitude = magnitude * 10 + (c - '0');
  }
  int64_t value = negative ? -magnitude : magnitude;
  value = std::min<int64_t>(std::max<int64_t>(value, std::numeric_limits<int32_t>::min()),
                            std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(value);
}

std::string integerMessage() { return "整数を入力してください。"; }

std::string rangeMessage(int32_t low, int32_t high) {
  return std::to_string(low) + " から " + std::to_string(high) + " までの整数を入力してください。";
}

std::string lengthMessage(size_t limit) { return std::to_string(limit) + " 文字以内で入力してください。"; }

std::optional<ConfigFailure> readConfigForm(const ConfigFormInput& input, engine::RelaySettings& values) {
  values.logFlag = input.logEnabled ? 1 : 0;
  values.popupFlag = input.popupEnabled ? 1 : 0;
  if (auto failure = readNumber(ConfigField::AliveTime, input.aliveTime, 1, 100000, values.aliveTime)) return failure;
  if (auto failure = readNumber(ConfigField::BoardPort, input.boardPort, 0, 65535, values.boardPort)) return failure;
  values.logFolder = input.logFolder;
  if (characterCount(input.logFolder) > kLogFolderLimit) {
    return ConfigFailure{ConfigField::LogFolder, lengthMessage(kLogFolderLimit)};
  }
  if (auto failure = readNumber(ConfigField::NonCommTime, input.nonCommTime, 1, 100000, values.nonCommTime)) {
    return failure;
  }
  if (auto failure = readNumber(ConfigField::ResponseTime, input.responseTime, 1, 100000, values.responseTime)) {
    return failure;
  }
  if (auto failure = readNumber(ConfigField::ServerPort, input.serverPort, 0, 65535, values.serverPort)) return failure;
  if (auto failure = readNumber(ConfigField::ErrorCount, input.errorCount, 1, 99999, values.errorCount)) return failure;
  return std::nullopt;
}

bool logFolderExists(const std::string& folder) {
  struct stat info {};
  return !folder.empty() && stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace gui
