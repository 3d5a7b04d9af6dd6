#pragma once

#include <string>
#include <string_view>

namespace lumivore {

// Lumivore's settings file: a UTF-8 INI file read and written key by key.
//
// "[Section]" lines open sections, "Key=Value" lines hold values, lines starting with ';' are
// comments. Section and key names compare case-insensitively (ASCII). Reading trims blanks
// (spaces, tabs) around names and values and drops one pair of matching double or single quotes
// enclosing a value. Nothing is cached: every read reads the file, and every write replaces the
// file at once through a temporary file in the same folder and an atomic rename, keeping all
// other lines, the file's permissions and, for a symbolic link, the link itself. A UTF-8 byte
// order mark is skipped and kept. A file over 16 MiB, or anything but a regular file, is
// treated as unreadable: reads give the defaults and writes fail without touching it; a write
// that would make the file larger than that fails the same way. Each write first removes the
// temporary files that earlier writes, killed part way, left beside the file.
class IniFile {
 public:
  // Longest value a read returns, in Unicode code points (bytes of invalid UTF-8 count as one).
  static constexpr std::size_t kMaxValueChars = 2047;

  explicit IniFile(std::string path);  // touches no disk

  const std::string& fileName() const { return path_; }

  // The value, or `def` when the file, section or key is missing. A value longer than
  // kMaxValueChars is cut to its first kMaxValueChars code points, never inside a UTF-8 sequence.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // A whole number: decimal with an optional sign, or hexadecimal after "0x", "0X" or "$" (no
  // sign: hex spells 0..0x7FFFFFFF). Anything else, or a value outside the int32 range, gives def.
  int ReadInteger(std::string_view section, std::string_view key, int def) const;
  // Read as an integer: non-zero is true; a missing or non-numeric value gives def.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  // False when nothing was written: an unusable name (empty, or one that would break the line
  // structure: a section with ']', a key with '=' or starting with '[' or ';', any line break),
  // or a file that cannot be read or replaced; the old file is then left as it was.
  // Line breaks and NUL in a value become spaces; a value that reading would alter (blanks at
  // either end, enclosing quotes) is stored in double quotes so it reads back unchanged.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view key, int value);
  bool WriteBool(std::string_view section, std::string_view key, bool value);  // "1" / "0"

 private:
  std::string path_;
};

}  // namespace lumivore
