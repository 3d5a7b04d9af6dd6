#pragma once

// Root may write into any folder and any file, so checks of permissions run as
// an ordinary user: when the tests run as root (as in CI), the check runs in a
// child process that has become "nobody". Whatever it touches must be
// reachable by that user (make the scratch folder 0777).

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

namespace lumivore::testutil {

// Runs `body` as an ordinary user and returns the text it produced, or nothing
// when the child could not become that user or did not end normally.
inline std::optional<std::string> AsOrdinaryUser(const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  int out[2];
  if (::pipe(out) != 0) return std::nullopt;
  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    ::close(out[0]);
    constexpr gid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(3);
    const std::string text = body();
    const bool written =
        ::write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(written ? 0 : 4);
  }
  ::close(out[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  ::close(out[0]);
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return std::nullopt;
  return text;
}

}  // namespace lumivore::testutil
