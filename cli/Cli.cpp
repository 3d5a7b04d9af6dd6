#include "cli/Cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/IniFile.h"
#include "app/SettingsLocation.h"
#include "capture/WindowPicture.h"
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/ClipboardKeeper.h"
#include "handoff/WindowSearch.h"
#include "imaging/Usr_wic.h"
#include "util/CommandLine.h"
#include "util/FileIo.h"
#include "util/Userfunc.h"
#include "util/Utf8.h"

namespace lumivore {

namespace {

std::string Hex(std::uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", id);
  return text;
}

}  // namespace

int CliFail(int status, const std::string& message) {
  std::fprintf(stderr, "lumivore: %s\n", PrintableText(message).c_str());
  return status;
}

WindowId FindCliTarget(Platform& platform, const CliTarget& target, Point at, std::string& why) {
  WindowId found = 0;
  switch (target.kind) {
    case CliTarget::Kind::Pointer:
      found = platform.windowFromPoint(platform.cursorPos());
      if (!found) why = "no window is under the pointer";
      break;
    case CliTarget::Kind::Point:
      found = platform.windowFromPoint(at);
      if (!found) why = "no window is at " + std::to_string(at.x) + "," + std::to_string(at.y);
      break;
    case CliTarget::Kind::Search:
      found = FindWindowByClassAndTitle(platform, Utf16FromUtf8(target.cls),
                                        Utf16FromUtf8(target.titlePrefix),
                                        Utf16FromUtf8(target.titleSuffix));
      if (!found) {
        why = "no window matches";
        if (!target.cls.empty()) why += " the class '" + target.cls + "'";
        if (!target.titlePrefix.empty() || !target.titleSuffix.empty()) {
          if (!target.cls.empty()) why += " and";
          why += target.titlePrefix == target.titleSuffix
                     ? " the title '" + target.titlePrefix + "'"
                     : " the title '" + target.titlePrefix + "*" + target.titleSuffix + "'";
        }
      }
      break;
    case CliTarget::Kind::Window:
      if (platform.windowDetails(target.window))
        found = target.window;
      else
        why = "there is no window " + Hex(target.window);
      break;
    case CliTarget::Kind::Active:
      found = platform.activeWindow();
      if (!found) why = "no window is active";
      break;
    case CliTarget::Kind::Screen:
      break;
  }
  return found;
}

namespace {

bool IsPngName(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".png";
}

// The colour outside a shaped window's shape: the background colour of the
// main window's picture, from the settings when there are any.
Rgb BackgroundColour() {
  const IniFile settings(LocateSettings(ExecutablePath()).iniFile);
  return RgbFromColorRef(
      static_cast<std::uint32_t>(settings.ReadInteger("General", "ImgBgColor", 0)));
}

// A pipe holds 64 KiB unless asked for more. Made large enough for the whole
// picture, it takes the picture in one write: the command then ends without
// waiting for the reader to take each part in turn. Where the system allows
// less (an unprivileged process may ask for up to
// /proc/sys/fs/pipe-max-size, 1 MiB unless raised), the pipe stays as it is.
void WidenPipe(int fd, std::size_t bytes) {
#ifdef F_SETPIPE_SZ
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
  const int size = fcntl(fd, F_GETPIPE_SZ);
  if (size < 0 || std::size_t(size) >= bytes || bytes > (std::size_t{1} << 30)) return;
  fcntl(fd, F_SETPIPE_SZ, static_cast<int>(bytes));
#else
  (void)fd, (void)bytes;
#endif
}

int Capture(const CliRequest& request, const std::function<std::unique_ptr<Platform>()>& connect) {
  const bool toStdout = request.output && *request.output == "-";
  if (request.output && !toStdout && !WicCanEncode(*request.output)) {
    return CliFail(2, "cannot tell the picture's type from the name '" + *request.output +
                          "': use .bmp, .jpg, .jpeg, .jpe, .png, .gif, .tif, .hdp or .wdp");
  }
  std::unique_ptr<Platform> platform = connect();
  if (!platform) return 1;
  if (request.delayMs > 0) platform->sleep(request.delayMs);

  Bitmap picture;
  std::string why;
  if (request.target.kind == CliTarget::Kind::Screen) {
    if (!platform->grabScreen(platform->desktopRect(), picture))
      return CliFail(1, "the screen's pixels could not be read");
  } else {
    const WindowId w = FindCliTarget(*platform, request.target, {}, why);
    if (!w) return CliFail(1, why);
    WindowPictureOptions options;
    options.clientOnly = request.client;
    options.ownPixels = request.ownPixels;
    if (platform->windowShape(w)) options.background = BackgroundColour();
    if (!GrabWindowPicture(*platform, w, options, picture, why))
      return CliFail(1, "cannot capture window " + Hex(w) + ": " + why);
  }
  // A capture holds 24-bit pictures, as the main window's does; PNG holds
  // the same pixels either way, and is encoded from the grab as it is.
  const bool png = toStdout || (request.output && IsPngName(*request.output));
  if (!png || request.copy) picture.convertTo24();

  if (toStdout) {
    std::vector<std::uint8_t> png;
    if (!WicEncodeImage(".png", picture, request.quality, 0, 0, png))
      return CliFail(1, "the picture could not be encoded");
    WidenPipe(STDOUT_FILENO, png.size());
    if (!WriteAll(STDOUT_FILENO, png.data(), png.size()))
      return CliFail(1, std::string("cannot write to standard output: ") + std::strerror(errno));
  } else if (request.output) {
    errno = 0;
    if (!WicSaveImage(*request.output, picture, request.quality, 0, 0)) {
      const int error = errno;
      return CliFail(1, "cannot write '" + *request.output + "'" +
                            (error ? std::string(": ") + std::strerror(error) : std::string()));
    }
  }
  if (request.copy && !KeepOnClipboard(picture, why)) return CliFail(1, why);
  return 0;
}

}  // namespace

int RunCli(const std::vector<std::string>& args,
           const std::function<std::unique_ptr<Platform>()>& connect) {
  std::string error;
  const std::optional<CliRequest> request = ParseCliArgs(args, error);
  if (!request) {
    const std::string command = args.empty() ? std::string("capture") : args.front();
    return CliFail(2, error + " (try 'lumivore " + command + " --help')");
  }
  if (request->help) {
    std::fputs(CliUsage(), stdout);
    return 0;
  }
  // A reader that went away ends the output with an error, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  if (request->command == CliRequest::Command::Capture) return Capture(*request, connect);
  return Inspect(*request, connect);
}

}  // namespace lumivore
