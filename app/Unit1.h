// The main window: the capture tool, the three tool buttons, the rows about
// the target window, the picture view and the status line. It owns every
// piece of program state; the subsystems add their handlers as members in
// files of their own (capture/, editing/, handoff/, ui/).
#pragma once

#include <QHash>
#include <QLabel>
#include <QList>
#include <QScrollArea>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/Platform.h"
#include "app/SettingsLocation.h"
#include "editing/UndoHistory.h"
#include "imaging/Bitmap.h"

class QAction;
class QColorDialog;
class QFileDialog;
class QFontMetrics;
class QLineEdit;
class QPainter;
class QMenu;
class QMouseEvent;
class QMimeData;
class QDropEvent;
class QPushButton;
class QTimer;
class QToolButton;

namespace lumivore {

class IniFile;
class TLumivoreForm;
class TOptionDlg;

// A panel whose children keep their designed distance to the right edge
// (anchored right) or to both edges (stretched) when it is resized.
class TPanel : public QFrame {
 public:
  enum Anchor { Left, Right, Stretch };
  TPanel(QWidget* parent, int designWidth);
  void place(QWidget* child, int left, int top, int width, int height, Anchor anchor);

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  struct Placed {
    QWidget* child;
    int left, top, width, height;
    Anchor anchor;
  };
  int designWidth_;
  QList<Placed> placed_;
};

// The view: draws the view bitmap 1:1 at its top-left corner, one picture
// pixel on one screen pixel whatever the screen's scale.
class TImageView : public QWidget {
 public:
  TImageView(QWidget* parent, const Bitmap& bitmap);
  // The picture pixel under a mouse event received by a widget of this window.
  QPoint pictureAt(const QWidget* w, const QMouseEvent& e) const;
  // The smallest rectangle of `w` (logical coordinates) that covers the
  // picture pixels of `r`.
  QRect logicalCover(const QWidget* w, const Rect& r) const;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  const Bitmap& bitmap_;
};

// The selection frame: a red rectangle outline with a clear inside, around
// picture pixels of the view.
class TShape : public QWidget {
 public:
  TShape(QWidget* parent, const TImageView& view);
  // Lays the frame around the picture pixels of `r` as the view shows them.
  void place(const Rect& r);

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  const TImageView& view_;
  Rect picture_;
};

// The status bar: one simple text.
class TStatusBar : public QLabel {
 public:
  explicit TStatusBar(QWidget* parent);
};

class TLumivoreForm : public QWidget {
 public:
  // `exePath` locates the settings file and the help file (see LocateSettings).
  TLumivoreForm(Platform& platform, const QString& exePath);
  ~TLumivoreForm() override;

  // The narrowest the window gets, frame included.
  static constexpr int kMinOuterWidth = 218;

  // Controls, under the names the rest of the program uses for them.
  TPanel* ToolPanel;
  QWidget* ToolBar1;
  QToolButton* CopyBtn;
  QToolButton* SaveBtn;
  QToolButton* MenuBtn;
  QLabel* Label3;
  QFrame* CapToolPanel;
  QLabel* CapToolImg;
  TPanel* ClsNamPanel;
  QLabel* Label1;
  QLineEdit* ClsNamEdit;
  TPanel* WndTxtPanel;
  QLabel* Label2;
  QLineEdit* WndTxtEdit;
  TPanel* PixColPanel;
  QLabel* Label4;
  QLineEdit* ColValEdit;
  QFrame* ColPanel;
  QScrollArea* ScrollBox1;
  TImageView* Image1;
  TShape* SelShape;
  TStatusBar* StatusBar1;
  QPushButton* CanButton;
  QTimer* Timer1;
  QList<QPixmap> BtnImageList;
  QList<QPixmap> MrkImageList;

