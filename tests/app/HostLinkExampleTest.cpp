// The integrators' example client of docs/ against the built program: it sees the
// start-up notification and, after SIGTERM ends orderlink, the WM_CLOSE.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "support/Processes.h"

namespace orderlink {
namespace {

namespace fs = std::filesystem;

TEST(HostLinkExampleTest, SeesStartUpAndCloseOfOrderlinkWithTheSampleFiles) {
  const fs::path program = fs::path(ORDERLINK_BIN_DIR) / "orderlink";
  const fs::path example = fs::path(ORDERLINK_SOURCE_DIR) / "docs/host_link_example.py";
  if (!fs::exists(program)) GTEST_SKIP() << "build the orderlink target first";
  if (!fs::exists("/usr/bin/python3")) GTEST_SKIP() << "python3 is not installed";

  test::TempAppDir appDir;
  fs::copy(fs::path(ORDERLINK_SOURCE_DIR) / "samples/TXT", fs::path(appDir.Path()) / "TXT",
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  test::PtyPair line;

  test::ChildProcess host({"/usr/bin/python3", example.string(), appDir.Path()}, {});
  const auto listening = host.ReadLine(10000);
  ASSERT_TRUE(listening) << host.Stderr();
  ASSERT_EQ(listening->rfind("listening on ", 0), 0u) << *listening;
  const std::string port = listening->substr(13);

  test::ChildProcess orderlink(
      {program.string(), port},
      {"ORDERLINK_APPDIR=" + appDir.Path(), "ORDERLINK_COM1=" + line.SlavePath(),
       "ORDERLINK_NONINTERACTIVE=1", "QT_QPA_PLATFORM=offscreen",
       "XDG_CONFIG_HOME=" + appDir.Path() + "/config",
       "XDG_STATE_HOME=" + appDir.Path() + "/state"});
  const auto started = host.ReadLine(15000);
  ASSERT_TRUE(started) << orderlink.Stderr();
  EXPECT_EQ(started->rfind("orderlink started on port ", 0), 0u) << *started;

  line.Read(500);  // polling has begun: start-up is complete
  orderlink.Signal(SIGTERM);
  EXPECT_EQ(orderlink.Wait(15000), 0) << orderlink.Stderr();
  EXPECT_EQ(host.ReadLine(10000), std::optional<std::string>("orderlink closed")) << host.Stderr();
  EXPECT_EQ(host.Wait(5000), 0);
}

}  // namespace
}  // namespace orderlink
