// The one QApplication of the widget tests, on Qt's offscreen platform so no
// X server is needed; made by the first test that asks for it.
#pragma once

#include <QApplication>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace gui_test {

QApplication& application();

// Runs Qt's events until `done` holds or `limit` passes; true if it held.
bool processUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));

// A fresh folder, removed with its content at the end of the test.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace gui_test
