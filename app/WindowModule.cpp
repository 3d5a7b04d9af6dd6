#include "app/WindowModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include "util/Userfunc.h"

namespace lumivore {

namespace {

void* LoadModule(std::string& error) {
  // Installed: in the package's library folder, found from the executable's
  // own (LUMIVORE_INSTALLED_MODULE_DIR is the way from one to the other).
  const std::string installed =
      ExecutableDir() + "/" LUMIVORE_INSTALLED_MODULE_DIR "/" + kWindowModuleFile;
  // Else the build folder it was built in: for the executable there, and
  // for copies of it elsewhere (the tests run copies beside their settings).
  const std::string built = std::string(LUMIVORE_BUILD_MODULE_DIR "/") + kWindowModuleFile;
  const std::string* file = &installed;
  if (::access(installed.c_str(), F_OK) != 0) {
    if (::access(built.c_str(), F_OK) != 0) {
      error = installed + ": not found";
      return nullptr;
    }
    file = &built;
  }
  void* module = dlopen(file->c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!module) error = dlerror();
  return module;
}

}  // namespace

void* WindowModuleEntry(const char* name, std::string& why) {
  // Loaded once, never unloaded.
  static std::string error;
  static void* const module = LoadModule(error);
  if (!module) {
    why = error;
    return nullptr;
  }
  void* entry = dlsym(module, name);
  if (!entry) why = std::string(kWindowModuleFile) + " has no entry point " + name;
  return entry;
}

}  // namespace lumivore
