// Files dropped on the main window: an image becomes the working image; any
// other file is shown by its icons, or by the desktop's icon for its type.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

#include "app/DevicePixels.h"
#include "app/Unit1.h"
#include "imaging/IconReader.h"
#include "imaging/Usr_wic.h"
#include "util/UriList.h"

namespace lumivore {

namespace {

std::vector<std::string> DroppedFiles(const QMimeData* data) {
  if (!data || !data->hasFormat("text/uri-list")) return {};
  return LocalFilesFromUriList(data->data("text/uri-list").toStdString());
}

}  // namespace

bool TLumivoreForm::AcceptsDrop(const QMimeData* data) { return !DroppedFiles(data).empty(); }

void TLumivoreForm::DropFilesEvent(QDropEvent* e) {
  e->acceptProposedAction();
  WMDropFiles(DroppedFiles(e->mimeData()));
}

void TLumivoreForm::WMDropFiles(const std::vector<std::string>& files) {
  if (!files.empty()) {
    FSelRect = Rect{};
    // Only the first file counts, with its whole name.
    const std::string& name = files.front();
    bool success = WicLoadImage(name, FWorkImage);
    if (!success) success = ShowFileIcons(name);
    if (success) {
      ShowWorkingImage();
      PlaySettingSound(FCapSound);
    }
    PlaceSelShape();
  }
  platform_.activateWindow(static_cast<WindowId>(winId()));
}

bool TLumivoreForm::ShowFileIcons(const std::string& name) {
  // The view is first cleared to the background over the whole box; it stays
  // so when the file gives no picture at all.
  const Rgb background = RgbFromColorRef(FImgBgColor);
  FScrollRange = DeviceSize(ScrollBox1->viewport());
  ApplyScrollRange();
  const QSize area = DeviceSize(Image1);
  const int areaWidth = area.width();
  if (FViewBitmap.allocate(areaWidth, area.height(), PixelFormat::Bgrx32))
    for (int y = 0; y < FViewBitmap.height(); ++y)
      for (int x = 0; x < FViewBitmap.width(); ++x) FViewBitmap.setPixel(x, y, background);
  Image1->update();

  std::vector<Bitmap> icons = platform_.fileIcons(name);
  if (icons.empty()) {
    std::optional<Bitmap> shell = platform_.shellIcon(name);
    if (!shell) return false;
    icons.push_back(std::move(*shell));
  } else if (!FExtAllIcon) {
    icons.resize(1);
  }
  Bitmap picture = LayoutIcons(icons, areaWidth, background);
  if (picture.empty()) return false;
  // The first cell is selected when there are several icons.
  if (icons.size() > 1) FSelRect = Rect{0, 0, kIconSize, kIconSize};
  picture.convertTo24();
  FWorkImage = std::move(picture);
  return true;
}

}  // namespace lumivore
