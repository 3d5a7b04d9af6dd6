#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivore {

// The local files of a "text/uri-list" (RFC 2483: one URI a line, CRLF or LF,
// '#' starts a comment), in list order. Only "file:" URIs of this machine
// count (no host, or "localhost"); their percent escapes are decoded to the
// exact bytes of the file name, which need not be UTF-8. A URI whose name
// would hold a NUL byte, or that is not absolute, is left out.
std::vector<std::string> LocalFilesFromUriList(std::string_view list);

// The file a single URI names, by the same rules; nullopt for anything but a
// local, absolute "file:" URI.
std::optional<std::string> LocalFileFromUri(std::string_view uri);

}  // namespace lumivore
