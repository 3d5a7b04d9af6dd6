// The real main window on the scripted desktop, with its settings file in a
// folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "app/IniFile.h"
#include "app/ScriptedDesktop.h"
#include "app/Unit1.h"
#include "util/Dialogs.h"

namespace lumivore {

class FormFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SetMessageSinkForTesting([this](const QString& text, const QString& caption) {
      messages.push_back(caption + ": " + text);
    });
  }
  void TearDown() override {
    form.reset();
    SetMessageSinkForTesting(nullptr);
  }

  QString exePath() const { return dir_.filePath("lumivore"); }
  QString iniPath() const { return dir_.filePath("lumivore.INI"); }

  void writeIni(const QByteArray& text) {
    QFile f(iniPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  QString iniValue(const char* section, const char* key) const {
    return QString::fromStdString(IniFile(iniPath().toStdString()).ReadString(section, key, "?"));
  }
  QByteArray readIni() const {
    QFile f(iniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  // Creates the window; `show` also runs its first show.
  TLumivoreForm& start(bool show = true) {
    form = std::make_unique<TLumivoreForm>(desktop, exePath());
    if (show) {
      form->show();
      QApplication::processEvents();
    }
    return *form;
  }
  void closeForm() {
    form->close();
    QApplication::processEvents();
  }

  QTemporaryDir dir_;
  ScriptedDesktop desktop;
  std::unique_ptr<TLumivoreForm> form;
  std::vector<QString> messages;
};

}  // namespace lumivore
