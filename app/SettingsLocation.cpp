#include "app/SettingsLocation.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace lumivore {

namespace fs = std::filesystem;

namespace {

SettingsLocation In(const fs::path& folder, const std::string& name) {
  return {folder.string(), (folder / (name + ".INI")).string(),
          (folder / (name + ".CHM")).string()};
}

// Whether this process may create and rename files in `folder` (permissions as they apply to
// its effective user, so root passes everywhere but on a read-only file system).
bool FolderTakesFiles(const fs::path& folder) {
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool CanWrite(const fs::path& ini) {
  struct stat st;
  if (::stat(ini.c_str(), &st) != 0) return errno == ENOENT && FolderTakesFiles(ini.parent_path());
  // The file is replaced beside the file its name leads to.
  std::error_code ec;
  const fs::path real = fs::canonical(ini, ec);
  return !ec && ::faccessat(AT_FDCWD, ini.c_str(), W_OK, AT_EACCESS) == 0 &&
         FolderTakesFiles(real.parent_path());
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::vector<char> buffer(16384);
  passwd pw;
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->pw_dir;
  return {};
}

fs::path ConfigFolder() {
  // Only an absolute XDG_CONFIG_HOME counts; anything else is ignored, as the base directory
  // rules ask.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return xdg;
  return fs::path(HomeFolder()) / ".config";
}

// mkdir -p with mode 0700 for every folder it makes; folders that exist are left as they are.
void MakeFolders(const fs::path& folder) {
  fs::path prefix;
  for (const fs::path& part : folder) {
    prefix /= part;
    ::mkdir(prefix.c_str(), 0700);
  }
}

// Folders the system's packages install programs into (/bin and /sbin are
// links into /usr on current systems, but not on all): root may write there,
// yet a settings file beside an installed program would be shared by every
// user and lost with the next upgrade.
bool IsSystemFolder(const fs::path& folder) {
  std::error_code ec;
  const fs::path real = fs::weakly_canonical(folder, ec);
  for (const char* top : {"/usr", "/bin", "/sbin"}) {
    const fs::path system(top);
    if (std::mismatch(system.begin(), system.end(), real.begin(), real.end()).first == system.end())
      return true;
  }
  return false;
}

}  // namespace

SettingsLocation LocateSettings(const std::string& exePath) {
  std::error_code ec;
  const fs::path exe = fs::absolute(exePath, ec);
  SettingsLocation beside = In(exe.parent_path(), exe.stem().string());
  if (!IsSystemFolder(exe.parent_path()) && CanWrite(beside.iniFile)) return beside;
  const fs::path folder = ConfigFolder() / "lumivore";
  MakeFolders(folder);
  return In(folder, "lumivore");
}

}  // namespace lumivore
