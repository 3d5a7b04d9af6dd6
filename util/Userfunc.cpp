#include "util/Userfunc.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "util/FileIo.h"

namespace lumivore {
namespace {

constexpr std::string_view kVersionSection = ".lumivore_version";
constexpr std::string_view kFileVersionKey = "FileVersion=";
// Bounds for what a version lookup reads from a file it cannot trust.
constexpr std::size_t kMaxNameTableSize = 1u << 20;
constexpr std::size_t kMaxVersionSectionSize = 64u << 10;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// True when [offset, offset + size) lies inside a file of `fileSize` bytes.
bool InFile(std::uint64_t offset, std::uint64_t size, std::uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

// The FileVersion entry of a version section: NUL-terminated "Key=Value" strings.
std::string FileVersionFrom(std::string_view section) {
  while (!section.empty()) {
    const std::size_t nul = section.find('\0');
    if (nul == std::string_view::npos) break;  // an unterminated tail is not an entry
    const std::string_view entry = section.substr(0, nul);
    if (entry.starts_with(kFileVersionKey))
      return std::string(entry.substr(kFileVersionKey.size()));
    section.remove_prefix(nul + 1);
  }
  return {};
}

std::string ReadVersionSection(int fd, std::uint64_t fileSize) {
  Elf64_Ehdr eh;
  if (!InFile(0, sizeof eh, fileSize) || !PreadAll(fd, &eh, sizeof eh, 0)) return {};
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_ident[EI_DATA] != ELFDATA2LSB || eh.e_ident[EI_VERSION] != EV_CURRENT) {
    return {};
  }
  // Zero sections would mean the count is stored elsewhere (extended numbering); linkers only
  // do that beyond 65279 sections, which no Lumivore executable has.
  if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0 || eh.e_shstrndx >= eh.e_shnum) {
    return {};
  }
  const std::uint64_t tableSize = std::uint64_t{eh.e_shnum} * sizeof(Elf64_Shdr);
  if (!InFile(eh.e_shoff, tableSize, fileSize)) return {};
  std::vector<Elf64_Shdr> sections(eh.e_shnum);
  if (!PreadAll(fd, sections.data(), tableSize, eh.e_shoff)) return {};

  const Elf64_Shdr& names = sections[eh.e_shstrndx];
  if (names.sh_type != SHT_STRTAB || names.sh_size > kMaxNameTableSize ||
      !InFile(names.sh_offset, names.sh_size, fileSize)) {
    return {};
  }
  std::string nameTable(names.sh_size, '\0');
  if (!PreadAll(fd, nameTable.data(), nameTable.size(), names.sh_offset)) return {};

  for (const Elf64_Shdr& s : sections) {
    if (s.sh_name >= nameTable.size()) continue;
    const std::string_view rest = std::string_view(nameTable).substr(s.sh_name);
    const std::size_t nul = rest.find('\0');
    if (nul == std::string_view::npos || rest.substr(0, nul) != kVersionSection) continue;
    if (s.sh_type == SHT_NOBITS || s.sh_size > kMaxVersionSectionSize ||
        !InFile(s.sh_offset, s.sh_size, fileSize)) {
      return {};
    }
    std::string data(s.sh_size, '\0');
    if (!PreadAll(fd, data.data(), data.size(), s.sh_offset)) return {};
    return data;
  }
  return {};
}

}  // namespace

std::optional<std::int32_t> ParseInteger(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
  } else if (text.starts_with("$")) {
    text.remove_prefix(1);
  } else {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
      negative = text.front() == '-';
      text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t v = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return std::nullopt;
      v = v * 10 + (c - '0');
      if (v > std::int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    if (negative) v = -v;
    if (v > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(v);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t v = 0;
  for (char c : text) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + d;
    if (v > INT32_MAX) return std::nullopt;
  }
  return static_cast<std::int32_t>(v);
}

std::string ResolveFilePath(const std::string& path, const std::string& exeDir) {
  if (path.empty()) return {};
  const std::string full = path.front() == '/' ? path : exeDir + "/" + path;
  // A folder is no sound file: it would only replace the chosen sound by the default one.
  struct stat st;
  if (::stat(full.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return {};
  return full;
}

std::string GetFileVersionStr(const std::string& fileName) {
  // The section headers are read as stored; only files of this machine's byte order qualify.
  if constexpr (std::endian::native != std::endian::little) return {};
  // O_NONBLOCK: a FIFO at the path must not hang the caller; it is rejected below.
  UniqueFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return {};
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return FileVersionFrom(ReadVersionSection(fd.get(), static_cast<std::uint64_t>(st.st_size)));
}

std::u16string SubStr(std::u16string_view text, int start, int count) {
  if (count < 1) return {};
  const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
  if (from >= text.size()) return {};
  return std::u16string(text.substr(from, static_cast<std::size_t>(count)));
}

std::u16string StrBefore(std::u16string_view text, std::u16string_view delimiter) {
  const std::size_t at = delimiter.empty() ? std::u16string_view::npos : text.find(delimiter);
  return std::u16string(at == std::u16string_view::npos ? text : text.substr(0, at));
}

std::u16string StrAfter(std::u16string_view text, std::u16string_view delimiter) {
  const std::size_t at = delimiter.empty() ? std::u16string_view::npos : text.find(delimiter);
  if (at == std::u16string_view::npos) return {};
  return std::u16string(text.substr(at + delimiter.size()));
}

int VersionNumberFromText(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c != '.') digits += c;
  }
  return ParseInteger(std::string_view(digits).substr(0, 3)).value_or(0);
}

int GetAppVersion() { return VersionNumberFromText(GetFileVersionStr(ExecutablePath())); }

std::string ColourText(int format, std::uint32_t colorRef) {
  const unsigned red = colorRef & 0xFF;
  const unsigned green = (colorRef >> 8) & 0xFF;
  const unsigned blue = (colorRef >> 16) & 0xFF;
  char text[16];
  switch (format) {
    case 1:
      std::snprintf(text, sizeof text, "%3u,%3u,%3u", red, green, blue);
      return text;
    case 2:
      std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(colorRef));
      return text;
    case 3:
      std::snprintf(text, sizeof text, "#%02x%02x%02x", red, green, blue);
      return text;
    default:
      return {};
  }
}

std::string ExecutablePath() {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) {
      buf.resize(static_cast<std::size_t>(n));
      return buf;
    }
    if (buf.size() >= (1u << 16)) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string ExecutableDir() {
  const std::string exe = ExecutablePath();
  const std::size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return {};
  return exe.substr(0, slash);
}

}  // namespace lumivore
