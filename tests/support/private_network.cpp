#include "tests/support/private_network.h"

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace testsupport {

bool insideTestNamespace() {
  const char* flag = std::getenv("LANRELAY_NETNS");
  return flag != nullptr && std::strcmp(flag, "1") == 0;
}

bool enterPrivateNetwork(std::string& why) {
  if (!insideTestNamespace()) {
    why = "not inside the test namespace (run through scripts/test or scripts/in-netns)";
    return false;
  }
  if (unshare(CLONE_NEWNET) != 0) {
    why = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
    return false;
  }
  if (!runCommand("ip link set lo up")) {
    why = "could not bring loopback up";
    return false;
  }
  return true;
}

bool runCommand(const std::string& command) {
  const std::string quiet = command + " >/dev/null 2>&1";
  return std::system(quiet.c_str()) == 0;
}

}  // namespace testsupport
