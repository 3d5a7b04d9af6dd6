#include "app/DesktopIcons.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QMimeDatabase>
#include <QStyle>
#include <cerrno>

#include "imaging/IconReader.h"

namespace lumivore {
namespace {

// Reads at most `limit` bytes from the start of a regular file; never waits
// on a pipe or a device.
std::optional<QByteArray> ReadHead(const std::string& file, qsizetype limit) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  QByteArray data;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    data.resize(static_cast<qsizetype>(std::min<long long>(st.st_size, limit)));
    qsizetype done = 0;
    while (done < data.size()) {
      const ssize_t n = ::read(fd, data.data() + done, static_cast<size_t>(data.size() - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += n;
    }
    data.resize(done);
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  return data;
}

std::optional<Bitmap> IconBitmap(const QIcon& icon) {
  if (icon.isNull()) return std::nullopt;
  QImage image = icon.pixmap(kIconSize, kIconSize).toImage();
  if (image.isNull()) return std::nullopt;
  // A theme without a 32-pixel size gives a smaller picture: scale it.
  if (image.width() != kIconSize || image.height() != kIconSize)
    image = image.scaled(kIconSize, kIconSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  image = image.convertToFormat(QImage::Format_ARGB32);
  Bitmap out;
  if (!out.allocate(kIconSize, kIconSize, PixelFormat::Bgrx32)) return std::nullopt;
  // ARGB32 words are stored blue, green, red, alpha: the bitmap's layout.
  for (int y = 0; y < kIconSize; ++y)
    std::copy_n(image.constScanLine(y), 4 * kIconSize, out.row(y));
  return out;
}

// The launcher's "Icon" value, or "" (the key of [Desktop Entry] itself, not a
// translated "Icon[xx]" and not one of another group).
QString LauncherIconValue(const QByteArray& text) {
  bool inEntry = false;
  for (const QByteArray& raw : text.split('\n')) {
    const QByteArray line = raw.trimmed();
    if (line.startsWith('[')) {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry || !line.startsWith("Icon")) continue;
    const QByteArray key = line.left(line.indexOf('=')).trimmed();
    if (key == "Icon") return QString::fromUtf8(line.mid(line.indexOf('=') + 1).trimmed());
  }
  return QString();
}

}  // namespace

std::optional<Bitmap> LauncherIcon(const std::string& file) {
  if (!QByteArray::fromStdString(file).endsWith(".desktop")) return std::nullopt;
  // Launchers are small text files; a huge one is no launcher.
  const auto text = ReadHead(file, 1 << 20);
  if (!text) return std::nullopt;
  QString value = LauncherIconValue(*text);
  if (value.isEmpty()) return std::nullopt;
  if (value.startsWith('/')) return IconBitmap(QIcon(value));
  // Names are given without extension; older launchers add one anyway.
  for (const char* ext : {".png", ".svg", ".xpm"})
    if (value.endsWith(QLatin1String(ext))) value.chop(4);
  return IconBitmap(QIcon::fromTheme(value));
}

std::optional<Bitmap> TypeIcon(const std::string& file) {
  struct stat st {};
  if (file.empty() || ::stat(file.c_str(), &st) != 0) return std::nullopt;
  QMimeDatabase db;
  QMimeType type;
  const QString name = QFile::decodeName(QByteArray::fromStdString(file));
  if (S_ISDIR(st.st_mode))
    type = db.mimeTypeForName("inode/directory");
  else if (S_ISFIFO(st.st_mode))
    type = db.mimeTypeForName("inode/fifo");
  else if (S_ISSOCK(st.st_mode))
    type = db.mimeTypeForName("inode/socket");
  else if (S_ISCHR(st.st_mode))
    type = db.mimeTypeForName("inode/chardevice");
  else if (S_ISBLK(st.st_mode))
    type = db.mimeTypeForName("inode/blockdevice");
  else
    // The content is read here by our own code (the name's bytes exactly);
    // Qt only matches it and the name against the MIME database.
    type = db.mimeTypeForFileNameAndData(name, ReadHead(file, 4096).value_or(QByteArray()));
  const bool folder = S_ISDIR(st.st_mode);
  QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
  if (icon.isNull())
    icon = QIcon::fromTheme(folder ? "folder" : "text-x-generic",
                            QIcon::fromTheme(folder ? "inode-directory" : "unknown"));
  // Without any icon theme the style's own pictures stand in.
  if (icon.isNull() && qobject_cast<QApplication*>(QCoreApplication::instance()))
    icon = QApplication::style()->standardIcon(folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
  return IconBitmap(icon);
}

}  // namespace lumivore
