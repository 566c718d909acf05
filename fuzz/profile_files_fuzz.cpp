// The relay's own file reader on hostile files: the settings file, the event
// text file "message.ini" (with its placeholders filled) and the debug
// settings file, plus one lookup with a section and key taken from the input.
// The file lives in memory (memfd), so a run touches no disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "lanrelay/engine/event_index.h"
#include "lanrelay/engine/records.h"
#include "lanrelay/shell/event_texts.h"
#include "lanrelay/shell/ini_profile.h"
#include "lanrelay/shell/settings_file.h"

namespace {

// One memory file for the whole run, rewritten for each input.
int memoryFile() {
  static const int fd = memfd_create("profile-fuzz", MFD_CLOEXEC);
  if (fd < 0) fuzzing::failCheck("memfd_create", __FILE__, __LINE__);
  return fd;
}

void replaceContents(int fd, const uint8_t* data, size_t size) {
  if (ftruncate(fd, 0) != 0) fuzzing::failCheck("ftruncate", __FILE__, __LINE__);
  size_t written = 0;
  while (written < size) {
    const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
    if (n <= 0) fuzzing::failCheck("pwrite", __FILE__, __LINE__);
    written += static_cast<size_t>(n);
  }
}

size_t characterCount(std::string_view utf8) {
  size_t count = 0;
  for (unsigned char c : utf8) count += (c & 0xC0) != 0x80 ? 1 : 0;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  fuzzing::FuzzInput input(data, size);
  // Section and key names for the free lookup come first, 0..15 bytes each.
  size_t sectionLength = 0, keyLength = 0;
  const uint8_t* section = input.takeBytes(input.takeByte() % 16, sectionLength);
  const uint8_t* key = input.takeBytes(input.takeByte() % 16, keyLength);
  const size_t limit = input.takeByte();
  size_t fileLength = 0;
  const uint8_t* file = input.rest(fileLength);

  const int fd = memoryFile();
  replaceContents(fd, file, fileLength);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  const std::string value =
      shell::readProfileString(path, std::string_view(reinterpret_cast<const char*>(section), sectionLength),
                               std::string_view(reinterpret_cast<const char*>(key), keyLength), "fallback", limit);
  FUZZ_CHECK(value == "fallback" || characterCount(value) <= limit);
  shell::readProfileInt(path, "LOG", "FLAG", 7);
  shell::profileTextToInt(std::string_view(reinterpret_cast<const char*>(file), fileLength));

  const engine::RelaySettings settings = shell::loadSettings(path);
  (void)settings;

  const shell::EventTexts texts = shell::loadEventTexts(path);
  engine::BoardRecord board;
  board.boardId = 3;
  board.typeCode = 0x12;
  for (size_t i = 0; i < texts.size(); ++i) {
    FUZZ_CHECK(characterCount(texts[i].title) <= shell::kProfileTextLimit);
    FUZZ_CHECK(characterCount(texts[i].message) <= shell::kProfileTextLimit);
    const auto event = static_cast<engine::EventIndex>(i);
    shell::fillPlaceholders(texts[i].message, event, &board, texts[i].title);
    shell::fillPlaceholders(texts[i].title, event, nullptr, texts[i].message);
  }
  return 0;
}
