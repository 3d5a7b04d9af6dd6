#include "handoff/HandOff.h"

#include <QFile>

#include "util/CommandSplit.h"

namespace lumivore {

WindowId FindActWnd(Platform& platform, const QString& cls, const QString& title,
                    const QString& titleR) {
  if (cls.isEmpty() && title.isEmpty() && titleR.isEmpty()) return 0;
  for (WindowId w : platform.topLevelWindows()) {
    if (!platform.isWindowVisible(w)) continue;
    const QString text = QString::fromStdString(platform.windowText(w)).left(1023);
    const QString name = QString::fromStdString(platform.className(w)).left(255);
    if (!title.isEmpty() && text.indexOf(title) != 0) continue;
    if (!titleR.isEmpty()) {
      const qsizetype p = text.indexOf(titleR);
      if (p < 0 || p != text.size() - titleR.size()) continue;
    }
    if (!cls.isEmpty() && name != cls) continue;
    return w;
  }
  return 0;
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
