// The options dialog: four pages editing the settings that have no command of
// their own. It works on the main window's fields directly: showing copies
// them into the controls, OK copies the controls back, Cancel leaves them.
// Created once with the main window and reused, so the page last used opens
// again.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTabWidget;
class QWidget;

namespace lumivore {

class TLumivoreForm;

// The file-open dialog shared by the four "..." buttons. Its initial folder
// stays as the last showing left it unless set.
class TOpenDialog {
 public:
  QString Title;
  QString FileName;
  QString Filter;
  QString DefaultExt;
  QString InitialDir;

  // Shows the dialog; true with FileName set to the chosen full path.
  bool Execute(QWidget* parent);

  // Answers in place of the user for tests: given the prepared dialog, sets
  // FileName and returns true for a choice, false for cancel.
  using Hook = std::function<bool(TOpenDialog&)>;
  static void SetHookForTesting(Hook hook);
};

class TOptionDlg : public QDialog {
 public:
  explicit TOptionDlg(TLumivoreForm& owner);

  QPushButton* OKBtn;
  QPushButton* CancelBtn;
  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QLabel* Label1;
  QLineEdit* HideWaitEdit;
  QLabel* Label5;
  QLabel* Label2;
  QLineEdit* CapWaitEdit;
  QLabel* Label6;
  QGroupBox* GroupBox1;
  QLabel* Label3;
  QLineEdit* ChgSndEdit;
  QPushButton* RefChgSndBtn;
  QLabel* Label4;
  QLineEdit* CapSndEdit;
  QPushButton* RefCapSndBtn;
  QPushButton* TstChgSndBtn;
  QPushButton* TstCapSndBtn;
  QCheckBox* AllIconCheckBox;
  QWidget* TabSheet2;
  QGroupBox* GroupBox2;
  QLabel* Label7;
  QLineEdit* ActClassEdit;
  QLabel* Label8;
  QLineEdit* ActTitleEdit;
  QLabel* Label9;
  QLineEdit* ActTitle2Edit;
  QGroupBox* GroupBox3;
  QLineEdit* CpyCmdEdit;
  QPushButton* RefCpyCmdBtn;
  QLabel* Label11;
  QLineEdit* SendKeyEdit;
  QWidget* TabSheet3;
  QLabel* Label10;
  QLabel* JpgLabel;
  QSlider* JpgTrackBar;
  QGroupBox* GroupBox4;
  QLineEdit* SavCmdEdit;
  QPushButton* RefSavCmdBtn;
  QWidget* TabSheet4;
  QGroupBox* GroupBox5;
  QComboBox* ScaleOptComboBox;
  TOpenDialog OpenDialog1;

  void FormCreate();
  void FormShow();
  // The shared handlers tell their buttons apart by the sender's "Tag"
  // property: 0 change sound / copy program, 1 capture sound / save program.
  void RefSndBtnClick(QObject* sender);
  void TestSndBtnClick(QObject* sender);
  void RefCmdBtnClick(QObject* sender);
  void JpgTrackBarChange();
  void OKBtnClick();

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void BuildControls();
  // The executable's folder, without a trailing slash.
  QString ExeDir() const;

  TLumivoreForm& owner_;
};

}  // namespace lumivore
