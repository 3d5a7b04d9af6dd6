// libhwy's target choice for the executable, with the library loaded when a
// vector kernel first runs instead of at start-up.
//
// Loading libhwy's shared library runs its static initialisers, and one of
// them (nanobenchmark.cc, for the library's benchmark helpers) measures the
// resolution of its timer from 65,536 timer reads: 2 to 3 ms of every start,
// as long as the loader then spends on a dozen other libraries. The kernels
// need just the two functions below, which choose the vector target. The
// executable defines them here and links with --as-needed, so it does not
// depend on libhwy at start; the commands that run no kernel (a PNG capture)
// never load it. The window module and the tests link libhwy as usual.
#include <dlfcn.h>
#include <hwy/highway.h>
#include <hwy/targets.h>

#include <string>

namespace hwy {

namespace {

struct Library {
  int64_t (*supportedTargets)() = nullptr;
  ChosenTarget& (*getChosenTarget)() = nullptr;
};

const Library& Load() {
  static const Library library = [] {
    Library found;
    const std::string name = "libhwy.so." + std::to_string(HWY_MAJOR);
    if (void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      found.supportedTargets =
          reinterpret_cast<int64_t (*)()>(dlsym(handle, "_ZN3hwy16SupportedTargetsEv"));
      found.getChosenTarget =
          reinterpret_cast<ChosenTarget& (*)()>(dlsym(handle, "_ZN3hwy15GetChosenTargetEv"));
      if (!found.supportedTargets || !found.getChosenTarget) found = Library();
    }
    return found;
  }();
  return library;
}

// Without the library the kernels run as built for the baseline target,
// which every build includes.
ChosenTarget& Baseline() {
  static ChosenTarget chosen;
  chosen.Update(HWY_STATIC_TARGET);
  return chosen;
}

}  // namespace

int64_t SupportedTargets() {
  const Library& library = Load();
  return library.supportedTargets ? library.supportedTargets() : HWY_STATIC_TARGET;
}

ChosenTarget& GetChosenTarget() {
  const Library& library = Load();
  return library.getChosenTarget ? library.getChosenTarget() : Baseline();
}

}  // namespace hwy
