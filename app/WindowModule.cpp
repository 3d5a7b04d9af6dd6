#include "app/WindowModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include "util/Userfunc.h"

namespace lumivore {

namespace {

void* LoadModule(std::string& error) {
  // Installed: in the package's library folder, found from the executable's
  // own (LUMIVORE_INSTALLED_MODULE_DIR is the way from one to the other).
  // Built: beside the executable. Nowhere else: a module is code run as
  // the user, so it is never looked for where the executable did not put it.
  const std::string dir = ExecutableDir();
  const std::string installed = dir + "/" LUMIVORE_INSTALLED_MODULE_DIR "/" + kWindowModuleFile;
  const std::string beside = dir + "/" + kWindowModuleFile;
  const std::string& file = ::access(installed.c_str(), F_OK) == 0 ? installed : beside;
  if (::access(file.c_str(), F_OK) != 0) {
    error = installed + ": not found";
    return nullptr;
  }
  void* module = dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
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
