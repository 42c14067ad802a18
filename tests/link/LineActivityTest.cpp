#include <gtest/gtest.h>

#include "common/Clock.h"
#include "link/HandsetPoller.h"
#include "link/LineActivity.h"
#include "support/FakeSerialPort.h"
#include "support/RecordingFrameSink.h"

namespace orderlink {
namespace {

struct Pair {
  LineUser holding, asking;
  const char* refusal;
};

TEST(LineArbiter, EachActivityRefusesTheOthersWithItsOwnTextAndTheLineComesBackOnce) {
  VirtualClock clock;
  test::FakeSerialPort port{&clock};
  test::RecordingFrameSink handlers;
  LineActivity line;
  SendThread send{&port, clock};
  ReceiveThread rcv{&port, handlers, line, clock};
  HandsetPoller poller{send, rcv};

  const Pair pairs[] = {
      {LineUser::Download, LineUser::LinkTest, "正在下传数据，请稍后再试!!"},
      {LineUser::StationDialogue, LineUser::LinkTest, "正在设置基站，请稍后再试！"},
      {LineUser::LinkTest, LineUser::Download, "正在进行软件测试，请稍后再试！"},
      {LineUser::StationDialogue, LineUser::Download, "正在设置基站，请稍后再试！"},
      {LineUser::Download, LineUser::StationDialogue, "正在下载数据，请先停止下载！"},
      {LineUser::LinkTest, LineUser::StationDialogue, "正在进行软件测试，请稍后再试！"},
  };
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(pair.refusal);
    auto held = line.Take(pair.holding, &poller);
    ASSERT_TRUE(held.grant.Holds());
    held.grant.PausePolling();
    held.grant.PausePolling();  // a grant pauses once
    EXPECT_EQ(poller.Pauses(), 1);
    if (pair.holding == LineUser::Download) held.grant.DownloadRuns();

    auto refused = line.Take(pair.asking, &poller);
    EXPECT_FALSE(refused.grant.Holds());
    EXPECT_EQ(refused.refusal, pair.refusal);
    EXPECT_EQ(poller.Pauses(), 1);

    held.grant.Release();
    held.grant.Release();
    EXPECT_EQ(poller.Pauses(), 0);
    auto granted = line.Take(pair.asking, &poller);
    EXPECT_TRUE(granted.grant.Holds());
    EXPECT_TRUE(granted.refusal.empty());
  }
  EXPECT_FALSE(line.DownloadOnLine() || line.linkTestRunning || line.stationBusy);

  // A download refuses from its start click on; a stopped one frees the line at once
  // and its pause of polling only when released, a resume too many never goes below.
  {
    auto download = line.Take(LineUser::Download, &poller);
    EXPECT_TRUE(line.downloadRequested && !line.downloadRunning);
    EXPECT_FALSE(line.Take(LineUser::LinkTest, &poller).grant.Holds());
    download.grant.DownloadRuns();
    download.grant.PausePolling();
    EXPECT_TRUE(line.downloadRunning && !line.downloadRequested);
    download.grant.EndActivity();
    EXPECT_FALSE(line.DownloadOnLine());
    EXPECT_EQ(poller.Pauses(), 1);
    auto test = line.Take(LineUser::LinkTest, &poller);
    test.grant.PausePolling();
    EXPECT_EQ(poller.Pauses(), 2);
    poller.ResumePolling();
    poller.ResumePolling();
    poller.ResumePolling();
    EXPECT_EQ(poller.Pauses(), 0);
  }  // the grants end here: nothing more is given back
  EXPECT_EQ(poller.Pauses(), 0);
  EXPECT_FALSE(line.linkTestRunning);
}

}  // namespace
}  // namespace orderlink
