#include "tests/e2e/netpio_api.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/e2e/child_process.h"

namespace e2e {

bool NetpioApi::load(const std::string& path, std::string& why) {
  // Never closed: the library's unload work then runs at process exit, as in
  // an application.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    why = std::string("cannot load ") + path + ": " + dlerror();
    return false;
  }
  bool ok = true;
  auto bind = [&](auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
    if (!function) {
      why += std::string(why.empty() ? "" : ", ") + "missing " + name;
      ok = false;
    }
  };
  bind(SetProgLink, "npio_SetProgLink");
  bind(GetDeviceCount, "npio_GetDeviceCount");
  bind(GetDeviceInfo, "npio_GetDeviceInfo");
  bind(OpenDevice, "npio_OpenDevice");
  bind(CloseDevice, "npio_CloseDevice");
  bind(GetOpenDevCount, "npio_GetOpenDevCount");
  bind(rInB, "npio_rInB");
  bind(rInDW, "npio_rInDW");
  bind(rOutDW, "npio_rOutDW");
  bind(wOutB, "npio_wOutB");
  bind(wOutW, "npio_wOutW");
  bind(wOutDW, "npio_wOutDW");
  bind(InOutDW, "npio_InOutDW");
  bind(SetFilter, "npio_SetFilter");
  bind(rVersion, "npio_rVersion");
  bind(EtnSearch, "npio_EtnSearch");
  return ok;
}

namespace {

class ScratchCleanup : public testing::Environment {
 public:
  void TearDown() override {
    if (!scratchFolder().empty()) runShell("rm -rf '" + scratchFolder() + "'");
  }
};
[[maybe_unused]] testing::Environment* const scratchCleanup = testing::AddGlobalTestEnvironment(new ScratchCleanup);

}  // namespace

const std::string& scratchFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/lanrelay-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "");
  }();
  return folder;
}

NetpioApi* loadNetpioOnce(const std::string& path, std::string& why) {
  static NetpioApi api;
  static std::string loadError;
  static const bool loaded = [&] {
    const std::string locks = scratchFolder() + "/locks";
    mkdir(locks.c_str(), 0700);
    setenv("LANRELAY_LOCK_DIR", locks.c_str(), 1);
    return api.load(path, loadError);
  }();
  why = loadError;
  return loaded ? &api : nullptr;
}

}  // namespace e2e
