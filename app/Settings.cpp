// The settings of the main window: one table gives, for every key, its
// section, type, default, where it lives and when it is read. The table is in
// the order the keys are written at close, so a new file gets that order.
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <variant>

#include "app/DevicePixels.h"
#include "app/IniFile.h"
#include "app/Unit1.h"
#include "util/Dialogs.h"
#include "util/FormPlacement.h"
#include "util/Userfunc.h"

namespace lumivore {

namespace {

enum class ReadAt { Creation, FirstShow };

// Where a setting lives: a field of the main window, or the visibility of
// one of its rows.
struct Row {
  QWidget* (*of)(TLumivoreForm&);
};
using Target = std::variant<int TLumivoreForm::*, bool TLumivoreForm::*,
                            std::uint32_t TLumivoreForm::*, QString TLumivoreForm::*, Row>;

struct Setting {
  const char* section;
  const char* key;
  Target target;
  ReadAt readAt;
  int intDefault;
  const char* textDefault;
  bool isPath;  // a sound file, resolved against the settings file's folder
};

constexpr int kNoInt = 0;

}  // namespace

struct SettingsTable {
  static const std::vector<Setting>& Rows() {
    using F = TLumivoreForm;
    static const std::vector<Setting> rows = {
        {"General", "ShowClsName", Row{[](F& f) -> QWidget* { return f.ClsNamPanel; }},
         ReadAt::FirstShow, 1, "", false},
        {"General", "ShowWndText", Row{[](F& f) -> QWidget* { return f.WndTxtPanel; }},
         ReadAt::FirstShow, 1, "", false},
        {"General", "ShowSttBar", Row{[](F& f) -> QWidget* { return f.StatusBar1; }},
         ReadAt::FirstShow, 1, "", false},
        {"General", "LastDir", &F::FLastDir, ReadAt::Creation, kNoInt, "", false},
        {"General", "LastDefExt", &F::FLastDefExt, ReadAt::Creation, kNoInt, "BMP", false},
        {"General", "ImgBgColor", &F::FImgBgColor, ReadAt::Creation, 0, "", false},
        {"General", "ColValFmt", &F::FColValFmt, ReadAt::FirstShow, 0, "", false},
        {"Option", "HideWait", &F::FHideWait, ReadAt::Creation, 100, "", false},
        {"Option", "CaptureWait", &F::FCaptureWait, ReadAt::Creation, 3000, "", false},
        {"Option", "JpegQuality", &F::FJpegQuality, ReadAt::Creation, 100, "", false},
        {"Option", "ScaleOpt", &F::FScaleOpt, ReadAt::Creation, 0, "", false},
        {"Option", "ExtAllIcon", &F::FExtAllIcon, ReadAt::Creation, 1, "", false},
        {"Sound", "ChgImage", &F::FChgSound, ReadAt::Creation, kNoInt, "", true},
        {"Sound", "CapImage", &F::FCapSound, ReadAt::Creation, kNoInt, "", true},
        {"OnCopy", "ActWndClass", &F::FActWndClass, ReadAt::Creation, kNoInt, "", false},
        {"OnCopy", "ActWndTitle", &F::FActWndTitle, ReadAt::Creation, kNoInt, "", false},
        {"OnCopy", "ActWndTitleR", &F::FActWndTitleR, ReadAt::Creation, kNoInt, "", false},
        {"OnCopy", "CmdLine", &F::FCopyCmdLine, ReadAt::Creation, kNoInt, "", false},
        {"OnCopy", "SendKey", &F::FSendKey, ReadAt::Creation, kNoInt, "", false},
        {"OnSave", "CmdLine", &F::FSaveCmdLine, ReadAt::Creation, kNoInt, "", false},
    };
    return rows;
  }

  static void Read(TLumivoreForm& form, ReadAt moment) {
    const IniFile& ini = *form.FIniFile;
    for (const Setting& s : Rows()) {
      if (s.readAt != moment) continue;
      std::visit(
          [&](auto member) {
            using M = decltype(member);
            if constexpr (std::is_same_v<M, int TLumivoreForm::*>) {
              form.*member = ini.ReadInteger(s.section, s.key, s.intDefault);
            } else if constexpr (std::is_same_v<M, std::uint32_t TLumivoreForm::*>) {
              form.*member =
                  static_cast<std::uint32_t>(ini.ReadInteger(s.section, s.key, s.intDefault));
            } else if constexpr (std::is_same_v<M, bool TLumivoreForm::*>) {
              form.*member = ini.ReadBool(s.section, s.key, s.intDefault != 0);
            } else if constexpr (std::is_same_v<M, QString TLumivoreForm::*>) {
              std::string value = ini.ReadString(s.section, s.key, s.textDefault);
              if (s.isPath) value = ResolveFilePath(value, form.location_.folder);
              form.*member = QString::fromStdString(value);
            } else {
              member.of(form)->setVisible(ini.ReadBool(s.section, s.key, s.intDefault != 0));
            }
          },
          s.target);
    }
  }

