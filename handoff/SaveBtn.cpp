// The save button: the picture (or the selection shown) written to a file
// named in the save dialog, then, unless Shift was held, the program set for
// after saving started on it.
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include "app/Unit1.h"
#include "handoff/HandOff.h"
#include "imaging/Usr_wic.h"
#include "util/CommandSplit.h"
#include "util/Dialogs.h"

namespace lumivore {

namespace {

// The five file types, by their place in the list. The patterns after the
// shown text match names in any letter case, so a.jpg and A.JPG both show
// under the JPEG entry; only the text before them is shown.
struct FileType {
  const char* shown;
  const char* pattern;
  const char* extension;
};
constexpr FileType kFileTypes[] = {
    {"ビットマップ (*.bmp)", "*.[bB][mM][pP]", "bmp"},
    {"JPEGファイル(*.JPG)", "*.[jJ][pP][gG]", "JPG"},
    {"PNGファイル(*.PNG)", "*.[pP][nN][gG]", "PNG"},
    {"GIFファイル(*.GIF)", "*.[gG][iI][fF]", "GIF"},
    {"TIFファイル(*.TIF)", "*.[tT][iI][fF]", "TIF"},
};

QStringList NameFilters() {
  QStringList filters;
  for (const FileType& t : kFileTypes)
    filters << QString::fromUtf8(t.shown) + " (" + QString::fromLatin1(t.pattern) + ")";
  return filters;
}

// The entry a filter names, given whole or as the text shown for it (which is
// what the dialog reports while only the texts are shown); -1 for none.
int FileTypeIndex(const QString& filter) {
  const QStringList filters = NameFilters();
  for (int i = 0; i < filters.size(); ++i)
    if (filter == filters[i] || filter == QString::fromUtf8(kFileTypes[i].shown)) return i;
  return -1;
}

}  // namespace

int TLumivoreForm::SaveFilterIndex(const QString& defExt) {
  for (int i = 1; i < 5; ++i) {
    if (defExt.compare(QString::fromLatin1(kFileTypes[i].extension), Qt::CaseInsensitive) == 0)
      return i + 1;
  }
  return 1;
}

void TLumivoreForm::SaveBtnClick(QObject*) {
  // Shift is read before anything is shown: it is the state at the click.
  const bool runProgram = !platform_.isKeyDown(vk::Shift);
  if (FWorkImage.empty()) return;
  if (!SavePictureDialog1) {
    SavePictureDialog1 = new QFileDialog(this);
    SavePictureDialog1->setObjectName("SavePictureDialog1");
    // The type chosen in the dialog gives a name typed without one its extension.
    connect(SavePictureDialog1, &QFileDialog::filterSelected, this, [this](const QString& f) {
      const int index = FileTypeIndex(f);
      if (index >= 0) SavePictureDialog1->setDefaultSuffix(kFileTypes[index].extension);
    });
  }
  QFileDialog& dialog = *SavePictureDialog1;
  // Qt's own dialog on every desktop: the same filters, matching in any
  // letter case, and the same overwrite prompt.
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setWindowTitle(QString::fromUtf8("画像を保存"));
  const QStringList filters = NameFilters();
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters[SaveFilterIndex(FLastDefExt) - 1]);
  dialog.setDefaultSuffix(FLastDefExt);
  dialog.setDirectory(FLastDir);
  // The name of the last confirmed save is proposed again.
  dialog.selectFile(FSaveFileName);
  const int result = RunSaveDialog ? RunSaveDialog(dialog) : dialog.exec();
  const QString fileName = dialog.selectedFiles().value(0);
  if (result != QDialog::Accepted || fileName.isEmpty()) return;
  FSaveFileName = QFileInfo(fileName).fileName();

  const std::string path = QFile::encodeName(fileName).toStdString();
  const bool saved = WicSaveImage(path, HandOffPicture(), FJpegQuality, 0, 0);
  if (!saved) ErrorBox(this, QString::fromUtf8("画像の保存に失敗しました。"), QString());

  const QString base = QFileInfo(fileName).fileName();
  const qsizetype dot = base.lastIndexOf('.');
  FLastDefExt = dot < 0 ? QString() : base.mid(dot + 1).toUpper();
  FLastDir = QFileInfo(fileName).path();

  // Only a file that was written is handed on, and only to a program that
  // was set: an empty setting would make the picture itself the program.
  if (saved && runProgram && !FSaveCmdLine.isEmpty()) {
    const std::string line = InsertFileName(QFile::encodeName(FSaveCmdLine).toStdString(), path);
    RunProgram(platform_, QFile::decodeName(QByteArray::fromStdString(line)), 10000);
  }
}

}  // namespace lumivore
