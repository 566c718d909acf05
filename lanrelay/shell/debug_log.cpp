#include "lanrelay/shell/debug_log.h"

#include <algorithm>
#include <cstdio>

#include "lanrelay/shell/ini_profile.h"
#include "lanrelay/shell/log_file.h"

namespace shell {
namespace {

std::string tagText(int tag) {
  if (tag == kDebugTagControl) return "-";
  if (tag == kDebugTagDatagram) return "udp";
  return std::to_string(tag);
}

std::string addressText(const protocol::Ipv4Address& address) {
  if (address == protocol::Ipv4Address{}) return "lanrelay";
  return address.toString();
}

const char* stateWord(int count) {
  switch (count) {
    case kDebugClose: return ",close";
    case kDebugTimeout: return ",timeout";
    case kDebugConnecting: return ",connecting";
    case kDebugConnect: return ",connect";
    case kDebugConnectError: return ",connect error";
    default: return "";
  }
}

}  // namespace

std::string debugLogLine(const LocalTime& time, const DebugEntry& entry) {
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d,", time.hour, time.minute, time.second,
                time.millisecond);
  std::string line = stamp;
  line += tagText(entry.tag) + "," + addressText(entry.from) + "," + addressText(entry.to);
  if (entry.hasBytes) {
    int wanted = entry.count == kDebugSixteenBytes ? 16 : std::max(entry.count, 0);
    // Never read past what the caller handed over, whatever the count says.
    size_t shown = std::min(static_cast<size_t>(wanted), entry.bytes.size());
    for (size_t i = 0; i < shown; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, ",%02x", entry.bytes[i]);
      line += hex;
    }
  } else {
    line += stateWord(entry.count);
  }
  line += "\r\n";
  return line;
}

DebugLog::DebugLog() = default;

DebugLog::DebugLog(const std::string& debugSettingsPath, LogClock clock) : clock_(std::move(clock)) {
  std::string folder = readProfileString(debugSettingsPath, "LOG", "FOLDER", "");
  if (folderExists(folder)) {
    path_ = joinLogPath(folder, "debug.log");
    enabled_ = true;
  }
}

void DebugLog::write(const DebugEntry& entry) const {
  if (!enabled_) return;
  appendLogLine(path_, debugLogLine(clock_(), entry));
}

}  // namespace shell
