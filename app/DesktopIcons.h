// Icons the desktop gives for files: the application icon a launcher (.desktop
// file) names, and the icon theme's icon for a file's type. Both come at
// 32 x 32 as Bgrx32 bitmaps whose fourth byte is the alpha. File names are
// byte strings and are used exactly; Qt sees only what it needs for lookups.
#pragma once

#include <optional>
#include <string>

#include "imaging/Bitmap.h"

namespace lumivore {

// The icon named by the "Icon" key of a launcher's [Desktop Entry] group: an
// absolute image path or a name looked up in the icon theme. nullopt when the
// file is no regular .desktop file or its icon cannot be found.
std::optional<Bitmap> LauncherIcon(const std::string& file);

// The icon theme's icon for the file's type (its MIME type's icon, else the
// generic icon of the type's kind, else the style's file or folder icon).
// nullopt when nothing exists under the name.
std::optional<Bitmap> TypeIcon(const std::string& file);

}  // namespace lumivore
