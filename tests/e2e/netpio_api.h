// The network board library, loaded at run time: the test sets the library's
// environment (its lock folder) before loading it, and skips cleanly while the
// library has not been built.
#pragma once

#include <string>

#include "netpio.h"

namespace e2e {

struct NetpioApi {
  decltype(&npio_SetProgLink) SetProgLink = nullptr;
  decltype(&npio_GetDeviceCount) GetDeviceCount = nullptr;
  decltype(&npio_GetDeviceInfo) GetDeviceInfo = nullptr;
  decltype(&npio_OpenDevice) OpenDevice = nullptr;
  decltype(&npio_CloseDevice) CloseDevice = nullptr;
  decltype(&npio_GetOpenDevCount) GetOpenDevCount = nullptr;
  decltype(&npio_rInB) rInB = nullptr;
  decltype(&npio_rInDW) rInDW = nullptr;
  decltype(&npio_rOutDW) rOutDW = nullptr;
  decltype(&npio_wOutB) wOutB = nullptr;
  decltype(&npio_wOutW) wOutW = nullptr;
  decltype(&npio_wOutDW) wOutDW = nullptr;
  decltype(&npio_InOutDW) InOutDW = nullptr;
  decltype(&npio_SetFilter) SetFilter = nullptr;
  decltype(&npio_rVersion) rVersion = nullptr;
  decltype(&npio_EtnSearch) EtnSearch = nullptr;

  // Loads the library at `path`; false with the reason in `why`.
  bool load(const std::string& path, std::string& why);
};

// One folder per test process for everything the programs write: settings,
// runtime sockets, logs, the library's lock files. Removed when the tests end;
// empty when it could not be made.
const std::string& scratchFolder();

// The library at `path`, loaded once per process with its lock folder in the
// scratch folder (the library reads it when it is loaded). Null with the
// reason in `why` when it cannot be loaded.
NetpioApi* loadNetpioOnce(const std::string& path, std::string& why);

}  // namespace e2e
