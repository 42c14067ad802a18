// How long the window stands still while a whole menu download runs and the
// ordering software keeps answering requests and sending short messages. This is a
// measurement, not a check of speed: it runs only with ORDERLINK_STALL_PROBE=1, and
// the number comes from the stall probe's log line at shutdown. What it checks is
// that the download ends and the ordering software's traffic still gets through.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <filesystem>
#include <iostream>

#include "app/Application.h"
#include "download/DownloadPage.h"
#include "e2e/E2eSupport.h"

namespace orderlink::e2e {
namespace {

TEST(E2eMeasure, WindowStallDuringASampleMenuDownloadWithTraffic) {
  if (qEnvironmentVariable("ORDERLINK_STALL_PROBE") != QLatin1String("1")) {
    GTEST_SKIP() << "a measurement of about a minute: set ORDERLINK_STALL_PROBE=1 to run it";
  }
  test::TempAppDir dir;
  for (const auto& file : std::filesystem::directory_iterator(
           std::filesystem::path(ORDERLINK_SOURCE_DIR) / "samples/TXT")) {
    std::filesystem::copy_file(file.path(),
                               std::filesystem::path(dir.Path()) / "TXT" / file.path().filename(),
                               std::filesystem::copy_options::overwrite_existing);
  }
  test::ChildProcess station({Bin("orderlink-basesim"), "--pty", "--handsets", "1-8", "--think-ms",
                              "1000", "--seconds", "300"},
                             {});
  const std::string device = Announced(station, "PTY ");
  ASSERT_FALSE(device.empty()) << station.Stderr();
  test::ChildProcess ordering({Bin("orderlink-hostsim"), "--appdir", dir.Path(), "--no-launch",
                               "--reply-delay-ms", "50", "--short-message-every", "2"},
                              {});
  const std::string port = Announced(ordering, "PORT ");
  ASSERT_FALSE(port.empty()) << ordering.Stderr();

  ScopedEnv env({{"ORDERLINK_APPDIR", dir.Path()}, {"ORDERLINK_COM1", device}});
  StderrCapture log;
  bool started = false;
  bool finished = false;
  RunApplication({port}, [&](Application&) {
    auto* page = Find<DownloadPage>("DownloadPage");
    ASSERT_NE(page, nullptr);
    WaitUntil([] { return false; }, 5000);  // requests and replies before the download
    page->selectAllBox->click();            // every handset, the tables ticked at start
    page->startStopButton->click();
    started = WaitUntil([&] { return page->startStopButton->text() == "正在下载"; }, 20000);
    finished = WaitUntil([&] { return page->startStopButton->text() == "开始下载"; }, 240000);
    WaitUntil([] { return false; }, 5000);  // what queued up behind the download
  });
  const std::string text = log.Text();
  EXPECT_TRUE(started && finished);
  EXPECT_NE(text.find("message: 下载完毕！"), std::string::npos);
  const auto probe = text.find("stall probe: worst");
  ASSERT_NE(probe, std::string::npos) << text;
  std::cout << text.substr(probe, text.find('\n', probe) - probe) << "\n";

  ordering.Signal(SIGTERM);
  const std::string summary = LineStarting(RestOfOutput(ordering, 20000), "summary:");
  std::cout << "hostsim " << summary << "\n";
  EXPECT_GE(Field(summary, "replies"), 1) << summary;
  EXPECT_GE(Field(summary, "short_messages"), 1) << summary;
}

}  // namespace
}  // namespace orderlink::e2e
