#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "app/AppCore.h"
#include "app/UdpHostLink.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "link/FrameCodec.h"
#include "link/FrameTrace.h"
#include "link/TracingPort.h"
#include "support/AppTestSupport.h"
#include "support/FakeSerialPort.h"
#include "support/ManualTimers.h"
#include "support/Processes.h"
#include "support/RecordingMessages.h"

namespace orderlink {
namespace {

using test::LittleEndianMessage;

class RecordingList final : public HandsetListView {
 public:
  void AddHandset(const std::string& text) override { texts.push_back(text); }
  void HandsetsComplete() override { ++completes; }
  std::vector<std::string> texts;
  int completes = 0;
};

class AppCoreTest : public ::testing::Test {
 protected:
  AppCoreTest() {
    core = std::make_unique<AppCore>(
        clock, messages, host, timers,
        [this](int number, PortOpenError* error) -> std::unique_ptr<SerialPort> {
          openedPorts.push_back(number);
          if (portFails) {
            *error = {"/dev/ttyUSB7", ENOENT, "No such file or directory", ""};
            return nullptr;
          }
          auto fake = std::make_unique<test::FakeSerialPort>();
          fake->SetHandle(nextHandle++);
          port = fake.get();
          return fake;
        });
    core->quitApplication = [this] {
      ++quits;
      core->Shutdown();
    };
  }

  void Files(const std::string& base, const std::string& handsets) {
    dir.WriteGbk("基站.txt", base);
    dir.WriteGbk("点菜机.txt", handsets);
  }
  std::string HostArg() const { return std::to_string(ordering.Port()); }

