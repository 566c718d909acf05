#include "lanrelay/shell/runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace shell {

std::string runtimeFolderFor(const char* xdgRuntimeDir, uid_t uid) {
  if (xdgRuntimeDir != nullptr && xdgRuntimeDir[0] == '/') return std::string(xdgRuntimeDir) + "/lanrelay";
  return "/tmp/lanrelay-" + std::to_string(uid);
}

std::string runtimeFolder() { return runtimeFolderFor(std::getenv("XDG_RUNTIME_DIR"), getuid()); }

bool prepareRuntimeFolder(const std::string& folder, std::string& why) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    why = "cannot create " + folder + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    why = "cannot read " + folder + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != getuid() || (info.st_mode & 022) != 0) {
    why = folder + " is not a private folder of this user";
    return false;
  }
  return true;
}

std::string controlSocketPath(const std::string& folder) { return folder + "/control.sock"; }

}  // namespace shell
