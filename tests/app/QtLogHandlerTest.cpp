// Qt's own lines reach the log stamped and with their level; plugin noise does not.
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <mutex>

#include "common/Log.h"
#include "ui_support/QtLogHandler.h"

namespace orderlink {
namespace {

Q_LOGGING_CATEGORY(lcSample, "orderlink.sample")

class QtLogHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallQtLogHandler();
    SetLogFileSink([this](std::string_view line) { lines.emplace_back(line); });
  }
  void TearDown() override {
    SetLogFileSink({});
    qInstallMessageHandler(nullptr);
    QLoggingCategory::setFilterRules(QString());
  }
  std::vector<std::string> lines;  // filled under the log's lock, read after
};

TEST_F(QtLogHandlerTest, StampsQtLinesWithTheirLevelAndCategory) {
  qWarning("cannot connect to display");
  qCritical("out of memory");
  qCWarning(lcSample) << "port busy";
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].ends_with(" warning cannot connect to display")) << lines[0];
  EXPECT_TRUE(lines[1].ends_with(" error out of memory")) << lines[1];
  EXPECT_TRUE(lines[2].ends_with(" warning orderlink.sample: port busy")) << lines[2];
  EXPECT_EQ(lines[0][4], '-');  // starts with the date
}

TEST_F(QtLogHandlerTest, DropsPluginNoiseAndQtDebugLines) {
  qWarning("This plugin does not support raise()");
  qWarning("This plugin does not support propagateSizeHints()");
  qCDebug(lcSample) << "chatter";
  EXPECT_TRUE(lines.empty()) << lines.front();
  EXPECT_TRUE(IsQtNoise("This plugin does not support raise()"));
  EXPECT_FALSE(IsQtNoise("QSocketNotifier: Invalid socket 12"));
}

}  // namespace
}  // namespace orderlink
