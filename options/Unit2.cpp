#include "options/Unit2.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>

#include "app/Unit1.h"
#include "ui/UiFont.h"
#include "util/CommandSplit.h"
#include "util/SplitToList.h"

namespace lumivore {

namespace {

constexpr int kOptionDialogHelp = 5;

TOpenDialog::Hook& OpenHook() {
  static TOpenDialog::Hook hook;
  return hook;
}

// Tabs of a fixed width.
class TTabBar : public QTabBar {
 public:
  using QTabBar::QTabBar;

 protected:
  QSize tabSizeHint(int index) const override {
    return QSize(90, QTabBar::tabSizeHint(index).height());
  }
};

class TPageControl : public QTabWidget {
 public:
  explicit TPageControl(QWidget* parent) : QTabWidget(parent) { setTabBar(new TTabBar(this)); }
};

template <class W>
W* Make(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* w = new W(parent);
  w->setObjectName(name);
  w->setGeometry(left, top, width, height);
  return w;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top,
                  int width = 0, int height = 0) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setObjectName(name);
  if (width > 0) {
    // Right-aligned labels have a width of their own; the others fit their text.
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setGeometry(left, top, width, height);
  } else {
    label->move(left, top);
    label->adjustSize();
  }
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const char* hint,
                        int tag, int left, int top, int width, int height) {
  auto* b = Make<QPushButton>(parent, name, left, top, width, height);
  b->setText(QString::fromUtf8(caption));
  if (hint) b->setToolTip(QString::fromUtf8(hint));
  b->setProperty("Tag", tag);
  b->setAutoDefault(false);
  return b;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* caption, int left, int top,
                     int width, int height) {
  auto* g = Make<QGroupBox>(parent, name, left, top, width, height);
  g->setTitle(QString::fromUtf8(caption));
  return g;
}

// Only typed digits (the number fields).
void DigitsOnly(QLineEdit* edit) {
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
}

// A millisecond field: the default when the text is no number, never negative.
int ReadMilliseconds(const QLineEdit* edit, int fallback) {
  bool ok = false;
  const int value = edit->text().toInt(&ok, 10);
  return ok ? std::max(0, value) : fallback;
}

}  // namespace

void TOpenDialog::SetHookForTesting(Hook hook) { OpenHook() = std::move(hook); }

