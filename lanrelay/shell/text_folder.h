// Where the relay looks for its editable text files "message.ini" (event
// texts) and "debug.ini" (debug-log switch): the program's own folder when it
// holds "message.ini" (an installed or freshly built relay), otherwise the
// current folder.
#pragma once

#include <string>

namespace shell {

// The folder of the running program file ("" when it cannot be read).
std::string programFolder();

// The current folder ("." when it cannot be read).
std::string currentFolder();

// `programDir` if it holds a regular file "message.ini", else `currentDir`.
std::string textFileFolder(const std::string& programDir, const std::string& currentDir);

}  // namespace shell
