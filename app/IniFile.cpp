#include "app/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <vector>

#include "util/FileIo.h"
#include "util/Userfunc.h"

namespace lumivore {
namespace {

// Settings files are a few kilobytes; a file beyond this is refused rather than loaded into
// memory (reads give the defaults, writes fail and leave it alone).
constexpr std::size_t kMaxFileSize = 16u << 20;
// Symbolic links followed before a write gives up, like the kernel's own limit.
constexpr int kMaxLinkHops = 40;
// Editors may put a byte order mark in front of a UTF-8 file; it is kept but is no part of a line.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool IsQuoted(std::string_view s) {
  return s.size() >= 2 && IsQuote(s.front()) && s.back() == s.front();
}

// Length in bytes of the UTF-8 sequence starting at s[i], or 1 for a byte that does not start a
// valid sequence (such a byte counts as one character of its own).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t len;
  unsigned min;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4, min = 0x10000;
  } else {
    return 1;
  }
  if (i + len > s.size()) return 1;
  unsigned cp = b & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 1;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 1;
  return len;
}

std::string_view CutToChars(std::string_view s, std::size_t maxChars) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < maxChars && pos < s.size(); ++n) pos += Utf8SequenceLength(s, pos);
  return s.substr(0, pos);
}

// One line of the file, its terminator ("\n", "\r\n" or none at the end) kept apart.
struct RawLine {
  std::string_view text;
  std::string_view eol;
};

// Splits the text after any byte order mark into lines.
std::vector<RawLine> SplitLines(std::string_view content) {
  if (content.starts_with(kUtf8Bom)) content.remove_prefix(kUtf8Bom.size());
  std::vector<RawLine> lines;
  while (!content.empty()) {
    const std::size_t nl = content.find('\n');
    std::string_view text = content.substr(0, nl);
    std::string_view eol;
    if (nl == std::string_view::npos) {
      content = {};
    } else {
      eol = content.substr(nl, 1);
      if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
        eol = std::string_view(text.data() + text.size(), 2);
      }
      content.remove_prefix(nl + 1);
    }
    lines.push_back({text, eol});
  }
  return lines;
}

enum class LineKind { Other, Section, Entry };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key, trimmed
  std::string_view value;  // for an entry: trimmed, quotes still on
};

ParsedLine ParseLine(std::string_view text) {
  const std::string_view t = Trim(text);
  if (t.empty() || t.front() == ';') return {};
  if (t.front() == '[') {
    const std::string_view inner = t.substr(1);
    return {LineKind::Section, Trim(inner.substr(0, inner.find(']'))), {}};
  }
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return {};
  const std::string_view key = Trim(t.substr(0, eq));
  if (key.empty()) return {};
  return {LineKind::Entry, key, Trim(t.substr(eq + 1))};
}

enum class LoadStatus { Loaded, Missing, Failed };

struct Loaded {
  LoadStatus status = LoadStatus::Failed;
  std::string content;
  struct stat st {};
};

// Reads the whole file. Anything but a regular file of sane size counts as a failure; opening
// without blocking keeps a FIFO planted at the path from hanging the program.
Loaded LoadFile(const std::string& path) {
  Loaded r;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    if (errno == ENOENT) r.status = LoadStatus::Missing;
    return r;
  }
  if (::fstat(fd.get(), &r.st) != 0 || !S_ISREG(r.st.st_mode)) return r;
  if (static_cast<unsigned long long>(r.st.st_size) > kMaxFileSize) return r;
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return r;
  std::string content;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return r;
    if (n == 0) break;
    content.append(buf, static_cast<std::size_t>(n));
    if (content.size() > kMaxFileSize) return r;  // grew while being read
  }
  r.status = LoadStatus::Loaded;
  r.content = std::move(content);
  return r;
}

std::optional<std::string> FindValue(const std::string& path, std::string_view section,
                                     std::string_view key) {
  const Loaded file = LoadFile(path);
  if (file.status != LoadStatus::Loaded) return std::nullopt;
  section = Trim(section);
  key = Trim(key);
  bool inSection = false;
  for (const RawLine& line : SplitLines(file.content)) {
    const ParsedLine p = ParseLine(line.text);
    if (p.kind == LineKind::Section) {
      // The first matching section is the one that counts, as with the first matching key.
      if (inSection) return std::nullopt;
      inSection = NamesEqual(p.name, section);
    } else if (inSection && p.kind == LineKind::Entry && NamesEqual(p.name, key)) {
      std::string_view v = p.value;
      if (IsQuoted(v)) v = v.substr(1, v.size() - 2);
      return std::string(CutToChars(v, IniFile::kMaxValueChars));
    }
  }
  return std::nullopt;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

bool ValidSectionName(std::string_view s) {
  return !s.empty() && s.find(']') == s.npos && !HasLineBreakOrNul(s);
}

bool ValidKeyName(std::string_view s) {
  return !s.empty() && s.front() != '[' && s.front() != ';' && s.find('=') == s.npos &&
         !HasLineBreakOrNul(s);
}

// The value as it goes into its line: line breaks and NUL would split or end the line, so they
// become spaces; a value that reading would change is wrapped in double quotes.
std::string EncodeValue(std::string_view value) {
  std::string v(value);
  for (char& c : v) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  if (!v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) || IsQuoted(v))) v = '"' + v + '"';
  return v;
}

