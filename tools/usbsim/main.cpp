// usbsim: simulated serial-link boards on pseudo-terminals, for trying the
// USB board library and upio without hardware.
//
//   usbsim [--boards N] [--id ID] [--type CODE] [--inputs VALUE]
//
// Prints one terminal path per board, then serves until SIGINT or SIGTERM.
// Point the library at them with USBPIO_SERIAL_PORTS=path1,path2.
#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/usbsim/pty_board_server.h"

namespace {

bool parseNumber(const char* text, unsigned long max, unsigned long* out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || value > max) return false;
  *out = value;
  return true;
}

int usage() {
  std::fprintf(stderr, "usage: usbsim [--boards N] [--id ID] [--type CODE] [--inputs VALUE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long boards = 1, id = 1, type = 0x12, inputs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return usage();
    const char* value = argv[++i];
    bool ok = false;
    if (option == "--boards") ok = parseNumber(value, 16, &boards) && boards > 0;
    else if (option == "--id") ok = parseNumber(value, 255, &id);
    else if (option == "--type") ok = parseNumber(value, 255, &type);
    else if (option == "--inputs") ok = parseNumber(value, 0xFFFFFFFFul, &inputs);
    if (!ok) return usage();
  }

  // The boards' threads must not take the signals meant for the main thread.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::vector<std::unique_ptr<usbsim::PtyBoardServer>> servers;
  for (unsigned long n = 0; n < boards; ++n) {
    usbsim::SerialBoardSettings settings;
    settings.boardId = static_cast<uint8_t>(id + n);
    settings.typeCode = static_cast<uint8_t>(type);
    settings.inputs = static_cast<uint32_t>(inputs);
    auto server = std::make_unique<usbsim::PtyBoardServer>(settings);
    if (!server->ok()) {
      std::fprintf(stderr, "usbsim: no pseudo-terminal available: %s\n", std::strerror(errno));
      return 1;
    }
    server->start();
    std::printf("%s\n", server->portPath().c_str());
    servers.push_back(std::move(server));
  }
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  return 0;
}
