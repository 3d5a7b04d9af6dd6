#include "handoff/HandOff.h"

#include <QFile>

#include "handoff/WindowSearch.h"
#include "util/CommandSplit.h"

namespace lumivore {

WindowId FindActWnd(Platform& platform, const QString& cls, const QString& title,
                    const QString& titleR) {
  return FindWindowByClassAndTitle(platform, cls.toStdU16String(), title.toStdU16String(),
                                   titleR.toStdU16String());
}

bool RunProgram(Platform& platform, const QString& commandLine, std::uint32_t idleTimeoutMs) {
  // Arguments go to the program as the bytes of the names they stand for.
  const std::vector<std::string> argv =
      SplitCommandLine(QFile::encodeName(commandLine).toStdString());
  if (argv.empty()) return false;
  return platform.startProcess(
      argv, static_cast<int>(std::min<std::uint32_t>(idleTimeoutMs, 0x7FFFFFFF)));
}

}  // namespace lumivore
