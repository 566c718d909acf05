// The other end of the control socket: `lanrelay --status` and `--close`.
// Blocking, with a bound on every wait; used by short-lived command runs, not
// by the relay itself.
#pragma once

#include <chrono>
#include <string>

#include "lanrelay/shell/control_request.h"

namespace shell {

enum class ControlOutcome {
  Done,        // request delivered; the answer (possibly empty) is complete
  NotRunning,  // no relay listens at the socket path
  Failed,      // the connection broke or the relay did not answer in time
};

// Sends one request and reads the answer until the relay closes the stream.
ControlOutcome sendControlRequest(const std::string& socketPath, const ControlRequest& request,
                                  std::string& answer,
                                  std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

}  // namespace shell
