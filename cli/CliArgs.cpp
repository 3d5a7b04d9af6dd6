#include "cli/CliArgs.h"

#include <charconv>
#include <cstdint>

#include "util/CommandLine.h"

namespace lumivore {

namespace {

constexpr char kUsage[] =
    "Usage: lumivore capture [TARGET] (-o FILE | --copy) [OPTION]...\n"
    "       lumivore inspect [TARGET] [--at X,Y] [--json] [--all]\n"
    "Capture or describe one window from a script or a key binding, without opening\n"
    "Lumivore's window.\n"
    "\n"
    "TARGET, the window under the pointer when none is given:\n"
    "      --class NAME   the topmost window whose class is NAME, exactly\n"
    "      --title TEXT   the topmost window titled TEXT; 'ABC*' is a title that begins\n"
    "                     with ABC, '*XYZ' one that ends with XYZ, 'ABC*XYZ' both;\n"
    "                     with --class, both must hold\n"
    "      --window ID    the window with this id (decimal or 0x hexadecimal)\n"
    "      --active       the active window\n"
    "      --pointer      the window under the pointer\n"
    "      --screen       the whole screen (capture only)\n"
    "\n"
    "capture:\n"
    "  -o, --output FILE  write the picture to FILE, of the type its extension names\n"
    "                     (.bmp .jpg .jpeg .jpe .png .gif .tif .hdp .wdp); '-' writes PNG\n"
    "                     to standard output\n"
    "      --copy         put the picture on the clipboard and return at once; it stays\n"
    "                     there until another program takes the clipboard\n"
    "      --quality N    JPEG and JPEG XR quality, 1 to 100 (default 100)\n"
    "      --delay MS     wait MS milliseconds before finding and grabbing the window\n"
    "      --client       the client area alone, without the window manager's frame\n"
    "      --own-pixels   the window's own pixels, also where other windows cover it\n"
    "\n"
    "inspect:\n"
    "      --at X,Y       the pixel colour at X,Y of the screen instead of at the pointer;\n"
    "                     without a TARGET, the window at X,Y\n"
    "      --json         one JSON object (a list of them with --all)\n"
    "      --all          every top-level window, topmost first\n"
    "\n"
    "Exit status: 0 done; 1 no window matched, the window cannot be read or the file\n"
    "could not be written (one line on standard error says which); 2 a usage error.\n"
    "\n"
    "Examples:\n"
    "  lumivore capture --active -o ~/active.png        (for a key binding)\n"
    "  lumivore capture --class XTerm -o - | convert - -resize 50% half.png\n"
    "  lumivore inspect --json | jq -r .class\n";

// A whole number in [low, high], decimal, or hexadecimal after "0x" when hex
// is allowed; nothing else (no blanks, no sign on hexadecimal).
std::optional<long long> ParseNumber(const std::string& text, long long low, long long high,
                                     bool hex) {
  int base = 10;
  std::string_view digits = text;
  if (hex && (digits.starts_with("0x") || digits.starts_with("0X"))) {
    base = 16;
    digits.remove_prefix(2);
    if (digits.empty() || digits.front() == '-' || digits.front() == '+') return std::nullopt;
  }
  if (digits.starts_with('+')) return std::nullopt;
  long long value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

bool IsCliCommand(const std::string& arg) { return arg == "capture" || arg == "inspect"; }

const char* CliUsage() { return kUsage; }

void SplitTitlePattern(const std::string& pattern, std::string& prefix, std::string& suffix) {
  const std::size_t star = pattern.find('*');
  if (star == std::string::npos) {
    prefix = suffix = pattern;
  } else {
    prefix = pattern.substr(0, star);
    suffix = pattern.substr(star + 1);
  }
}

std::optional<CliRequest> ParseCliArgs(const std::vector<std::string>& args, std::string& error) {
  CliRequest request;
  if (args.empty() || !IsCliCommand(args[0])) {
    error = "expected a command: capture or inspect";
    return std::nullopt;
  }
  const bool capture = args[0] == "capture";
  request.command = capture ? CliRequest::Command::Capture : CliRequest::Command::Inspect;
  const std::string command = args[0];

  bool searchGiven = false;  // --class and/or --title
  int otherTargets = 0;      // --window, --active, --pointer, --screen
  bool classGiven = false, titleGiven = false;

  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> attached;  // the value of --name=value or -oVALUE
    if (arg.starts_with("--")) {
      const std::size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        attached = arg.substr(eq + 1);
        arg.resize(eq);
      }
    } else if (arg.size() > 2 && arg[0] == '-' && arg[1] == 'o') {
      attached = arg.substr(2);
      arg = "-o";
    } else if (arg.empty() || arg[0] != '-' || arg == "-") {
      error = "unexpected argument '" + PrintableText(arg) + "'";
      return std::nullopt;
    }
    if (arg == "--") {
      if (i + 1 < args.size()) {
        error = "unexpected argument '" + PrintableText(args[i + 1]) + "'";
        return std::nullopt;
      }
      break;
    }

    struct Option {
      const char* name;
      bool takesValue;
      int forCommand;  // 0 both, 1 capture, 2 inspect
    };
    static constexpr Option kOptions[] = {
        {"--help", false, 0},    {"-h", false, 0},       {"--class", true, 0},
        {"--title", true, 0},    {"--window", true, 0},  {"--active", false, 0},
        {"--pointer", false, 0}, {"--screen", false, 1}, {"-o", true, 1},
        {"--output", true, 1},   {"--copy", false, 1},   {"--quality", true, 1},
        {"--delay", true, 1},    {"--client", false, 1}, {"--own-pixels", false, 1},
        {"--at", true, 2},       {"--json", false, 2},   {"--all", false, 2},
    };
    const Option* option = nullptr;
    for (const Option& o : kOptions)
      if (arg == o.name) option = &o;
    if (!option) {
      error = "unknown option '" + PrintableText(args[i]) + "'";
      return std::nullopt;
    }
    if (option->forCommand == (capture ? 2 : 1)) {
      error = "'" + arg + "' is not an option of " + command;
      return std::nullopt;
    }
    std::string value;
    if (option->takesValue) {
      if (attached) {
        value = *attached;
      } else if (i + 1 < args.size()) {
        // Taken as it is, also when it begins with '-': a file may be named so.
        value = args[++i];
      } else {
        error = "'" + arg + "' needs a value";
        return std::nullopt;
      }
    } else if (attached) {
      error = "'" + arg + "' takes no value";
      return std::nullopt;
    }

    auto once = [&](bool& given) {
      if (given) error = "'" + arg + "' is given twice";
      given = true;
      return error.empty();
    };
    if (arg == "--help" || arg == "-h") {
      request.help = true;
    } else if (arg == "--class") {
      if (!once(classGiven)) return std::nullopt;
      if (value.empty()) {
        error = "'--class' needs a class name";
        return std::nullopt;
      }
      request.target.cls = value;
      searchGiven = true;
    } else if (arg == "--title") {
      if (!once(titleGiven)) return std::nullopt;
      SplitTitlePattern(value, request.target.titlePrefix, request.target.titleSuffix);
      if (request.target.titlePrefix.empty() && request.target.titleSuffix.empty()) {
        error = "'--title' needs a text";
        return std::nullopt;
      }
      searchGiven = true;
    } else if (arg == "--window") {
      const auto id = ParseNumber(value, 1, 0xFFFFFFFF, true);
      if (!id) {
        error = "'--window' needs a window id, decimal or 0x hexadecimal, not '" +
                PrintableText(value) + "'";
        return std::nullopt;
      }
      request.target.kind = CliTarget::Kind::Window;
      request.target.window = static_cast<std::uint32_t>(*id);
      ++otherTargets;
    } else if (arg == "--active") {
      request.target.kind = CliTarget::Kind::Active;
      ++otherTargets;
    } else if (arg == "--pointer") {
      request.target.kind = CliTarget::Kind::Pointer;
      ++otherTargets;
    } else if (arg == "--screen") {
      request.target.kind = CliTarget::Kind::Screen;
      ++otherTargets;
    } else if (arg == "-o" || arg == "--output") {
      if (request.output) {
        error = "the output is given twice";
        return std::nullopt;
      }
      if (value.empty()) {
        error = "'" + arg + "' needs a file name, or '-' for standard output";
        return std::nullopt;
      }
      request.output = value;
    } else if (arg == "--copy") {
      request.copy = true;
    } else if (arg == "--quality") {
      const auto n = ParseNumber(value, 1, 100, false);
      if (!n) {
        error = "'--quality' needs a number from 1 to 100, not '" + PrintableText(value) + "'";
        return std::nullopt;
      }
      request.quality = static_cast<int>(*n);
    } else if (arg == "--delay") {
      const auto n = ParseNumber(value, 0, 3600000, false);
      if (!n) {
        error =
            "'--delay' needs milliseconds from 0 to 3600000, not '" + PrintableText(value) + "'";
        return std::nullopt;
      }
      request.delayMs = static_cast<int>(*n);
    } else if (arg == "--client") {
      request.client = true;
    } else if (arg == "--own-pixels") {
      request.ownPixels = true;
    } else if (arg == "--at") {
      const std::size_t comma = value.find(',');
      const auto x = comma == std::string::npos
                         ? std::nullopt
                         : ParseNumber(value.substr(0, comma), INT16_MIN, INT16_MAX, false);
      const auto y =
          x ? ParseNumber(value.substr(comma + 1), INT16_MIN, INT16_MAX, false) : std::nullopt;
      if (!y) {
        error = "'--at' needs a point X,Y, not '" + PrintableText(value) + "'";
        return std::nullopt;
      }
      request.at = std::pair<int, int>(static_cast<int>(*x), static_cast<int>(*y));
    } else if (arg == "--json") {
      request.json = true;
    } else if (arg == "--all") {
      request.all = true;
    }
  }
  if (request.help) return request;

  if (otherTargets + (searchGiven ? 1 : 0) > 1) {
    error =
        "give one target: --class and --title (together or alone), --window, --active, "
        "--pointer or --screen";
    return std::nullopt;
  }
  if (searchGiven) request.target.kind = CliTarget::Kind::Search;
  const bool targetGiven = otherTargets > 0 || searchGiven;
  if (capture) {
    if (!request.output && !request.copy) {
      error = "nothing to do: give -o FILE, -o - or --copy";
      return std::nullopt;
    }
    if (request.target.kind == CliTarget::Kind::Screen && (request.client || request.ownPixels)) {
      error = "--client and --own-pixels are about a window, not the screen";
      return std::nullopt;
    }
  } else {
    if (request.all && targetGiven) {
      error = "--all lists every window: give no target with it";
      return std::nullopt;
    }
    if (request.at && !targetGiven) request.target.kind = CliTarget::Kind::Point;
  }
  return request;
}

}  // namespace lumivore
