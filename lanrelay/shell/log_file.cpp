#include "lanrelay/shell/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace shell {

std::string joinLogPath(std::string_view folder, std::string_view fileName) {
  if (folder.empty()) return {};
  std::string path(folder);
  if (path.back() != '/') path += '/';
  path += fileName;
  return path;
}

bool appendLogLine(const std::string& path, std::string_view line) {
  if (path.empty()) return false;
  // O_NONBLOCK keeps a FIFO planted at the log's name from stalling the loop;
  // O_NOCTTY keeps a terminal device from becoming ours.
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  // One write per line, so with O_APPEND a line is never interleaved. A short
  // write (disk full) is cut back off, so the file never holds half a line.
  while (ok) {
    ssize_t n = write(fd, line.data(), line.size());
    if (n < 0 && errno == EINTR) continue;
    ok = n == static_cast<ssize_t>(line.size());
    if (!ok && n > 0 && ftruncate(fd, info.st_size) != 0) {
      // Nothing more can be done for this line.
    }
    break;
  }
  close(fd);
  return ok;
}

bool folderExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace shell