  static bool Write(TLumivoreForm& form) {
    IniFile& ini = *form.FIniFile;
    for (const Setting& s : Rows()) {
      const bool ok = std::visit(
          [&](auto member) {
            using M = decltype(member);
            if constexpr (std::is_same_v<M, int TLumivoreForm::*>) {
              return ini.WriteInteger(s.section, s.key, form.*member);
            } else if constexpr (std::is_same_v<M, std::uint32_t TLumivoreForm::*>) {
              return ini.WriteInteger(s.section, s.key, static_cast<int>(form.*member));
            } else if constexpr (std::is_same_v<M, bool TLumivoreForm::*>) {
              return ini.WriteBool(s.section, s.key, form.*member);
            } else if constexpr (std::is_same_v<M, QString TLumivoreForm::*>) {
              return ini.WriteString(s.section, s.key, (form.*member).toStdString());
            } else {
              // Written from the row itself: hidden while the window is not
              // shown counts as its own setting, not as the window's.
              return ini.WriteBool(s.section, s.key, !member.of(form)->isHidden());
            }
          },
          s.target);
      if (!ok) return false;
    }
    return true;
  }
};

void TLumivoreForm::ReadCreationSettings() {
  // The stored version is raised to the running program's, never lowered.
  if (FIniFile->ReadInteger("General", "Version", 0) < FVersion) {
    if (!FIniFile->WriteInteger("General", "Version", FVersion)) {
      ErrorBox(this, QString::fromUtf8("%1 に書き込めません").arg(iniFileName()), "Lumivore");
    }
  }
  SettingsTable::Read(*this, ReadAt::Creation);
  QPalette p = ScrollBox1->viewport()->palette();
  p.setColor(QPalette::Window,
             QColor(RedOf(RgbFromColorRef(FImgBgColor)), GreenOf(RgbFromColorRef(FImgBgColor)),
                    BlueOf(RgbFromColorRef(FImgBgColor))));
  ScrollBox1->viewport()->setPalette(p);
}

void TLumivoreForm::ReadFirstShowSettings() {
  // The file keeps device pixels, as at 100 %: a window stored at one scale
  // opens at the same place and size on the desktop at another. The default
  // size and the narrowest width are the designed ones at the scale of the
  // primary monitor, where a window without stored bounds opens.
  // Stored bounds may lie on a monitor of a smaller scale: there the window
  // may be as narrow as its logical minimum at that scale, which the window
  // itself keeps.
  const QScreen* primary = QGuiApplication::primaryScreen();
  const qreal scale = primary ? primary->devicePixelRatio() : ScaleOf(this);
  qreal smallest = scale;
  for (const QScreen* s : QGuiApplication::screens())
    smallest = std::min(smallest, s->devicePixelRatio());
  const auto device = [scale](int logical) { return qRound(logical * scale); };
  const FormPlacement placement =
      LoadFormPlacement(*FIniFile, platform_, DeviceSize(this), device(220), device(240),
                        qRound(kMinOuterWidth * smallest));
  wantedOuter_ = placement.outer;
  ApplyOuterBounds();
  frameChecks_ = lastFrameChange_ = sizeRetries_ = 0;
  pointerFollowsFrame_ = true;
  frameWatch_->start();
  if (placement.state == 2) setWindowState(Qt::WindowMaximized);
  if (placement.state == 1) setWindowState(Qt::WindowMinimized);
  SettingsTable::Read(*this, ReadAt::FirstShow);
  PixColPanel->setVisible(FColValFmt > 0);
}

bool TLumivoreForm::WriteAllSettings() {
  // Record the normal bounds even when the window is minimised or maximised,
  // with the frame it has in the normal state.
  const bool normalState = !isMaximized() && !isMinimized();
  const QMargins m = normalState ? OuterMargins() : normalMargins_;
  const Rect normal = DeviceRect(normalState ? geometry() : NormalBounds());
  const Rect outer{normal.left - m.left(), normal.top - m.top(), normal.right + m.right(),
                   normal.bottom + m.bottom()};
  const bool ok = SaveFormPlacement(*FIniFile, outer, isMaximized()) && SettingsTable::Write(*this);
  if (!ok) ErrorBox(this, QString::fromUtf8("%1 に書き込めません").arg(iniFileName()), "Lumivore");
  return ok;
}

}  // namespace lumivore
