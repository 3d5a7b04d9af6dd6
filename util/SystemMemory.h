#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace lumivore {

// The bytes of a "Key:   1234 kB" line of a /proc status text (such as
// /proc/meminfo or /proc/self/status); nullopt when the key is missing or
// its value is no number.
std::optional<std::size_t> ProcKibibytesField(std::string_view text, std::string_view key);

// What the system could still give without swapping (MemAvailable of
// /proc/meminfo), and what this process holds in memory (VmRSS of
// /proc/self/status); nullopt where the kernel does not say.
std::optional<std::size_t> AvailableMemory();
std::optional<std::size_t> ResidentMemory();

}  // namespace lumivore
