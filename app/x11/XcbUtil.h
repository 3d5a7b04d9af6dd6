// Small owners for what xcb hands out.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace lumivore {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
// An xcb reply, freed when it goes out of scope.
template <class T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

// Waits for a reply and drops the error a vanished window gives: a window may
// disappear between any two requests, and that is never a fault here.
template <class Reply, class Cookie, class Fn>
XcbReply<Reply> Fetch(xcb_connection_t* c, Fn fn, Cookie cookie) {
  xcb_generic_error_t* error = nullptr;
  XcbReply<Reply> reply(fn(c, cookie, &error));
  std::free(error);
  return reply;
}

// Takes the error of a reply function (passed where it asks for an
// xcb_generic_error_t**) and drops it. Without one, xcb would queue the error
// as an event that nobody reads.
class DropError {
 public:
  DropError() = default;
  DropError(const DropError&) = delete;
  DropError& operator=(const DropError&) = delete;
  ~DropError() { std::free(error_); }
  operator xcb_generic_error_t**() { return &error_; }

 private:
  xcb_generic_error_t* error_ = nullptr;
};

}  // namespace lumivore
