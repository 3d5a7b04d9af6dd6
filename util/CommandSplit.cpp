#include "util/CommandSplit.h"

namespace lumivore {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Where a command line leaves off: outside quotes, inside quotes, or right
// after the quote that closed a quoted part (a quote written next would be
// read together with that one as a literal quote).
enum class End { Plain, Quoted, JustClosed };

// Reads one command line, calling `onArgument` for every argument.
template <typename OnArgument>
End Scan(std::string_view s, OnArgument onArgument) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  bool quoted = false;
  bool justClosed = false;
  for (;;) {
    while (i < n && IsBlank(s[i])) ++i;
    if (i >= n) return End::Plain;
    std::string arg;
    quoted = false;
    while (i < n) {
      const char c = s[i];
      justClosed = false;
      if (c == '\\') {
        std::size_t run = 0;
        while (i < n && s[i] == '\\') ++run, ++i;
        if (i < n && s[i] == '"') {
          arg.append(run / 2, '\\');
          if (run % 2) arg += '"', ++i;  // an escaped quote; an even run leaves the quote its role
        } else {
          arg.append(run, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && s[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          justClosed = quoted;
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      if (!quoted && IsBlank(c)) break;
      arg += c;
      ++i;
    }
    onArgument(std::move(arg));
    if (i >= n) return quoted ? End::Quoted : justClosed ? End::JustClosed : End::Plain;
  }
}

End EndOf(std::string_view s) {
  return Scan(s, [](std::string&&) {});
}

// Whether `s` begins with a run of backslashes (possibly none) and then a quote.
bool QuoteAfterBackslashes(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == '\\') ++i;
  return i < s.size() && s[i] == '"';
}

// Builds a command line piece by piece. At every seam the backslashes that
// end the text so far are meant literally; when the next piece begins with a
// quote (after backslashes of its own), they are doubled so they stay literal.
class Builder {
 public:
  void append(std::string_view piece) {
    if (QuoteAfterBackslashes(piece)) {
      std::size_t run = 0;
      while (run < out_.size() && out_[out_.size() - 1 - run] == '\\') ++run;
      out_.append(run, '\\');
    }
    out_ += piece;
  }
  const std::string& text() const { return out_; }
  // Takes back the quote that closed the last quoted part, which reopens it.
  // The 2n backslashes before that quote stood for n; without the quote they
  // are written as n literal ones again.
  void reopen() {
    out_.pop_back();
    std::size_t run = 0;
    while (run < out_.size() && out_[out_.size() - 1 - run] == '\\') ++run;
    out_.resize(out_.size() - run / 2);
  }

 private:
  std::string out_;
};

// The name as it must stand between quotes: every quote escaped with a
// backslash, and the backslashes before it doubled. Backslashes at its end are
// left for the seam rule of Builder.
std::string EscapeInsideQuotes(std::string_view name) {
  std::string out;
  std::size_t run = 0;
  for (char c : name) {
    if (c == '\\') {
      ++run;
      out += c;
      continue;
    }
    if (c == '"') {
      out.append(run, '\\');
      out += "\\\"";
    } else {
      out += c;
    }
    run = 0;
  }
  return out;
}

bool NeedsQuotes(std::string_view name) {
  return name.empty() || name.find_first_of(" \t\"") != std::string_view::npos;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> args;
  Scan(commandLine, [&args](std::string&& arg) { args.push_back(std::move(arg)); });
  return args;
}

std::string InsertFileName(std::string_view commandLine, std::string_view fileName) {
  static constexpr std::string_view kPlaceholder = "$F";
  Builder b;
  std::string_view rest = commandLine;
  if (rest.find(kPlaceholder) == std::string_view::npos) {
    // An unbalanced quote is closed first, so the name stands on its own.
    b.append(rest);
    if (EndOf(rest) == End::Quoted) b.append("\"");
    b.append(" ");
    rest = kPlaceholder;
  }
  for (;;) {
    const std::size_t at = rest.find(kPlaceholder);
    b.append(rest.substr(0, at));
    if (at == std::string_view::npos) break;
    rest.remove_prefix(at + kPlaceholder.size());
    const std::string escaped = EscapeInsideQuotes(fileName);
    const End end = EndOf(b.text());
    if (end == End::Quoted) {
      b.append(escaped);
    } else if (!NeedsQuotes(fileName)) {
      b.append(fileName);
    } else {
      // Right after a closing quote, a new opening quote would make the two
      // read as one literal quote: the quoted part goes on instead.
      if (end == End::JustClosed)
        b.reopen();
      else
        b.append("\"");
      b.append(escaped);
      // A quote right after the placeholder opens a quoted part: the name's
      // quotes simply go on into it. Closing ours there would make the two
      // quotes read as one literal quote.
      if (rest.starts_with('"'))
        rest.remove_prefix(1);
      else
        b.append("\"");
    }
  }
  return b.text();
}

std::string QuoteCommandLineArg(std::string_view arg) { return InsertFileName("$F", arg); }

}  // namespace lumivore
