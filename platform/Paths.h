#pragma once
#include <string>

namespace platform {

// $XDG_CONFIG_HOME/Ostrand (default ~/.config/Ostrand): the settings key file
// and the drive map live here. Tests point XDG_CONFIG_HOME at a temporary
// folder so they never touch the real user's files. On Windows the folders
// are %APPDATA%\Ostrand, %LOCALAPPDATA%\Nullifex and %TEMP%.
std::string ConfigDir();
// $XDG_DATA_HOME/Nullifex (default ~/.local/share/Nullifex): the demo image.
std::string DataDir();
// $XDG_RUNTIME_DIR (default /tmp): the single-instance lock.
std::string RuntimeDir();

}  // namespace platform
