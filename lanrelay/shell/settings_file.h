// The relay's per-user settings file "lanrelay.ini": where it lives, reading
// the nine settings at start and writing them all back when the user accepts
// new values. Sections [CLIENT], [SERVER], [LOG], [POPUP]; integers as decimal
// text, the log folder as the text itself.
#pragma once

#include <string>

#include "lanrelay/engine/relay_settings.h"

namespace shell {

// "$XDG_CONFIG_HOME/lanrelay", or "$HOME/.config/lanrelay" when the variable
// is unset, empty or not an absolute path (the XDG rule). `home` null or
// empty falls back to the user database.
std::string settingsFolderFor(const char* xdgConfigHome, const char* home);

// Creates the folder (with its parents) if absent. A failure is not
// reported: a later save then fails quietly too.
void createSettingsFolder(const std::string& folder);

// "lanrelay.ini" in `folder`.
std::string settingsPathIn(const std::string& folder);

// All nine values; an absent file, section or key gives the default, and
// values are used as read, without range checks. The folder is cut to 259
// characters.
engine::RelaySettings loadSettings(const std::string& settingsPath);

// Writes all nine keys, changed or not, creating the file if absent and
// keeping any other keys and sections. Returns false when a write failed; the
// in-memory values stay as they are either way.
bool saveSettings(const std::string& settingsPath, const engine::RelaySettings& settings);

}  // namespace shell
