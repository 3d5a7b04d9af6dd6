#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumivore {

// Text routines over UTF-16 (positions count UTF-16 code units, as in the settings' texts);
// each returns a new string and leaves its arguments alone.

// Up to `count` characters from the 1-based position `start` on (fewer at the end of the text).
// Empty when `start` lies beyond the text or `count` is below 1; a `start` below 1 counts as 1
// without shortening the count.
std::u16string SubStr(std::u16string_view text, int start, int count);

// The text before the first occurrence of `delimiter`, or the whole text when it does not
// occur (an empty delimiter never occurs). Exact, case-sensitive search.
std::u16string StrBefore(std::u16string_view text, std::u16string_view delimiter);

// The text after the first occurrence of `delimiter` (the delimiter excluded), or "" when it
// does not occur (an empty delimiter never occurs).
std::u16string StrAfter(std::u16string_view text, std::u16string_view delimiter);

// A whole number as the settings file spells it: decimal with an optional '+' or '-', or
// hexadecimal after "0x", "0X" or "$" (unsigned, at most 0x7FFFFFFF). No blanks anywhere.
// Empty when the text is anything else or lies outside the int32 range.
std::optional<std::int32_t> ParseInteger(std::string_view text);

// A stored file path made usable: empty stays empty; a path not starting with '/' is taken
// relative to `exeDir` (given without a trailing slash). Returns "" when nothing exists at the
// resulting path (symbolic links followed) or only a folder, else the resulting path.
std::string ResolveFilePath(const std::string& path, const std::string& exeDir);

// The FileVersion text embedded in an executable by lumivore_embed_version(): read from the ELF
// section ".lumivore_version" (64-bit little-endian ELF). "" when the file is missing, not such
// an ELF file, carries no version or is malformed.
std::string GetFileVersionStr(const std::string& fileName);

// The version number from a FileVersion text: every '.' removed, the first three characters kept,
// read as a whole number; 0 when that is not one ("1.5.5.0" -> 155, "2.10.3.1" -> 210).
int VersionNumberFromText(std::string_view text);

// VersionNumberFromText of this executable's own FileVersion.
int GetAppVersion();

// A pixel's colour as the pixel colour row shows it: format 1 "%3d,%3d,%3d" (red, green, blue),
// 2 "0x%08x" (the colour value, red in the low byte), 3 "#rrggbb"; "" for any other format.
std::string ColourText(int format, std::uint32_t colorRef);

// Full path of the running executable ("" if the system does not tell), and its folder without
// a trailing slash.
std::string ExecutablePath();
std::string ExecutableDir();

}  // namespace lumivore