  // Actions of ActionList1, each carrying its Tag in QAction::data().
  QAction* Resize25Action;
  QAction* Resize50Action;
  QAction* Resize75Action;
  QAction* Resize150Action;
  QAction* Resize200Action;
  QAction* TrimAction;
  QAction* Reduce2Action;
  QAction* Reduce16Action;
  QAction* Reduce256Action;
  QAction* GrayAction;
  QAction* SepiaAction;
  QAction* NegColAction;
  QAction* ReverseLRAction;
  QAction* ReverseULAction;
  QAction* RotateRAction;
  QAction* RotateLAction;
  QAction* MosicI2Action;
  QAction* MosicI4Action;
  QAction* MosicI8Action;
  QAction* MosicI12Action;
  QAction* MosicI16Action;
  QAction* UndoAction;
  QAction* ShowClassAction;
  QAction* ShowTextAction;
  QAction* ShowSttBarAction;
  QList<QAction*> ActionList1;

  // Event handlers of the window itself.
  void FormCreate();
  void FormShow();
  void FormClose();
  void FormDestroy();
  void CanButtonClick();
  // The arrow keys (virtual-key codes 37 to 40), taken before focus navigation.
  // Returns true when the key was used.
  bool CMDialogKey(int vk, Qt::KeyboardModifiers shift);

  // Working image, undo history and status line (editing/WorkingImage.cpp).
  void PushUndo();
  void ShowWorkingImage();
  void UpdateStatus();
  void PlaceSelShape();
  void UndoActionExecute(QAction* sender);
  void UndoActionUpdate(QObject* sender);
  void ActionList1Update(QAction* action, bool& handled);
  void ResizeActionUpdate(QObject* sender);
  void TrimActionUpdate(QObject* sender);
  void ReduceActionUpdate(QObject* sender);
  void SepiaActionUpdate(QObject* sender);
  void NegColActionUpdate(QObject* sender);
  void RotateActionUpdate(QObject* sender);
  void ReverseActionUpdate(QObject* sender);
  void MosicIActionUpdate(QObject* sender);
  // Runs the update handlers of every connected action, as the idle loop would.
  void UpdateActions();
  // Binds an action to its execute and update handlers; an action without
  // them stays disabled.
  void ConnectAction(QAction* action, void (TLumivoreForm::*execute)(QAction*),
                     void (TLumivoreForm::*update)(QObject*));
  // The editing submenus that ActionList1Update enables (set by the popup menu).
  QList<QWidget*> EditingSubmenus;
  QList<QAction*> EditingSubmenuActions;

  // Popup menu and owner drawing (ui/PopupMenu.cpp). Submenus are QMenu
  // objects whose entry is their menuAction(); every entry carries its Tag in
  // QAction::data(). All menus of the tree are TPopupMenu (ui/OwnerDrawMenu.h),
  // whose setOnMeasureItem/setOnDrawItem let entries be measured and painted
  // by the program (the about entries; the cursor entries of MouseCsrItem).
  QMenu* PopupMenu1;
  QMenu* ChgSizeItem;
  QAction *Size25Item, *Size50Item, *Size75Item, *Pop_s3, *Size150Item, *Size200Item;
  QAction* TrimItem;
  QMenu* ColorItem;
  QAction *Col2Item, *Col16Item, *Col256Item, *Pop_s11, *GrayItem, *SepiaItem, *Pos_s12,
      *NegColItem;
  QMenu* ImageItem;
  QAction *RotR90Item, *RotL90Item, *Pop_s21, *RevLrItem, *RevTbItem, *Pop_s22;
  QMenu* MosicItem;
  QAction *Mosic2Item, *Mosic4Item, *Mosic8Item, *Mosic12Item, *Mosic16Item;
  QMenu* MouseCsrItem;
  QAction *UndoItem, *Pop_s1;
  QMenu* ShowItem;
  QAction *ShowClsItem, *ShowTxtItem;
  QMenu* CapColItem;
  QAction *HideColItem, *ColFmt2Item, *ColFmt1Item, *ColFmt3Item;
  QAction *ShowSttBarItem, *Pop_s4, *BgColItem;
  QAction *OptionItem, *Pop_s2, *HelpItem;
  QMenu* AboutItem;
  QAction *AbautInf1Item, *AboutInf2Item, *GoWebItem;
  void ShowMenu(QObject* sender);
  void PopMeasureItem(QAction* sender, const QFontMetrics& canvas, int& width, int& height);
  void AbautItemDrawItem(QAction* sender, QPainter& canvas, const QRect& rect, bool selected);
  void OptionItemClick(QAction* sender);
  void HelpItemClick(QAction* sender);
  void GoWebItemClick(QAction* sender);
  // The second about entry's text: "Version 1.55" for 155, with the locale's
  // decimal separator.
  static QString VersionText(int version);
  // Opens the help file for a help context (3 main window, 4 popup menu,
  // 5 options dialog); F1 asks for the context held in the "helpContext"
  // property of the window it is pressed in.
  void ShowHelpContext(int context);
  QString helpFileName() const;
  // F1 in a window that carries a "helpContext" property; true when taken.
  bool ContextHelpKey(QObject* watched, QEvent* e);

