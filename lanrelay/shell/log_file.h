// Appending one line to a log file. A log must never stop or slow the relay:
// each line opens the file, appends with one write and closes it again, and
// any failure (missing folder, no permission, full disk) loses the line
// without a report.
#pragma once

#include <string>
#include <string_view>

namespace shell {

// The folder, a '/' unless the folder already ends in one, then the file name.
// An empty folder gives an empty path: the relay never writes a log into the
// root of the file system just because a folder setting was left empty.
std::string joinLogPath(std::string_view folder, std::string_view fileName);

// Appends `line` (which carries its own line end) to the file at `path`,
// creating the file if absent. Never blocks on a FIFO or follows the file to
// a terminal. Returns false when the line was lost; callers may ignore it.
bool appendLogLine(const std::string& path, std::string_view line);

// True when `path` names an existing folder.
bool folderExists(const std::string& path);

}  // namespace shell