  SystemClock clock;
  VirtualClock timerClock;
  test::ManualTimers timers{timerClock};
  test::RecordingMessages messages;
  UdpHostLink host;
  test::TempAppDir dir;
  test::UdpPeer ordering;
  std::vector<int> openedPorts;
  bool portFails = false;
  int nextHandle = 40;
  test::FakeSerialPort* port = nullptr;  // the latest device; gone once the core drops it
  int quits = 0;
  std::unique_ptr<AppCore> core;
};

TEST_F(AppCoreTest, HostModeAnnouncesItsPortAndSaysGoodbyeAtShutdown) {
  Files("1 COM1\r\n", "001 1\r\n");
  ASSERT_TRUE(core->OpenLink({HostArg(), "ignored"}, dir.Path()));
  EXPECT_FALSE(core->DebugMode());
  EXPECT_EQ(core->HostWindow(), ordering.Port());

  const auto announce = ordering.ReceiveBytes(5000);
  ASSERT_TRUE(announce);
  EXPECT_EQ(announce->bytes, LittleEndianMessage(1280, 0, host.OwnPort()));
  EXPECT_EQ(announce->fromPort, host.OwnPort());

  RecordingList list;
  ASSERT_TRUE(core->FillAndStart({&list}));
  ASSERT_NE(core->Poller(), nullptr);
  EXPECT_TRUE(core->Poller()->Running());
  EXPECT_EQ(core->Poller()->Period(), 1000 / 15);

  core->Shutdown();
  const auto goodbye = ordering.ReceiveBytes(5000);
  ASSERT_TRUE(goodbye);
  EXPECT_EQ(goodbye->bytes, LittleEndianMessage(16, 0, 0));
  EXPECT_EQ(core->Receiver(), nullptr);
  EXPECT_EQ(core->Sender(), nullptr);
  EXPECT_EQ(core->Poller(), nullptr);
  EXPECT_FALSE(core->LineUp());
  EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(AppCoreTest, EveryListGetsTheHandsetsOfTheFirstStation) {
  Files("1 COM1\r\n", "001 1\r\n002 2\r\n003 1\r\n004 2\r\n005 1\r\n");
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  EXPECT_TRUE(core->DebugMode());
  RecordingList monitor, tree;
  ASSERT_TRUE(core->FillAndStart({&monitor, &tree}));

  const std::vector<std::string> expected = {"001", "003", "005"};
  EXPECT_EQ(monitor.texts, expected);
  EXPECT_EQ(tree.texts, expected);
  EXPECT_EQ(monitor.completes, 1);
  EXPECT_EQ(tree.completes, 1);
  HandsetPoller* poller = core->Poller();
  ASSERT_EQ(poller->Count(), 3);
  EXPECT_EQ(poller->Handset(0), 1);
  EXPECT_EQ(poller->Handset(1), 3);
  EXPECT_EQ(poller->Handset(2), 5);
  EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(AppCoreTest, TwoLineBaseFileNamesTheFirstPortAndOpensTheSecond) {
  Files("1 COM1\r\n2 COM2\r\n", "001 1\r\n002 2\r\n");
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  EXPECT_EQ(openedPorts, std::vector<int>{2});
  EXPECT_EQ(core->PortName(), "COM1");
  RecordingList list;
  ASSERT_TRUE(core->FillAndStart({&list}));
  EXPECT_EQ(list.texts, std::vector<std::string>{"001"});
}

TEST_F(AppCoreTest, EmptyHandsetFileGivesEmptyListsAndAnIdlePoller) {
  Files("1 COM1\r\n", "");
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  RecordingList list;
  ASSERT_TRUE(core->FillAndStart({&list}));
  EXPECT_TRUE(list.texts.empty());
  EXPECT_EQ(list.completes, 1);
  EXPECT_EQ(core->Poller()->Count(), 0);
  EXPECT_TRUE(messages.Messages().empty());
}

struct FailureCase {
  const char* name;
  std::vector<std::string> args;  // "HOST" stands for the ordering software's port
  std::optional<std::string> base;
  std::optional<std::string> handsets;
  bool portFails;
  std::vector<std::string> messages;
  bool hostTold;  // the host got the announcement, then exactly one WM_CLOSE
  std::vector<std::string> listed;
};
void PrintTo(const FailureCase& failure, std::ostream* out) { *out << failure.name; }

class StartupFailureTest : public AppCoreTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartupFailureTest, ShowsItsMessageAndShutsDown) {
  const FailureCase& c = GetParam();
  if (c.base) dir.WriteGbk("基站.txt", *c.base);
  if (c.handsets) dir.WriteGbk("点菜机.txt", *c.handsets);
  portFails = c.portFails;
  std::vector<std::string> args = c.args;
  for (auto& arg : args) {
    if (arg == "HOST") arg = HostArg();
  }

  RecordingList list;
  if (core->OpenLink(args, dir.Path())) core->FillAndStart({&list});

  // "@TXT" stands for the folder the missing files were looked for in.
  std::vector<std::string> expected = c.messages;
  for (std::string& message : expected) {
    if (const auto at = message.find("@TXT"); at != std::string::npos) {
      message.replace(at, 4, dir.Path() + "/TXT");
    }
  }
  EXPECT_EQ(messages.Messages(), expected);
  EXPECT_GE(quits, 1);
  EXPECT_TRUE(core->ShutDown());
  EXPECT_EQ(core->Receiver(), nullptr);
  EXPECT_EQ(core->Poller(), nullptr);
  EXPECT_EQ(list.texts, c.listed);
  if (c.hostTold) {
    ASSERT_TRUE(ordering.ReceiveBytes(5000));  // the announcement
    const auto goodbye = ordering.ReceiveBytes(5000);
    ASSERT_TRUE(goodbye);
    EXPECT_EQ(goodbye->bytes, LittleEndianMessage(16, 0, 0));
  }
  EXPECT_FALSE(ordering.ReceiveBytes(200)) << "nothing more reaches the host";
}

const std::string kBase = "1 COM1\r\n";
const std::string kHandsets = "001 1\r\n";
const std::string kNoDevice =
    "com1 not opend or thread not created.\n/dev/ttyUSB7（No such file or directory）："
    "设备不存在，请检查设置ORDERLINK_COM1（已连接的USB串口适配器列在/dev/serial/by-id/中）。";

INSTANTIATE_TEST_SUITE_P(
    Conditions, StartupFailureTest,
    ::testing::Values(
        FailureCase{"NoParameter", {}, kBase, kHandsets, false, {"没有参数"}, false, {}},
        FailureCase{"ParameterNotANumber",
                    {"debug"},
                    kBase,
                    kHandsets,
                    false,
                    {"参数“debug”无效：应为DEBUG或点菜软件的端口号1～65535。"},
                    false,
                    {}},
        FailureCase{"ParameterOutOfRange",
                    {"65536"},
                    kBase,
                    kHandsets,
                    false,
                    {"参数“65536”无效：应为DEBUG或点菜软件的端口号1～65535。"},
                    false,
                    {}},
        FailureCase{"BaseFileMissing",
                    {"HOST"},
                    std::nullopt,
                    kHandsets,
                    false,
                    {"基站.txt文件不存在！（在@TXT中查找）"},
                    true,
                    {}},
        FailureCase{"BaseFileThreeLines",
                    {"HOST"},
                    "1 COM1\r\n2 COM2\r\n3 COM3\r\n",
                    kHandsets,
                    false,
                    {"基站.txt第3行：基站文件最多只能有两行。"},
                    true,
                    {}},
        FailureCase{"PortNotADigit",
                    {"HOST"},
                    "1 COMA\r\n",
                    kHandsets,
                    false,
                    {"基站.txt第1行：第6个字符应是串口号1～9。"},
                    true,
                    {}},
        // The remaining steps still run: the lists are filled, nothing is started.
        FailureCase{
            "PortCannotBeOpened", {"HOST"}, kBase, kHandsets, true, {kNoDevice}, true, {"001"}},
        FailureCase{"PortAndHandsetFileMissing",
                    {"HOST"},
                    kBase,
                    std::nullopt,
                    true,
                    {kNoDevice, "点菜机.txt文件不存在！（在@TXT中查找）"},
                    true,
                    {}},
        FailureCase{"HandsetFileMissing",
                    {"HOST"},
                    kBase,
                    std::nullopt,
                    false,
                    {"点菜机.txt文件不存在！（在@TXT中查找）"},
                    true,
                    {}},
        FailureCase{"HandsetNumberNotANumber",
                    {"HOST"},
                    kBase,
                    "001 1\r\n0x2 1\r\n",
                    false,
                    {"点菜机.txt第2行：机号“0x2”不是三位数字。"},
                    true,
                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppCoreTest, MoreThan256HandsetsAreRefusedAtStart) {
  std::string handsets;
  for (int i = 0; i < 257; ++i) handsets += ZeroPadded(i % 256, 3) + " 1\r\n";
  Files(kBase, handsets);
  RecordingList list;
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  EXPECT_FALSE(core->FillAndStart({&list}));
  EXPECT_EQ(messages.Messages(),
            std::vector<std::string>{"点菜机.txt中本基站的点菜机超过256台（第257行）。"});
  EXPECT_TRUE(core->ShutDown());
  EXPECT_TRUE(list.texts.empty());
}

TEST_F(AppCoreTest, ShutdownEndsARunningJobAndJoinsEveryThread) {
  Files(kBase, "001 1\r\n");
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  std::promise<void> started;
  std::atomic<bool> pauseCompleted{true};
  const LineWork longJob{"long job", 1, [&](SendThread& thread) {
                           started.set_value();
                           pauseCompleted = thread.Pause(60'000);
                         }};
  RecordingList list;
  ASSERT_TRUE(core->FillAndStart({&list}));
  ASSERT_TRUE(core->Sender()->Post(longJob));
  started.get_future().wait();
  // Let a few poll ticks fall due while the job holds the line.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  core->Shutdown();
  EXPECT_FALSE(pauseCompleted) << "the job's pause was cut short by the shutdown";
  EXPECT_FALSE(core->LineUp());
}

TEST_F(AppCoreTest, ReceivedBytesReachTheReceiveThreadsHandOvers) {
  Files(kBase, "001 1\r\n");
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  std::promise<int> timeQuery;
  core->Handlers().timeQuery = [&](const Message& query) { timeQuery.set_value(query.handset); };
  RecordingList list;
  ASSERT_TRUE(core->FillAndStart({&list}));

  port->QueueInput(test::Hex("00 00 00 C1 02 07 FF 01 00 53 4A 43 58"));
  core->PortReadable();
  auto future = timeQuery.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(future.get(), 0);
}

TEST_F(AppCoreTest, OnlyTheHostsWellFormedDatagramsAreRouted) {
  Files(kBase, "001 1\r\n");
  ASSERT_TRUE(core->OpenLink({HostArg()}, dir.Path()));
  std::vector<int> routed;
  core->hostNotify.shortMessage = [&] { routed.push_back(0); };
  core->hostNotify.reply = [&] { routed.push_back(1); };
  core->hostNotify.login = [&] { routed.push_back(10); };
  core->hostNotify.download = [&] { routed.push_back(11); };

  test::UdpPeer stranger;
  stranger.SendBytes(host.OwnPort(), EncodeHostMessage(HostMessage{kHostNotifyMessage, 0, 1}));
  stranger.SendBytes(host.OwnPort(), EncodeHostMessage(HostMessage{kCloseMessage, 0, 0}));
  ordering.SendBytes(host.OwnPort(), EncodeHostMessage(HostMessage{kHostNotifyMessage, 0, 1}));
  ordering.SendBytes(host.OwnPort(), EncodeHostMessage(HostMessage{kHostNotifyMessage, 0, 11}));
  ordering.SendBytes(host.OwnPort(), LittleEndianMessage(1280, 0, 1).substr(0, 11));
  ordering.SendBytes(host.OwnPort(), LittleEndianMessage(1280, 0, 1) + "x");
  ordering.SendBytes(host.OwnPort(), EncodeHostMessage(HostMessage{kHostNotifyMessage, 0, 5}));
  ordering.SendBytes(host.OwnPort(), EncodeHostMessage(HostMessage{kHostNotifyMessage, 0, 10}));
  ordering.SendBytes(host.OwnPort(), EncodeHostMessage(HostMessage{kHostNotifyMessage, 0, 0}));
  core->HostReadable();
  EXPECT_EQ(routed, (std::vector<int>{1, 11, 10, 0}));
  EXPECT_EQ(quits, 0);

  ordering.SendBytes(host.OwnPort(), EncodeHostMessage(HostMessage{kCloseMessage, 0, 0}));
  core->HostReadable();
  EXPECT_EQ(quits, 1);
}

TEST_F(AppCoreTest, DebugModeLoopsNotificationsBackToItself) {
  Files(kBase, "001 1\r\n");
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  EXPECT_EQ(core->HostWindow(), host.OwnPort());
  int replies = 0;
  core->hostNotify.reply = [&] { ++replies; };

  host.Notify(NotifyRequest);
  core->HostReadable();
  EXPECT_EQ(replies, 1);

  core->Shutdown();
  const std::vector<HostMessage> expected = {HostMessage{kCloseMessage, 0, 0}};
  EXPECT_EQ(host.ReadPending(), expected);
  EXPECT_FALSE(ordering.ReceiveBytes(200)) << "no other window hears from a debug run";
}

}  // namespace
}  // namespace orderlink

namespace orderlink {
namespace {

// The serial line in service: a device that hangs up and comes back, and a ring
// that fills up. The hooks record what they are told together with the number of
// notices shown by then, so the order of watch, notice and hook is checked too.
class LineServiceTest : public AppCoreTest {
 protected:
  void SetUp() override {
    core->watchPort = [this](int handle) { Event("watch " + std::to_string(handle)); };
    core->lineLost = [this] { Event("lost"); };
    core->lineBack = [this] { Event("back"); };
    core->Handlers().request = [this](const Message& request) {
      std::lock_guard lock(mutex);
      requests.push_back(std::string(request.command) + test::ToHex(request.payload));
    };
    Files("1 COM1\r\n", "001 1\r\n");
  }
  // The hooks point into this fixture: the core shuts down while they are still valid.
  void TearDown() override {
    if (core) core->Shutdown();
  }
  void Event(const std::string& what) {
    events.push_back(what + " after " + std::to_string(messages.Notices().size()) + " notices");
  }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mutex);
    return requests;
  }
  bool WaitForRequests(std::size_t count) {
    for (int i = 0; i < 500 && Requests().size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Requests().size() >= count;
  }

  std::vector<std::string> events;
  std::mutex mutex;
  std::vector<std::string> requests;
};

const std::string kLost = "串口COM1已断开，正在等待重新连接…";
const std::string kBack = "串口COM1已重新连接。";

TEST_F(LineServiceTest, ALostDeviceIsReportedOnceAndTheSamePortIsTriedEverySecondUntilItIsBack) {
  RecordingList list;
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  ASSERT_TRUE(core->FillAndStart({&list}));
  core->WatchPort();
  // The first packet of a two-packet request; the device goes before the second.
  port->QueueInput(test::LongFrame(0xC0, 0xFF, 1, true, "DC  ", test::Hex("07 41")));
  core->PortReadable();
  port->HangUp();
  core->PortReadable();
  core->PortReadable();  // a late event of the old handle changes nothing

  EXPECT_EQ(events, (std::vector<std::string>{"watch 40 after 0 notices",
                                              "watch -1 after 0 notices", "lost after 1 notices"}));
  EXPECT_EQ(messages.Notices(), std::vector<std::string>{kLost});
  EXPECT_TRUE(messages.Messages().empty()) << "no box waits for the user";
  EXPECT_FALSE(core->LineUp());
  EXPECT_FALSE(core->Sender()->Port()->Write("x")) << "writes fail at once without a device";

  portFails = true;
  timers.RunFor(3000);
  EXPECT_EQ(openedPorts, (std::vector<int>{1, 1, 1, 1})) << "the port is looked up at every try";
  EXPECT_EQ(timers.Delays(), (std::vector<std::int64_t>{1000, 1000, 1000, 1000}));
  EXPECT_EQ(messages.Notices().size(), 1u);

  portFails = false;
  timers.RunFor(1000);
  ASSERT_TRUE(core->LineUp());
  EXPECT_EQ(messages.Notices(), (std::vector<std::string>{kLost, kBack}));
  EXPECT_EQ(events.back(), "back after 2 notices");
  EXPECT_EQ(events[events.size() - 2], "watch 41 after 1 notices");
  EXPECT_EQ(timers.Pending(), 0u) << "no more tries once it is back";

  // The new device's first bytes never join the frame the old one cut off: the
  // second packet is dropped, the next whole request goes through.
  port->QueueInput(test::LongFrame(0xC0, 0xFF, 2, false, "DC  ", test::Hex("42")) +
                   test::LongFrame(0xC0, 0xFF, 1, false, "DC  ", test::Hex("08 43")));
  core->PortReadable();
  ASSERT_TRUE(WaitForRequests(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Requests(), std::vector<std::string>{"DC  43"});

  // Polling goes on on the new device.
  const std::string poll = PollFrame(1);
  for (int i = 0; i < 500 && port->Written().find(poll) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(port->Written().find(poll), std::string::npos);
}

// The frame trace wraps every device the port opens: what the device plugged back
// in receives is traced like what the first one did.
TEST_F(LineServiceTest, WrappedDevicesIncludeTheOneOpenedAfterAHangUp) {
  const std::string tracePath = dir.Path() + "/line.pcapng";
  auto trace = StartFrameTrace(tracePath, 0, messages);
  ASSERT_NE(trace, nullptr);
  int wrapped = 0;
  core->WrapDevices([&](std::unique_ptr<SerialPort> device) {
    ++wrapped;
    return std::make_unique<TracingPort>(std::move(device), trace);
  });
  RecordingList list;
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  ASSERT_TRUE(core->FillAndStart({&list}));
  core->WatchPort();
  const std::string before = test::LongFrame(0xC0, 0xFF, 1, false, "DC  ", test::Hex("07 41"));
  port->QueueInput(before);
  core->PortReadable();
  port->HangUp();
  core->PortReadable();
  timers.RunFor(1000);
  ASSERT_TRUE(core->LineUp());
  EXPECT_EQ(wrapped, 2);

  const std::string after = test::LongFrame(0xC0, 0xFF, 1, false, "DC  ", test::Hex("08 43"));
  port->QueueInput(after);
  core->PortReadable();
  ASSERT_TRUE(WaitForRequests(2));
  core->Shutdown();
  core.reset();  // the port lets go of its device and with it of the trace
  trace.reset();
  const std::string file = ReadFileBytes(tracePath).value_or("");
  EXPECT_NE(file.find(before), std::string::npos);
  EXPECT_NE(file.find(after), std::string::npos);
}

TEST_F(LineServiceTest, ShutdownWhileTheDeviceIsGoneEndsTheTries) {
  RecordingList list;
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  ASSERT_TRUE(core->FillAndStart({&list}));
  port->HangUp();
  core->PortReadable();
  core->Shutdown();
  portFails = false;
  timers.RunFor(5000);
  EXPECT_EQ(openedPorts, std::vector<int>{1}) << "no device is opened after shutdown";
  EXPECT_EQ(messages.Notices(), std::vector<std::string>{kLost});
}

TEST_F(LineServiceTest, AFullRingLeavesTheBytesWithThePortAndReadsAgainShortlyAfter) {
  // The workers are not started: the test takes the chunks itself.
  ASSERT_TRUE(core->OpenLink({"DEBUG"}, dir.Path()));
  core->WatchPort();
  const std::size_t rest = 10;
  port->QueueInput(std::string(ReceiveThread::kRingSlots * kMaxReadBytes + rest, '\x55'));
  for (int i = 0; i < ReceiveThread::kRingSlots; ++i) core->PortReadable();
  EXPECT_EQ(events, std::vector<std::string>{"watch 40 after 0 notices"});

  // Each read took one slot's worth: the rest still waits with the port.
  core->PortReadable();
  EXPECT_EQ(events.back(), "watch -1 after 0 notices") << "the watch pauses instead of firing on";
  EXPECT_EQ(timers.Delays(), std::vector<std::int64_t>{AppCore::kRingFullRetryMs});
  timers.RunFor(AppCore::kRingFullRetryMs);
  EXPECT_EQ(events.back(), "watch 40 after 0 notices");

  core->PortReadable();  // still full: paused again
  EXPECT_EQ(events.back(), "watch -1 after 0 notices");
  EXPECT_EQ(core->Receiver()->HandleChunks(), ReceiveThread::kRingSlots);
  timers.RunFor(AppCore::kRingFullRetryMs);
  core->PortReadable();
  EXPECT_EQ(core->Receiver()->HandleChunks(), 1);
  std::string left;
  EXPECT_EQ(port->Read(left, kMaxReadBytes), ReadOutcome::Ok);
  EXPECT_TRUE(left.empty()) << "the last " << rest << " bytes were read after the pause";
  EXPECT_TRUE(messages.Notices().empty());
}

}  // namespace
}  // namespace orderlink
