#include "lanrelay/shell/text_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace shell {

std::string programFolder() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string file(path, static_cast<size_t>(length));
  size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

std::string currentFolder() {
  char path[PATH_MAX];
  if (getcwd(path, sizeof path) == nullptr) return ".";
  return path;
}

std::string textFileFolder(const std::string& programDir, const std::string& currentDir) {
  struct stat info {};
  std::string candidate = programDir + "/message.ini";
  if (!programDir.empty() && stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return programDir;
  return currentDir;
}

}  // namespace shell