// Follows symbolic links so that the file they point at is replaced, not the link. A dangling
// link resolves to the path it names, which the write then creates.
std::optional<std::string> ResolveLinks(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) return path;
      return std::nullopt;
    }
    if (!S_ISLNK(st.st_mode)) return path;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(n));
    if (target.front() != '/') {
      const std::size_t slash = path.rfind('/');
      target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
    }
    path = std::move(target);
  }
  return std::nullopt;
}

bool ReplaceFile(const std::string& target, std::string_view content, const struct stat* old) {
  TempFile tmp;
  if (!tmp.create(target)) return false;
  if (old != nullptr) {
    if (::fchmod(tmp.fd(), old->st_mode & 07777) != 0) return false;
    // Only root may hand the file back to another owner; anyone else keeps their own.
    if ((old->st_uid != ::geteuid() || old->st_gid != ::getegid()) &&
        ::fchown(tmp.fd(), old->st_uid, old->st_gid) != 0 && errno != EPERM) {
      return false;
    }
  }
  if (!WriteAll(tmp.fd(), content.data(), content.size()) || ::fsync(tmp.fd()) != 0 ||
      !tmp.renameTo(target)) {
    return false;
  }
  // Make the rename itself durable; the new content is in place either way.
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.valid()) ::fsync(dirFd.get());
  return true;
}

std::string WithEntry(std::string_view content, std::string_view section, std::string_view key,
                      const std::string& entry) {
  const std::vector<RawLine> lines = SplitLines(content);
  const std::string_view eol = (!lines.empty() && lines.front().eol == "\r\n") ? "\r\n" : "\n";

  // Where the entry goes: `replace` names a line to overwrite, else it is inserted before line
  // `at` (lines.size() appends, with a new section header when there is no such section).
  std::size_t at = lines.size();
  bool replace = false;
  bool haveSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ParsedLine p = ParseLine(lines[i].text);
    if (p.kind == LineKind::Section) {
      if (haveSection) break;
      if (NamesEqual(p.name, section)) haveSection = true, at = i + 1;
    } else if (haveSection && p.kind == LineKind::Entry) {
      at = i + 1;
      if (NamesEqual(p.name, key)) {
        at = i, replace = true;
        break;
      }
    }
  }

  std::string out(content.starts_with(kUtf8Bom) ? kUtf8Bom : "");
  out.reserve(content.size() + entry.size() + section.size() + 8);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i == at) {
      if (replace) {
        out.append(entry).append(lines[i].eol);
        continue;
      }
      out.append(entry).append(eol);
    }
    out.append(lines[i].text).append(lines[i].eol);
    // The last line may lack its terminator; what follows must still start a line of its own.
    if (i + 1 == lines.size() && lines[i].eol.empty() && at == lines.size()) out.append(eol);
  }
  if (at == lines.size()) {
    if (!haveSection) out.append("[").append(section).append("]").append(eol);
    out.append(entry).append(eol);
  }
  return out;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  if (std::optional<std::string> v = FindValue(path_, section, key)) return std::move(*v);
  return std::string(CutToChars(def, kMaxValueChars));
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
  const std::optional<std::string> v = FindValue(path_, section, key);
  if (!v) return def;
  return ParseInteger(*v).value_or(def);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  if (path_.empty() || !ValidSectionName(section) || !ValidKeyName(key)) return false;
  const std::optional<std::string> target = ResolveLinks(path_);
  if (!target) return false;
  // An existing file that cannot be read is never replaced: its other settings would be lost.
  const Loaded file = LoadFile(*target);
  if (file.status == LoadStatus::Failed) return false;
  const std::string entry = std::string(key) + "=" + EncodeValue(value);
  const std::string content = WithEntry(file.content, section, key, entry);
  // A file the reader would refuse would lose every setting from then on.
  if (content.size() > kMaxFileSize) return false;
  // Writes killed part way leave their temporary files; they go with the next write.
  RemoveStaleTempFiles(*target);
  return ReplaceFile(*target, content, file.status == LoadStatus::Loaded ? &file.st : nullptr);
}

bool IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

}  // namespace lumivore
