// Shared main of every test binary: a QApplication on the offscreen platform (so
// window tests can create widgets) and GoogleTest.
#include <gmock/gmock.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("ORDERLINK_NONINTERACTIVE", "1", 0);
  // The programs under test read no settings file of the user's and log under the
  // build folder, not into the home folder.
  setenv("XDG_CONFIG_HOME", ORDERLINK_BIN_DIR "/../test-home/config", 1);
  setenv("XDG_DATA_HOME", ORDERLINK_BIN_DIR "/../test-home/data", 1);
  setenv("XDG_STATE_HOME", ORDERLINK_BIN_DIR "/../test-home/state", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
