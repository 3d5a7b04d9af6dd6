#include "app/x11/X11Sound.h"

#include <alsa/error.h>
#include <canberra.h>


namespace lumivore {

namespace {

// ALSA reports a missing or busy sound card on stderr through its library
// error handler; Lumivore reports nothing about sounds, so ALSA's messages
// are dropped. Only ALSA's own diagnostics are affected: Lumivore uses ALSA
// for nothing else.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// The desktop's sound for "something happened", what the system's default
// sound is elsewhere.
constexpr const char* kDefaultEvent = "bell-window-system";

}  // namespace

CanberraSound::CanberraSound() {
  snd_lib_error_set_handler(QuietAlsa);
  if (ca_context_create(&context_) != CA_SUCCESS) {
    context_ = nullptr;
    return;
  }
  ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Lumivore", nullptr);
}

CanberraSound::~CanberraSound() {
  if (context_) ca_context_destroy(context_);
}

void CanberraSound::play(const std::string& file) {
  if (!context_) return;
  // The file is opened and checked before ca_context_play returns; the
  // playing itself runs in the library's own thread.
  if (ca_context_play(context_, 0, CA_PROP_MEDIA_FILENAME, file.c_str(),
                      CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr) == CA_SUCCESS) {
    return;
  }
  ca_context_play(context_, 0, CA_PROP_EVENT_ID, kDefaultEvent, nullptr);
}

}  // namespace lumivore
