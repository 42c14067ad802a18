// Shared main of every test binary: a QApplication on the offscreen platform (so
// window tests can create widgets) and GoogleTest.
#include <gmock/gmock.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("ORDERLINK_NONINTERACTIVE", "1", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
