// The shapes of the cursor stamp, in the order of the cursor submenu.
#pragma once

#include <array>

namespace lumivore {

struct TStampCursor {
  short id;       // the cursor id (negative: a built-in shape)
  int x, y;       // the point of the 32 x 32 image placed on the pressed pixel
  const char* image;  // the image's resource path
};

extern const std::array<TStampCursor, 20> StampCursors;

// Cursor ids used by name outside the table.
namespace cr {
constexpr short Default = 0;
constexpr short Arrow = -2;
constexpr short Cross = -3;
constexpr short IBeam = -4;
constexpr short HourGlass = -11;
constexpr short Drag = -12;
constexpr short HandPoint = -21;
}  // namespace cr

}  // namespace lumivore
