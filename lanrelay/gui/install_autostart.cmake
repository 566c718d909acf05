# Installs the XDG autostart entry where the session looks for it, decided at
# install time so that `cmake --install --prefix` chooses it:
# LANRELAY_AUTOSTART_DIR when it is set; else, for an install into the user's
# home (for example --prefix ~/.local), $XDG_CONFIG_HOME/autostart (default
# ~/.config/autostart); else /etc/xdg/autostart for the prefix /usr and
# <prefix>/etc/xdg/autostart for any other prefix.
set(dir "${LANRELAY_AUTOSTART_DIR}")
if(NOT dir)
  set(home "$ENV{HOME}")
  set(position -1)
  if(home)
    string(FIND "${CMAKE_INSTALL_PREFIX}/" "${home}/" position)
  endif()
  if(position EQUAL 0)
    if(NOT "$ENV{XDG_CONFIG_HOME}" STREQUAL "")
      set(dir "$ENV{XDG_CONFIG_HOME}/autostart")
    else()
      set(dir "${home}/.config/autostart")
    endif()
  elseif(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(dir "/etc/xdg/autostart")
  else()
    set(dir "${CMAKE_INSTALL_PREFIX}/etc/xdg/autostart")
  endif()
endif()
file(INSTALL "${LANRELAY_AUTOSTART_SOURCE}" DESTINATION "${dir}" RENAME lanrelay.desktop)