bool TOpenDialog::Execute(QWidget* parent) {
  if (OpenHook()) return OpenHook()(*this);
  QFileDialog dialog(parent, Title, InitialDir, Filter);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The filter reads as its caption alone; its patterns still pick the files.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  if (!DefaultExt.isEmpty()) dialog.setDefaultSuffix(DefaultExt);
  if (!FileName.isEmpty()) dialog.selectFile(FileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  FileName = dialog.selectedFiles().first();
  InitialDir = dialog.directory().absolutePath();
  return true;
}

TOptionDlg::TOptionDlg(TLumivoreForm& owner)
    // A fixed dialog frame: a title and a close box, nothing to minimise or maximise.
    : QDialog(&owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      owner_(owner) {
  setObjectName("OptionDlg");
  setWindowTitle(QString::fromUtf8("オプション設定"));
  setFont(UiFont(QString::fromUtf8("ＭＳ Ｐゴシック"), 13));
  setFixedSize(414, 323);
  setModal(true);
  setProperty("helpContext", kOptionDialogHelp);
  BuildControls();
  FormCreate();
}

void TOptionDlg::BuildControls() {
  OKBtn = MakeButton(this, "OKBtn", "OK", nullptr, 0, 115, 288, 80, 25);
  OKBtn->setDefault(true);
  OKBtn->setAutoDefault(true);
  CancelBtn = MakeButton(this, "CancelBtn", "キャンセル", nullptr, 0, 219, 288, 80, 25);
  PageControl1 = Make<TPageControl>(this, "PageControl1", 0, 0, 414, 273);
  PageControl1->setProperty("helpContext", kOptionDialogHelp);
  auto page = [this](QWidget*& sheet, const char* name, const char* caption) {
    sheet = new QWidget;
    sheet->setObjectName(name);
    // Pages 1 to 3 carry the dialog's help context; the last one none of its own.
    if (PageControl1->count() < 3) sheet->setProperty("helpContext", kOptionDialogHelp);
    PageControl1->addTab(sheet, QString::fromUtf8(caption));
    return sheet;
  };

  QWidget* p = page(TabSheet1, "TabSheet1", "取り込み");
  Label1 = MakeLabel(p, "Label1", "取り込み時に画面が隠れる時間", 14, 20, 233, 15);
  HideWaitEdit = Make<QLineEdit>(p, "HideWaitEdit", 256, 16, 73, 21);
  Label5 = MakeLabel(p, "Label5", "ms", 336, 20);
  Label2 = MakeLabel(p, "Label2", "Ctrl押し下げ時の取り込み遅延時間", 14, 52, 233, 15);
  CapWaitEdit = Make<QLineEdit>(p, "CapWaitEdit", 256, 48, 73, 21);
  Label6 = MakeLabel(p, "Label6", "ms", 336, 52);
  DigitsOnly(HideWaitEdit);
  DigitsOnly(CapWaitEdit);
  GroupBox1 = MakeGroup(p, "GroupBox1", "サウンド", 8, 97, 390, 87);
  Label3 = MakeLabel(GroupBox1, "Label3", "対象変化時", 12, 26, 71, 15);
  ChgSndEdit = Make<QLineEdit>(GroupBox1, "ChgSndEdit", 89, 23, 244, 21);
  ChgSndEdit->setProperty("Tag", 0);
  RefChgSndBtn = MakeButton(GroupBox1, "RefChgSndBtn", "...", "参照", 0, 336, 23, 30, 22);
  Label4 = MakeLabel(GroupBox1, "Label4", "確定時", 12, 58, 71, 15);
  CapSndEdit = Make<QLineEdit>(GroupBox1, "CapSndEdit", 89, 55, 244, 21);
  CapSndEdit->setProperty("Tag", 1);
  RefCapSndBtn = MakeButton(GroupBox1, "RefCapSndBtn", "...", "参照", 1, 336, 55, 30, 22);
  TstChgSndBtn = MakeButton(GroupBox1, "TstChgSndBtn", ">", "テスト", 0, 368, 23, 16, 22);
  TstCapSndBtn = MakeButton(GroupBox1, "TstCapSndBtn", ">", "テスト", 1, 368, 55, 16, 22);
  AllIconCheckBox = Make<QCheckBox>(p, "AllIconCheckBox", 24, 208, 329, 17);
  AllIconCheckBox->setText(QString::fromUtf8("ドロップ時に全てのアイコンを取り込む"));

  p = page(TabSheet2, "TabSheet2", "コピー動作");
  GroupBox2 = MakeGroup(p, "GroupBox2", "アクティブにするウィンドウ", 8, 8, 390, 113);
  Label7 = MakeLabel(GroupBox2, "Label7", "ウィンドウのクラス名", 7, 28, 135, 15);
  ActClassEdit = Make<QLineEdit>(GroupBox2, "ActClassEdit", 146, 24, 232, 21);
  Label8 = MakeLabel(GroupBox2, "Label8", "タイトル(前方一致)", 7, 56, 135, 15);
  ActTitleEdit = Make<QLineEdit>(GroupBox2, "ActTitleEdit", 146, 52, 232, 21);
  Label9 = MakeLabel(GroupBox2, "Label9", "タイトル(後方一致)", 7, 84, 135, 15);
  ActTitle2Edit = Make<QLineEdit>(GroupBox2, "ActTitle2Edit", 146, 80, 232, 21);
  GroupBox3 =
      MakeGroup(p, "GroupBox3", "ウィンドウが無い場合に起動するプログラム", 8, 128, 390, 54);
  CpyCmdEdit = Make<QLineEdit>(GroupBox3, "CpyCmdEdit", 10, 22, 339, 21);
  RefCpyCmdBtn = MakeButton(GroupBox3, "RefCpyCmdBtn", "...", nullptr, 0, 351, 22, 30, 22);
  Label11 = MakeLabel(p, "Label11", "送出キー", 80, 200);
  SendKeyEdit = Make<QLineEdit>(p, "SendKeyEdit", 154, 196, 232, 21);

  p = page(TabSheet3, "TabSheet3", "保存動作");
  Label10 = MakeLabel(p, "Label10", "Jpeg保存品質 ", 13, 20);
  JpgLabel = MakeLabel(p, "JpgLabel", "100", 118, 20, 28, 15);
  JpgTrackBar = Make<QSlider>(p, "JpgTrackBar", 148, 16, 200, 33);
  JpgTrackBar->setOrientation(Qt::Horizontal);
  JpgTrackBar->setRange(1, 100);
  JpgTrackBar->setTickInterval(10);
  JpgTrackBar->setTickPosition(QSlider::TicksBelow);
  GroupBox4 = MakeGroup(p, "GroupBox4", "保存後に起動するプログラム", 8, 73, 390, 54);
  SavCmdEdit = Make<QLineEdit>(GroupBox4, "SavCmdEdit", 8, 22, 342, 21);
  RefSavCmdBtn = MakeButton(GroupBox4, "RefSavCmdBtn", "...", nullptr, 1, 351, 22, 30, 22);

  p = page(TabSheet4, "TabSheet4", "その他");
  GroupBox5 = MakeGroup(p, "GroupBox5", "サイズ変更のアルゴリズム", 8, 8, 390, 54);
  ScaleOptComboBox = Make<QComboBox>(GroupBox5, "ScaleOptComboBox", 8, 22, 373, 21);
  ScaleOptComboBox->setEditable(false);

  // Tab order: the dialog's own controls, then each page's in its order.
  const QList<QWidget*> order = {
      OKBtn,        CancelBtn,    PageControl1,  HideWaitEdit,    CapWaitEdit,  ChgSndEdit,
      RefChgSndBtn, CapSndEdit,   RefCapSndBtn,  TstChgSndBtn,    TstCapSndBtn, AllIconCheckBox,
      ActClassEdit, ActTitleEdit, ActTitle2Edit, CpyCmdEdit,      RefCpyCmdBtn, SendKeyEdit,
      JpgTrackBar,  SavCmdEdit,   RefSavCmdBtn,  ScaleOptComboBox};
  for (int i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

  connect(OKBtn, &QPushButton::clicked, this, [this] {
    OKBtnClick();
    accept();
  });
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  for (QPushButton* b : {RefChgSndBtn, RefCapSndBtn})
    connect(b, &QPushButton::clicked, this, [this, b] { RefSndBtnClick(b); });
  for (QPushButton* b : {TstChgSndBtn, TstCapSndBtn})
    connect(b, &QPushButton::clicked, this, [this, b] { TestSndBtnClick(b); });
  for (QPushButton* b : {RefCpyCmdBtn, RefSavCmdBtn})
    connect(b, &QPushButton::clicked, this, [this, b] { RefCmdBtnClick(b); });
  connect(JpgTrackBar, &QSlider::valueChanged, this, [this] { JpgTrackBarChange(); });
}

QString TOptionDlg::ExeDir() const { return QFileInfo(owner_.iniFileName()).absolutePath(); }

void TOptionDlg::showEvent(QShowEvent* e) {
  if (!e->spontaneous()) {
    FormShow();
    // The first control of the tab order has the focus, as at every showing.
    OKBtn->setFocus();
    // Centred on the screen.
    if (QScreen* screen = this->screen()) {
      const QRect s = screen->geometry();
      move(s.x() + (s.width() - width()) / 2, s.y() + (s.height() - height()) / 2);
    }
  }
  QDialog::showEvent(e);
}

void TOptionDlg::FormCreate() {
  SplitToList(
      ScaleOptComboBox,
      QString::fromUtf8("ニアレストネイバー|バイリニア|バイキュービック|ファントリサンプリング"),
      "|");
}

void TOptionDlg::FormShow() {
  HideWaitEdit->setText(QString::number(owner_.FHideWait));
  CapWaitEdit->setText(QString::number(owner_.FCaptureWait));
  JpgTrackBar->setValue(std::clamp(owner_.FJpegQuality, 1, 100));
  JpgTrackBarChange();
  AllIconCheckBox->setChecked(owner_.FExtAllIcon);
  ChgSndEdit->setText(owner_.FChgSound);
  CapSndEdit->setText(owner_.FCapSound);
  ActClassEdit->setText(owner_.FActWndClass);
  ActTitleEdit->setText(owner_.FActWndTitle);
  ActTitle2Edit->setText(owner_.FActWndTitleR);
  CpyCmdEdit->setText(owner_.FCopyCmdLine);
  SendKeyEdit->setText(owner_.FSendKey);
  SavCmdEdit->setText(owner_.FSaveCmdLine);
  const int scale = owner_.FScaleOpt;
  ScaleOptComboBox->setCurrentIndex(scale >= 0 && scale < ScaleOptComboBox->count() ? scale : -1);
}

void TOptionDlg::JpgTrackBarChange() { JpgLabel->setText(QString::number(JpgTrackBar->value())); }

void TOptionDlg::RefSndBtnClick(QObject* sender) {
  QLineEdit* edit = sender->property("Tag").toInt() == 0 ? ChgSndEdit : CapSndEdit;
  OpenDialog1.Title = QString::fromUtf8("サウンドファイルの指定");
  OpenDialog1.FileName.clear();
  // Besides wave files, the sound formats the desktop's player takes.
  OpenDialog1.Filter = QString::fromUtf8("WAVファイル (*.WAV *.wav *.oga *.ogg)");
  OpenDialog1.DefaultExt = "wav";
  // The folder part of the edit's text; a relative one lies in the program's folder.
  const QString text = edit->text();
  QString folder = text.left(text.lastIndexOf('/') + 1);
  if (!folder.isEmpty() && !folder.startsWith('/')) folder = ExeDir() + "/" + folder;
  OpenDialog1.InitialDir = folder.isEmpty() ? ExeDir() : folder;
  if (!OpenDialog1.Execute(this)) return;
  const QString full = OpenDialog1.FileName;
  // A file inside the program's folder is kept relative to it. The test is
  // exact: Linux file names differ by case, and a case-blind match would
  // store a name that resolves to another folder.
  const QString prefix = ExeDir() + "/";
  edit->setText(full.startsWith(prefix) ? full.mid(prefix.size()) : full);
  owner_.platform().playSound(full.toStdString());
}

void TOptionDlg::TestSndBtnClick(QObject* sender) {
  const QString text = (sender->property("Tag").toInt() == 0 ? ChgSndEdit : CapSndEdit)->text();
  // A relative name (as browsing stores one) is found in the program's folder.
  const QString file = text.isEmpty() || text.startsWith('/') ? text : ExeDir() + "/" + text;
  owner_.platform().playSound(file.toStdString());
}

void TOptionDlg::RefCmdBtnClick(QObject* sender) {
  OpenDialog1.Title = QString::fromUtf8("実行プログラムの指定");
  OpenDialog1.FileName.clear();
  // Linux programs carry no extension to filter on.
  OpenDialog1.Filter = QString::fromUtf8("実行ファイル (*)");
  OpenDialog1.DefaultExt.clear();
  if (!OpenDialog1.Execute(this)) return;
  // Quoted when it holds blanks, so that the command line gives it back whole.
  const QString command =
      QString::fromStdString(QuoteCommandLineArg(OpenDialog1.FileName.toStdString()));
  (sender->property("Tag").toInt() == 0 ? CpyCmdEdit : SavCmdEdit)->setText(command);
}

void TOptionDlg::OKBtnClick() {
  owner_.FHideWait = ReadMilliseconds(HideWaitEdit, 100);
  owner_.FCaptureWait = ReadMilliseconds(CapWaitEdit, 3000);
  owner_.FJpegQuality = JpgTrackBar->value();
  owner_.FExtAllIcon = AllIconCheckBox->isChecked();
  owner_.FChgSound = ChgSndEdit->text();
  owner_.FCapSound = CapSndEdit->text();
  owner_.FActWndClass = ActClassEdit->text();
  owner_.FActWndTitle = ActTitleEdit->text();
  owner_.FActWndTitleR = ActTitle2Edit->text();
  owner_.FCopyCmdLine = CpyCmdEdit->text();
  owner_.FSendKey = SendKeyEdit->text();
  owner_.FSaveCmdLine = SavCmdEdit->text();
  owner_.FScaleOpt = ScaleOptComboBox->currentIndex();
}

}  // namespace lumivore
