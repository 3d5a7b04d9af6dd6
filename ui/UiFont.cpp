#include "ui/UiFont.h"

#include <QApplication>
#include <QStringList>
#include <QToolTip>

namespace lumivore {

namespace {

// Tried in this order for every character, before fontconfig's own choice.
const QStringList& ProportionalGothics() {
  static const QStringList families{"IPAPGothic", "IPAexGothic", "VL PGothic", "Noto Sans CJK JP"};
  return families;
}
const QStringList& FixedGothics() {
  static const QStringList families{"IPAGothic", "VL Gothic", "Noto Sans Mono CJK JP"};
  return families;
}

}  // namespace

QFont UiFont(const QString& designedFace, int pixelSize) {
  // Compatibility folding turns full-width "ＭＳ Ｐゴシック" into "MS Pゴシック".
  const QString face = designedFace.normalized(QString::NormalizationForm_KC).simplified();
  QFont font;
  if (face == "MS Pゴシック" || face == "MS PGothic" || face == "MS UI Gothic") {
    font.setFamilies(ProportionalGothics());
  } else if (face == "MS ゴシック" || face == "MS Gothic") {
    font.setFamilies(FixedGothics());
    font.setFixedPitch(true);
  } else {
    font.setFamily(designedFace);
  }
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  return font;
}

QFont MenuFont() { return UiFont("ＭＳ Ｐゴシック", 12); }

void UseUiFontEverywhere() {
  // Message boxes and tooltips of the designed desktop use its UI Gothic at
  // 12 pixels, the height of the main window's text.
  const QFont font = UiFont("MS UI Gothic", 12);
  QApplication::setFont(font);
  QToolTip::setFont(font);
}

}  // namespace lumivore
