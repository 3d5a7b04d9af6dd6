#include "util/SystemMemory.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <string>

namespace lumivore {

std::optional<std::size_t> ProcKibibytesField(std::string_view text, std::string_view key) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':')
      continue;
    line.remove_prefix(key.size() + 1);
    line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
    std::size_t kib = 0;
    const auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), kib);
    if (error != std::errc() || std::string_view(rest, line.data() + line.size()) != " kB")
      return std::nullopt;
    return kib * 1024;
  }
  return std::nullopt;
}

namespace {

std::optional<std::size_t> FieldOfFile(const char* file, std::string_view key) {
  std::ifstream in(file);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return ProcKibibytesField(text, key);
}

}  // namespace

std::optional<std::size_t> AvailableMemory() {
  return FieldOfFile("/proc/meminfo", "MemAvailable");
}

std::optional<std::size_t> ResidentMemory() { return FieldOfFile("/proc/self/status", "VmRSS"); }

}  // namespace lumivore
