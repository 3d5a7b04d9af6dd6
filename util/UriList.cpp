#include "util/UriList.h"

#include <cctype>

namespace lumivore {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

}  // namespace

std::optional<std::string> LocalFileFromUri(std::string_view uri) {
  if (!StartsWithNoCase(uri, "file:")) return std::nullopt;
  std::string_view rest = uri.substr(5);
  if (rest.substr(0, 2) == "//") {
    // An authority: only this machine's files can be opened.
    rest.remove_prefix(2);
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !(host.size() == 9 && StartsWithNoCase(host, "localhost")))
      return std::nullopt;
    rest.remove_prefix(slash);
  }
  // The query and fragment parts are no part of a file's name.
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.empty() || rest.front() != '/') return std::nullopt;
  std::string name;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '%') {
      const int hi = i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
      const int lo = hi >= 0 ? HexValue(rest[i + 2]) : -1;
      if (lo < 0) return std::nullopt;  // a broken escape: the name is unknown
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0') return std::nullopt;
    name += c;
  }
  return name;
}

std::vector<std::string> LocalFilesFromUriList(std::string_view list) {
  std::vector<std::string> files;
  while (!list.empty()) {
    const std::size_t end = list.find('\n');
    std::string_view line = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (auto file = LocalFileFromUri(line)) files.push_back(std::move(*file));
  }
  return files;
}

}  // namespace lumivore
