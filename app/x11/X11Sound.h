// Sound files played in the background through libcanberra.
#pragma once

#include <string>

struct ca_context;

namespace lumivore {

class CanberraSound {
 public:
  CanberraSound();
  ~CanberraSound();
  CanberraSound(const CanberraSound&) = delete;
  CanberraSound& operator=(const CanberraSound&) = delete;

  // Starts playing `file` and returns at once; a file that cannot be played
  // gives the desktop's default event sound. Failures are not reported: a
  // desktop without sound simply stays quiet.
  void play(const std::string& file);

 private:
  ca_context* context_ = nullptr;
};

}  // namespace lumivore
