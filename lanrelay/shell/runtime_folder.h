// The per-user folder that holds the running relay's control socket:
// "$XDG_RUNTIME_DIR/lanrelay", or "/tmp/lanrelay-<uid>" when that variable is
// unset or not an absolute path. Only its owner may enter it, so only the
// same user can reach the relay through the socket.
#pragma once

#include <string>
#include <sys/types.h>

namespace shell {

std::string runtimeFolderFor(const char* xdgRuntimeDir, uid_t uid);

// The folder for this process's environment and user.
std::string runtimeFolder();

// Creates the folder (mode 0700) if absent and checks that it is a real
// folder of this user that nobody else can write to (a shared /tmp could hold
// a planted one). Returns false with the reason in `why` otherwise.
bool prepareRuntimeFolder(const std::string& folder, std::string& why);

// The control socket's path in the folder.
std::string controlSocketPath(const std::string& folder);

}  // namespace shell