  // Selection rectangle and trimming (editing/Selection.cpp).
  void Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
  void Image1MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, QPoint pos);
  void Image1MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
  void SelShapeMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
  void SelShapeMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, QPoint pos);
  void SelShapeMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
  void TrimActionExecute(QAction* sender);
  // The selection rectangle clipped to the picture: a rectangle that reaches
  // beyond it (after a rotation) never reads pixels outside the picture.
  Rect SelectionInPicture() const;
  // Routes the mouse events of the view and the frame to their handlers.
  bool SelectionMouseEvent(QObject* watched, QEvent* e);
  // Ends a drawing or a frame move whose release will not arrive (a menu or
  // another client took the pointer): the pointer is released and the cursor
  // restored.
  void CancelSelGestures();

  // Colour filters, size, orientation and colour depth (editing/Edits.cpp).
  void SepiaActionExecute(QAction* sender);
  void NegColActionExecute(QAction* sender);
  void MosicIActionExecute(QAction* sender);
  void ResizeActionExecute(QAction* sender);
  void ReduceActionExecute(QAction* sender);
  void RotateActionExecute(QAction* sender);
  void ReverseActionExecute(QAction* sender);
  // Puts a progress text in the status line and paints it before long work.
  void ShowProgress(const char* text);
  // PushUndo for an edit that builds a new picture from the old one: the
  // working image itself becomes the snapshot (no copy) and is left empty for
  // the caller to rebuild from the returned snapshot, which stays readable
  // (and unpacked) while the caller holds it.
  std::shared_ptr<const Bitmap> PushUndoMoving();
  // ShowWorkingImage for an edit that has already brought the view's pixels
  // up to date: the same refresh without copying the picture into the view.
  void ShowViewAsIs();
  // The view shows the whole working image (not a background fill of
  // another size): it has the picture's colours.
  bool ViewFitsWorkingImage() const;
  // An edit that found no memory for its new picture: the snapshot just
  // pushed becomes the working image again.
  void TakeBackUndoStep();

  // Cursor stamp (editing/CursorStamp.cpp). The 20 generated entries of
  // MouseCsrItem, in table order, each carrying its cursor id as Tag.
  QList<QAction*> MouseCsrItems;
  void MouseCsrItemMeasureItem(QAction* sender, const QFontMetrics& canvas, int& width,
                               int& height);
  void MouseCsrItemDrawItem(QAction* sender, QPainter& canvas, const QRect& rect, bool selected);
  void MouseCsrItemClick(QAction* sender);
  // Ends stamp mode: the pointer is released and the cursor restored.
  void EndStampMode();

  // View toggles and pixel colour format (ui/ViewToggles.cpp).
  QColorDialog* ColorDialog1 = nullptr;
  void ShowClassActionExecute(QAction* sender);
  void ShowClassActionUpdate(QObject* sender);
  void ShowTextActionExecute(QAction* sender);
  void ShowTextActionUpdate(QObject* sender);
  void ShowSttBarActionExecute(QAction* sender);
  void ShowSttBarActionUpdate(QObject* sender);
  void ColFmtItemClick(QAction* sender);
  void BgColItemClick(QAction* sender);

  // Window image grab (capture/GrabWindowImage.cpp).
  void GrabWindowImage(WindowId wnd);

  // Hand-off: the copy and save buttons (handoff/).
  void CopyBtnClick(QObject* sender);
  void SaveBtnClick(QObject* sender);
  // What the buttons hand on: the selection shown (clipped to the picture),
  // as a full-colour picture, else the whole working image.
  Bitmap HandOffPicture() const;
  // The one-based entry of the save dialog's type list for a LastDefExt.
  static int SaveFilterIndex(const QString& defExt);
  QFileDialog* SavePictureDialog1 = nullptr;
  // The file name (without folder) of the last confirmed save, proposed again.
  QString FSaveFileName;
  // Runs the save dialog (exec() when unset); tests fill it in as a user would.
  std::function<int(QFileDialog&)> RunSaveDialog;
  // Dropped files (capture/DropFiles.cpp): the local files of a drop, the
  // first one used with its whole name (any bytes).
  void WMDropFiles(const std::vector<std::string>& files);
  bool ShowFileIcons(const std::string& name);
  static bool AcceptsDrop(const QMimeData* data);
  void DropFilesEvent(QDropEvent* e);

  // The options dialog (options/Unit2.cpp), created with the window.
  TOptionDlg* OptionDlg = nullptr;

  // Capture tool and target tracking (capture/CaptureTool.cpp).
  void CapToolImgMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
  void CapToolImgMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
  void Timer1Timer();
  // Where X shows no window but the desktop may show one of its own: the
  // desktop is asked for the picture, and its answer ends the capture.
  void CaptureThroughDesktop();
  void DesktopShotAnswered(Platform::DesktopShot result, Bitmap picture);
  // The end of every capture: the selection cleared, capture mode off, the
  // wand back in the tool and the pointer beside the tool bar; the capture
  // sound when a picture came.
  void EndCapture(bool playSound);
  // The text of a pixel colour (a platform colour value) in a colour format.
  static QString ColourText(int format, std::uint32_t colorRef);

  Platform& platform() { return platform_; }
  // The settings file's full path.
  QString iniFileName() const;
  // Plays a sound setting in the background; nothing when it is empty. A
  // relative name (the options dialog keeps files of the settings folder so)
  // is found in the settings folder, as at start-up.
  void PlaySettingSound(const QString& file);
  // The outer bounds the window was given at its first show.
  QRect requestedOuter() const {
    return QRect(wantedOuter_.left, wantedOuter_.top, wantedOuter_.width(), wantedOuter_.height());
  }
  // The cursor shown while the capture tool is dragged.
  const QCursor& captureCursor() const;

 protected:
  void showEvent(QShowEvent* e) override;
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  friend struct SettingsTable;

  void BuildLayout();
  void BuildPopupMenu();      // ui/PopupMenu.cpp
  void ConnectSelection();    // editing/Selection.cpp
  void ConnectViewToggles();  // ui/ViewToggles.cpp
  void ConnectEdits();        // editing/Edits.cpp
  void BuildStampItems();     // editing/CursorStamp.cpp
  void StampMouseDown(Qt::MouseButton button, QPoint pos);
  bool StampKey(int vk);
  void ConnectHandOff();  // handoff/CopyBtn.cpp
  // Sizes Image1 to the scroll range, and at least to the scroll box.
  void ApplyScrollRange();
  void BuildActions();
  void LoadImages();
  // Makes what depends on the screen's scale for the window's screen: the
  // capture tool's pictures, the wand cursor, the view's scroll range.
  void ApplyScale();
  void ReadCreationSettings();
  void ReadFirstShowSettings();
  bool WriteAllSettings();
  void ApplyWindowClass();
  void PutPointerOnCaptureTool();
  // The pointer in capture mode: the wand over every window, and every
  // button event reported to the capture tool; and back to normal.
  void TakeCapturePointer();
  void ReleaseCapturePointer();
  // Gives the window the outer (frame) bounds Lumivore wants; re-applied
  // once the window manager's frame is known.
  void ApplyOuterBounds();
  void CheckFrameKnown();
  // The frame around the window's client area, as far as the user sees it,
  // in device pixels.
  QMargins OuterMargins();

  Platform& platform_;
  QString exePath_;
  SettingsLocation location_;
  std::unique_ptr<QCursor> captureCursor_;
  // The outer bounds of the first placement, in device pixels.
  Rect wantedOuter_;
  QMargins assumedMargins_;
  // The frame of the window in its normal state: a maximised window's frame
  // differs, and the normal bounds are saved with the normal frame.
  QMargins normalMargins_;
  // The bounds the window last had in the normal state. Some window managers
  // (xfwm4, fluxbox) announce a maximised window's new geometry, in one or
  // more steps, before its maximised state, and Qt then takes such a step for
  // the normal bounds. Bounds that fill the screen's available width or
  // height are steps; others count only once they have stood for a moment
  // without the window becoming maximised (fluxbox's first step is its full
  // height below its own margin).
  QRect normalSeen_;
  QRect normalPending_;
  QTimer* normalSettle_ = nullptr;
  // The normal bounds while the window is maximised or minimised: those seen
  // last, else Qt's.
  QRect NormalBounds() const;
  // Shown maximised before the frame was known: the normal bounds are placed
  // again when the window is first restored.
  bool normalBoundsPending_ = false;
  // The pointer follows the capture tool while the first placement settles.
  bool pointerFollowsFrame_ = false;
  QTimer* frameWatch_ = nullptr;
  int frameChecks_ = 0;
  int lastFrameChange_ = 0;
  // The client size last asked for, and how often it was asked again.
  QSize askedSize_;
  int sizeRetries_ = 0;

 public:
  // Private fields in the order the program's design lists them.
  int FVersion = 0;
  Bitmap FWorkImage;
  // The list of snapshots, newest first, as a history that keeps each one
  // packed (editing/UndoHistory.h).
  UndoHistory FUndoList;
  WindowId FTargetWnd = 0;
  short FCaptureCursor = 0;
  bool FCapturing = false;
  // Capture mode waits for the desktop's answer (CaptureThroughDesktop).
  bool FAwaitingDesktop = false;
  Rect FSelRect;
  bool FSelDrawing = false;
  bool FSelMoving = false;
  int FAnchorX = 0;
  int FAnchorY = 0;
  bool FStampMode = false;
  // The cursor id of the stamp shape shown while stamp mode is on (0: none),
  // and the screen rectangle the pointer is kept in meanwhile.
  short FStampCursor = 0;
  Rect FStampClip;
  QString FLastDir;
  QString FLastDefExt;
  std::uint32_t FImgBgColor = 0;
  int FColValFmt = 0;
  std::unique_ptr<IniFile> FIniFile;
  int FJpegQuality = 0;
  int FScaleOpt = 0;
  int FHideWait = 0;
  bool FExtAllIcon = false;
  int FCaptureWait = 0;
  QString FCapSound;
  QString FChgSound;
  QString FActWndClass;
  QString FActWndTitle;
  QString FActWndTitleR;
  QString FCopyCmdLine;
  QString FSendKey;
  QString FSaveCmdLine;

  // The picture of Image1, full colour (32-bit), shown 1:1.
  Bitmap FViewBitmap;
  // The scroll ranges of ScrollBox1.
  QSize FScrollRange;

 private:
  struct ActionHandlers {
    void (TLumivoreForm::*execute)(QAction*);
    void (TLumivoreForm::*update)(QObject*);
  };
  QHash<QAction*, ActionHandlers> handlers_;
};

}  // namespace lumivore
