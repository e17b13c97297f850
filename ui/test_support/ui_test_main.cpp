// The `main` of every ui test program: the GoogleTest cases run inside a QApplication, on the offscreen
// platform unless the environment chooses one (the Xvfb tests choose xcb).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // Test discovery runs the programs outside CTest's environment: without a display they must still start.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
