#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDropEvent>
#include <QMimeData>
#include <QScrollArea>

#include "imaging/Usr_wic.h"
#include "tests/handler/FormFixture.h"
#include "tests/imaging/IconFixtures.h"

namespace lumivore {
namespace {

// Icon colours of the five-icon executable, and the background.
const std::vector<std::uint32_t> kIconColours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF};
constexpr std::uint32_t kBackground = 0x00204080;  // a platform colour: red 0x80, blue 0x20
constexpr Rgb kBackgroundRgb = RgbFromColorRef(kBackground);

class DropFiles : public FormFixture {
 protected:
  TLumivoreForm& startWithBackground() {
    writeIni("[General]\nImgBgColor=" + QByteArray::number(kBackground) +
             "\n[Sound]\nCapImage=cap.wav\n");
    QFile wav(dir_.filePath("cap.wav"));
    EXPECT_TRUE(wav.open(QIODevice::WriteOnly));
    return start();
  }
  // Gives the window a working image with a selection; returns the image.
  Bitmap holdPicture(int width, int height, Rect selection) {
    Bitmap picture;
    picture.allocate(width, height, PixelFormat::Bgr24);
    form->FWorkImage = picture;
    form->ShowWorkingImage();
    form->FSelRect = selection;
    form->PlaceSelShape();
    return picture;
  }
  // A file of the test's folder; the name may hold any bytes.
  std::string file(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
  void write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  // Drags a text/uri-list over the window and drops it there, as a file
  // manager does; returns whether the window took the drag.
  bool dragAndDrop(const QByteArray& list) {
    QMimeData data;
    data.setData("text/uri-list", list);
    QDragEnterEvent enter(QPoint(50, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(50, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &drop);
    return drop.isAccepted();
  }
  // Drops files with their names percent-escaped.
  void drop(const std::vector<std::string>& paths) {
    QByteArray list;
    for (const std::string& p : paths)
      list += "file://" + QByteArray::fromStdString(p).toPercentEncoding("/") + "\r\n";
    ASSERT_TRUE(dragAndDrop(list));
  }
  bool activated() const {
    return std::count(desktop.activated.begin(), desktop.activated.end(),
                      static_cast<WindowId>(form->winId())) > 0;
  }
  // Narrows the image area: the window itself cannot be made that narrow.
  void setAreaWidth(int width) {
    form->ScrollBox1->setFixedWidth(width);
    QApplication::processEvents();
    ASSERT_EQ(form->ScrollBox1->viewport()->width(), width);
  }
};

TEST_F(DropFiles, AnImageBecomesTheWorkingImage) {
  TLumivoreForm& f = startWithBackground();
  Bitmap picture;
  picture.allocate(7, 5, PixelFormat::Bgr24);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) picture.setPixel(x, y, MakeRgb(30 * x, 40 * y, 99));
  // A name with a blank, a percent sign, Japanese text and a byte that is no UTF-8.
  const std::string name = file("画像 100%\xFF.png");
  ASSERT_TRUE(WicSaveImage(name, picture, 100, 0, 0));
  f.FSelRect = Rect{1, 1, 3, 3};
  f.PlaceSelShape();
  const auto undo = f.FUndoList.size();

  drop({name, file("second.png")});

  EXPECT_EQ(f.FWorkImage, picture);
  EXPECT_EQ(f.FViewBitmap.width(), 7);
  EXPECT_EQ(f.FViewBitmap.pixel(6, 4), MakeRgb(180, 160, 99));
  EXPECT_TRUE(f.FSelRect.isEmpty());
  EXPECT_FALSE(f.SelShape->isVisible());
  EXPECT_EQ(f.FUndoList.size(), undo);
  EXPECT_EQ(f.StatusBar1->text(), QString::fromUtf8("画像サイズ:    7 \u00d7   5 "));
  EXPECT_EQ(desktop.soundsPlayed, std::vector<std::string>{file("cap.wav")});
  EXPECT_TRUE(activated());
  // Qt cannot name this file to remove it with the folder.
  ::unlink(name.c_str());
}

TEST_F(DropFiles, IconsOfAnExecutableAreLaidOutInRows) {
  struct Case {
    bool allIcons;
    int areaWidth;
    int width, height;  // of the picture
    int perRow;         // icons in a row
    std::size_t shown;
  };
  const Case cases[] = {
      {true, 100, 96, 64, 3, 5},   // rows of 3, the cell (64,32) empty
      {false, 100, 32, 32, 1, 1},  // the first icon only, no selection
      {true, 40, 32, 160, 1, 5},   // narrower than two icons: a column
      {true, 400, 160, 32, 5, 5},  // all in one row
  };
  const std::string exe = file("app.exe");
  write(exe, test::PeWithFlatIcons(kIconColours));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.allIcons << " " << c.areaWidth);
    TLumivoreForm& f = startWithBackground();
    f.FExtAllIcon = c.allIcons;
    setAreaWidth(c.areaWidth);
    desktop.soundsPlayed.clear();

    drop({exe});

    ASSERT_EQ(f.FWorkImage.width(), c.width);
    ASSERT_EQ(f.FWorkImage.height(), c.height);
    const int cells = (c.width / 32) * (c.height / 32);
    for (int cell = 0; cell < cells; ++cell) {
      const int x = cell % (c.width / 32) * 32, y = cell / (c.width / 32) * 32;
      const Rgb want = static_cast<std::size_t>(cell) < c.shown
                           ? kIconColours[static_cast<std::size_t>(cell)]
                           : kBackgroundRgb;
      EXPECT_EQ(f.FWorkImage.pixel(x + 5, y + 5), want) << x << "," << y;
      EXPECT_EQ(f.FWorkImage.pixel(x + 31, y + 31), want) << x << "," << y;
    }
    if (c.shown > 1) {
      EXPECT_EQ(f.FSelRect, (Rect{0, 0, 32, 32}));
      EXPECT_TRUE(f.SelShape->isVisible());
      EXPECT_EQ(f.SelShape->geometry(), QRect(0, 0, 32, 32));
    } else {
      EXPECT_TRUE(f.FSelRect.isEmpty());
      EXPECT_FALSE(f.SelShape->isVisible());
    }
    EXPECT_EQ(f.FViewBitmap.pixel(1, 1), kIconColours[0]);
    EXPECT_EQ(desktop.soundsPlayed.size(), 1u);
    form.reset();
  }
}

TEST_F(DropFiles, AFileWithoutIconsShowsTheDesktopIconForItsType) {
  TLumivoreForm& f = startWithBackground();
  // Half transparent: the icon is blended over the background.
  Bitmap icon;
  icon.allocate(32, 32, PixelFormat::Bgrx32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      std::uint8_t* p = icon.row(y) + 4 * x;
      p[0] = 0, p[1] = 0, p[2] = 255, p[3] = x < 16 ? 0 : 255;
    }
  const std::string folder = file("a folder");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  desktop.shellIcons[folder] = icon;

  drop({folder});

  ASSERT_EQ(f.FWorkImage.width(), 32);
  ASSERT_EQ(f.FWorkImage.height(), 32);
  EXPECT_EQ(f.FWorkImage.pixel(3, 3), kBackgroundRgb);
  EXPECT_EQ(f.FWorkImage.pixel(20, 3), MakeRgb(255, 0, 0));
  EXPECT_TRUE(f.FSelRect.isEmpty());
  EXPECT_EQ(desktop.soundsPlayed.size(), 1u);
  EXPECT_TRUE(activated());
}

TEST_F(DropFiles, NothingReadableKeepsTheWorkingImageButClearsTheView) {
  const std::string fifo = file("fifo"), socket = file("socket"), gone = file("gone.png");
  const std::string folder = file("folder"), truncated = file("truncated.exe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const auto pe = test::PeWithFlatIcons({0xFF0000});
  write(truncated, std::vector<std::uint8_t>(pe.begin(), pe.begin() + 0x230));
  // 2 GB, sparse: neither read whole nor a reason to wait.
  const std::string huge = file("huge.bin");
  write(huge, {});
  ASSERT_EQ(::truncate(huge.c_str(), 2LL << 30), 0);

  for (const std::string& name : {fifo, socket, gone, folder, truncated, huge}) {
    SCOPED_TRACE(name);
    TLumivoreForm& f = startWithBackground();
    const Bitmap before = holdPicture(50, 40, Rect{1, 1, 9, 9});
    desktop.activated.clear();

    drop({name});

    EXPECT_EQ(f.FWorkImage, before);
    EXPECT_TRUE(f.FSelRect.isEmpty());
    EXPECT_FALSE(f.SelShape->isVisible());
    const QSize box = f.ScrollBox1->viewport()->size();
    ASSERT_EQ(f.FViewBitmap.width(), box.width());
    ASSERT_EQ(f.FViewBitmap.height(), box.height());
    EXPECT_EQ(f.FViewBitmap.pixel(box.width() - 1, box.height() - 1), kBackgroundRgb);
    EXPECT_TRUE(desktop.soundsPlayed.empty());
    EXPECT_TRUE(activated());
    form.reset();
  }
  ::close(s);
}

TEST_F(DropFiles, AnEmptyListOnlyBringsTheWindowForward) {
  TLumivoreForm& f = startWithBackground();
  const Bitmap before = holdPicture(20, 10, Rect{1, 1, 5, 5});
  // Only other machines' files and web links: no local file, so no drop.
  EXPECT_FALSE(dragAndDrop("http://example.org/a.png\r\nfile://server/x.png\r\n"));
  EXPECT_FALSE(activated());
  f.WMDropFiles({});

  EXPECT_EQ(f.FWorkImage, before);
  EXPECT_EQ(f.FSelRect, (Rect{1, 1, 5, 5}));
  EXPECT_TRUE(f.SelShape->isVisible());
  EXPECT_EQ(f.FViewBitmap.width(), 20);
  EXPECT_TRUE(desktop.soundsPlayed.empty());
  EXPECT_TRUE(activated());
}

}  // namespace
}  // namespace lumivore
