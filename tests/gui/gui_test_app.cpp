#include "gui_test_app.h"

#include <QElapsedTimer>

#include <cstdlib>
#include <iterator>

namespace gui_test {

QApplication& application() {
  static int argc = 1;
  static char name[] = "gui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    auto* made = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return made;
  }();
  return *app;
}

bool processUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lanrelay-gui-XXXXXX").string();
  path_ = mkdtemp(pattern.data());
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempFolder::write(const std::string& name, const std::string& content) const {
  std::ofstream(file(name), std::ios::binary) << content;
}

std::string TempFolder::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace gui_test

// Under the leak checker: fontconfig keeps a cache for the life of the
// process that Qt cannot free, which is not ours to fix. Unused otherwise.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
