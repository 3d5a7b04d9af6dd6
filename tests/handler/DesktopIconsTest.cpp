#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>

#include "app/DesktopIcons.h"

namespace lumivore {
namespace {

// A small icon theme of our own, so the tests need no theme installed: each
// icon is one flat colour that tells which icon was found.
class DesktopIcons : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    savedPaths_ = QIcon::themeSearchPaths();
    savedTheme_ = QIcon::themeName();
    const QString theme = dir_.filePath("icons/lumitest");
    write(theme + "/index.theme",
          "[Icon Theme]\nName=lumitest\nDirectories=32x32/apps,16x16/mimetypes,32x32/places\n\n"
          "[32x32/apps]\nSize=32\nType=Fixed\n\n[16x16/mimetypes]\nSize=16\nType=Fixed\n\n"
          "[32x32/places]\nSize=32\nType=Fixed\n");
    png(theme + "/32x32/apps/lumi-app.png", 32, kApp);
    // Only a small size: it is scaled up to 32.
    png(theme + "/16x16/mimetypes/text-plain.png", 16, kText);
    png(theme + "/16x16/mimetypes/text-x-generic.png", 16, kGeneric);
    png(theme + "/32x32/places/folder.png", 32, kFolder);
    png(dir_.filePath("picture.png"), 32, kAbsolute);
    QIcon::setThemeSearchPaths({dir_.filePath("icons")});
    QIcon::setThemeName("lumitest");
  }
  void TearDown() override {
    QIcon::setThemeSearchPaths(savedPaths_);
    QIcon::setThemeName(savedTheme_);
  }

  static constexpr QRgb kApp = 0xFF2080C0, kText = 0xFF40A040, kGeneric = 0xFF808080,
                        kFolder = 0xFFE0B020, kAbsolute = 0xFFC02060;

  void write(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  void png(const QString& path, int size, QRgb colour) {
    QDir().mkpath(QFileInfo(path).path());
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    // A transparent corner: the alpha must survive.
    image.setPixel(0, 0, 0);
    ASSERT_TRUE(image.save(path));
  }
  std::string path(const char* name) const { return dir_.filePath(name).toStdString(); }
  static QRgb centre(const std::optional<Bitmap>& icon) {
    const std::uint8_t* p = icon->row(16) + 4 * 16;
    return qRgba(p[2], p[1], p[0], p[3]);
  }

  QTemporaryDir dir_;
  QStringList savedPaths_;
  QString savedTheme_;
};

TEST_F(DesktopIcons, LauncherIconComesFromTheThemeOrItsPath) {
  struct Case {
    const char* name;
    QByteArray text;
    std::optional<QRgb> want;
  };
  const Case cases[] = {
      {"app.desktop", "[Desktop Entry]\nName=App\nIcon[ja]=folder\nIcon=lumi-app\nExec=app\n",
       kApp},
      {"ext.desktop", "[Desktop Entry]\nIcon = lumi-app.png\n", kApp},
      {"abs.desktop", "[Desktop Entry]\nIcon=" + dir_.filePath("picture.png").toUtf8() + "\n",
       kAbsolute},
      {"missing.desktop", "[Desktop Entry]\nIcon=no-such-icon-anywhere\n", std::nullopt},
      {"other-group.desktop", "[Desktop Action x]\nIcon=lumi-app\n", std::nullopt},
      {"no-launcher.txt", "[Desktop Entry]\nIcon=lumi-app\n", std::nullopt},
  };
  for (const Case& c : cases) {
    write(dir_.filePath(c.name), c.text);
    const auto icon = LauncherIcon(path(c.name));
    ASSERT_EQ(icon.has_value(), c.want.has_value()) << c.name;
    if (!icon) continue;
    EXPECT_EQ(icon->width(), 32);
    EXPECT_EQ(icon->height(), 32);
    EXPECT_EQ(centre(icon), *c.want) << c.name;
  }
}

TEST_F(DesktopIcons, TypeIconFollowsTheMimeTypeAndNeverWaits) {
  write(dir_.filePath("notes.txt"), "plain words\n");
  write(dir_.filePath("data.bin"), QByteArray("\x01\x02\x03\xFF\x00\x10", 6));
  ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
  QDir().mkpath(dir_.filePath("folder"));
  struct Case {
    const char* name;
    std::optional<QRgb> want;  // nullopt: any icon will do
  };
  const Case cases[] = {{"notes.txt", kText},
                        {"folder", kFolder},
                        {"pipe", std::nullopt},
                        {"data.bin", std::nullopt}};
  for (const Case& c : cases) {
    const auto icon = TypeIcon(path(c.name));
    ASSERT_TRUE(icon.has_value()) << c.name;
    EXPECT_EQ(icon->width(), 32);
    if (c.want) {
      EXPECT_EQ(centre(icon), *c.want) << c.name;
    }
  }
  // The scaled-up 16-pixel icon keeps its transparent corner transparent.
  EXPECT_LT(TypeIcon(path("notes.txt"))->row(0)[3], 255);
  EXPECT_FALSE(TypeIcon(path("vanished.png")).has_value());
  EXPECT_FALSE(TypeIcon("").has_value());
}

}  // namespace
}  // namespace lumivore
