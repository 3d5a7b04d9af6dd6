#pragma once

#include <string>

namespace lumivore {

// Where Lumivore keeps what the user adds: the settings file, the help file, and the folder that
// relative sound paths are taken against.
//
// A copy run from a folder of its own keeps everything beside the executable, named after it
// ("/opt/lumivore/lumivore" uses "/opt/lumivore/lumivore.INI"), as long as that settings file
// can be written: it is writable, or missing, and the folder takes new files (the file is
// replaced through a temporary file beside it), and the folder is not one the system installs
// programs into (under /usr, /bin or /sbin), even for root. Otherwise it is the user's
// configuration folder: "$XDG_CONFIG_HOME/lumivore/lumivore.INI", or
// "$HOME/.config/lumivore/lumivore.INI" when XDG_CONFIG_HOME is unset, empty or relative. That
// folder is created (mode 0700) when it is chosen; a failure shows only when writing fails.
struct SettingsLocation {
  std::string folder;    // without a trailing slash
  std::string iniFile;   // folder + "/" + name + ".INI"
  std::string helpFile;  // folder + "/" + name + ".CHM"
};

SettingsLocation LocateSettings(const std::string& exePath);

}  // namespace lumivore
