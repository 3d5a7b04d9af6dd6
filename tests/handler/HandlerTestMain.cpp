#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // A run at a screen's scale sets QT_SCALE_FACTOR; every other run is at 100 %.
  if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
