// Hiding and showing the rows of the main window, the pixel colour format and
// the background colour of the view.
#include <QAction>
#include <QColorDialog>
#include <QScrollArea>

#include "app/DevicePixels.h"
#include "app/Unit1.h"

namespace lumivore {

namespace {

// The caption tells what choosing the entry will do: hide a visible row, show
// a hidden one.
void SetToggleCaption(QObject* sender, const char* prefix, bool visible, char accel) {
  auto* a = qobject_cast<QAction*>(sender);
  if (!a) return;
  a->setText(QString::fromUtf8(prefix) + QString::fromUtf8(visible ? "非表示" : "表示") +
             QString("(&%1)").arg(QChar(accel)));
}

}  // namespace

void TLumivoreForm::ConnectViewToggles() {
  ConnectAction(ShowClassAction, &TLumivoreForm::ShowClassActionExecute,
                &TLumivoreForm::ShowClassActionUpdate);
  ConnectAction(ShowTextAction, &TLumivoreForm::ShowTextActionExecute,
                &TLumivoreForm::ShowTextActionUpdate);
  ConnectAction(ShowSttBarAction, &TLumivoreForm::ShowSttBarActionExecute,
                &TLumivoreForm::ShowSttBarActionUpdate);
  for (QAction* a : {ShowClassAction, ShowTextAction, ShowSttBarAction}) a->setEnabled(true);
  ColorDialog1 = new QColorDialog(this);
  ColorDialog1->setObjectName("ColorDialog1");
  UpdateActions();
}

void TLumivoreForm::ShowClassActionExecute(QAction*) {
  ClsNamPanel->setVisible(!ClsNamPanel->isVisibleTo(this));
}

void TLumivoreForm::ShowClassActionUpdate(QObject* sender) {
  SetToggleCaption(sender, "クラス名を", ClsNamPanel->isVisibleTo(this), 'C');
}

void TLumivoreForm::ShowTextActionExecute(QAction*) {
  WndTxtPanel->setVisible(!WndTxtPanel->isVisibleTo(this));
}

void TLumivoreForm::ShowTextActionUpdate(QObject* sender) {
  SetToggleCaption(sender, "テキストを", WndTxtPanel->isVisibleTo(this), 'T');
}

void TLumivoreForm::ShowSttBarActionExecute(QAction*) {
  StatusBar1->setVisible(!StatusBar1->isVisibleTo(this));
}

void TLumivoreForm::ShowSttBarActionUpdate(QObject* sender) {
  SetToggleCaption(sender, "ステータスバー", StatusBar1->isVisibleTo(this), 'S');
}

void TLumivoreForm::ColFmtItemClick(QAction* sender) {
  FColValFmt = sender->data().toInt();
  PixColPanel->setVisible(FColValFmt > 0);
}

void TLumivoreForm::BgColItemClick(QAction*) {
  const Rgb old = RgbFromColorRef(FImgBgColor);
  ColorDialog1->setCurrentColor(QColor(RedOf(old), GreenOf(old), BlueOf(old)));
  if (ColorDialog1->exec() != QDialog::Accepted) return;
  const QColor chosen = ColorDialog1->selectedColor();
  const Rgb colour = MakeRgb(chosen.red(), chosen.green(), chosen.blue());
  FImgBgColor = ColorRefFromRgb(colour);
  QPalette p = ScrollBox1->viewport()->palette();
  p.setColor(QPalette::Window, chosen);
  ScrollBox1->viewport()->setPalette(p);
  // The view shows the colour over its whole area; the picture is gone, with
  // no undo step, and the history stays as it was.
  Bitmap view;
  const QSize area = DeviceSize(Image1);
  if (view.allocate(area.width(), area.height(), PixelFormat::Bgrx32)) {
    for (int y = 0; y < view.height(); ++y)
      for (int x = 0; x < view.width(); ++x) view.setPixel(x, y, colour);
  }
  FViewBitmap = std::move(view);
  FWorkImage.clear();
  Image1->update();
}

}  // namespace lumivore
