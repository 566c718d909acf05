#include "lanrelay/shell/settings_file.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>


#include "lanrelay/shell/ini_profile.h"

namespace shell {
namespace {

std::string homeFolder(const char* home) {
  if (home != nullptr && *home != '\0') return home;
  if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr) return user->pw_dir;
  return "/tmp";
}

}  // namespace

void createSettingsFolder(const std::string& folder) {
  // Each missing level in turn; levels that exist already just fail.
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string prefix = folder.substr(0, slash);
    if (!prefix.empty()) mkdir(prefix.c_str(), 0700);
    if (slash == std::string::npos) break;
  }
}

std::string settingsPathIn(const std::string& folder) { return folder + "/lanrelay.ini"; }

std::string settingsFolderFor(const char* xdgConfigHome, const char* home) {
  if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') return std::string(xdgConfigHome) + "/lanrelay";
  return homeFolder(home) + "/.config/lanrelay";
}

engine::RelaySettings loadSettings(const std::string& path) {
  engine::RelaySettings defaults;
  engine::RelaySettings s;
  s.boardPort = readProfileInt(path, "CLIENT", "PORT", defaults.boardPort);
  s.aliveTime = readProfileInt(path, "CLIENT", "ALIVE_TIME", defaults.aliveTime);
  s.nonCommTime = readProfileInt(path, "CLIENT", "NON_COMM_TIME", defaults.nonCommTime);
  s.responseTime = readProfileInt(path, "CLIENT", "RESPONSE_TIME", defaults.responseTime);
  s.errorCount = readProfileInt(path, "CLIENT", "ERROR_COUNT", defaults.errorCount);
  s.serverPort = readProfileInt(path, "SERVER", "PORT", defaults.serverPort);
  s.logFlag = readProfileInt(path, "LOG", "FLAG", defaults.logFlag);
  s.logFolder = readProfileString(path, "LOG", "FOLDER", defaults.logFolder);
  s.popupFlag = readProfileInt(path, "POPUP", "FLAG", defaults.popupFlag);
  return s;
}

bool saveSettings(const std::string& path, const engine::RelaySettings& s) {
  bool ok = true;
  auto put = [&](const char* section, const char* key, const std::string& value) {
    ok = writeProfileString(path, section, key, value) && ok;
  };
  put("CLIENT", "PORT", std::to_string(s.boardPort));
  put("CLIENT", "ALIVE_TIME", std::to_string(s.aliveTime));
  put("CLIENT", "NON_COMM_TIME", std::to_string(s.nonCommTime));
  put("CLIENT", "RESPONSE_TIME", std::to_string(s.responseTime));
  put("CLIENT", "ERROR_COUNT", std::to_string(s.errorCount));
  put("SERVER", "PORT", std::to_string(s.serverPort));
  put("LOG", "FLAG", std::to_string(s.logFlag));
  put("LOG", "FOLDER", s.logFolder);
  put("POPUP", "FLAG", std::to_string(s.popupFlag));
  return ok;
}

}  // namespace shell
