// orderlink as a process between a base station played by the test on a pty and an
// ordering software played by the test on UDP: every request kind from the frame to
// T1.txt and back to the handset, the time query and a short message.

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>

#include "common/TextFile.h"
#include "e2e/E2eSupport.h"
#include "support/FakeSerialPort.h"

namespace orderlink::e2e {
namespace {

constexpr std::uint32_t kHostNotify = 1280;
constexpr std::uint32_t kWmClose = 16;
constexpr std::uint8_t kHandset = 12;

// The program running beside the test's ordering software, its COM1 on `station`.
class E2eProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.WriteGbk("基站.txt", "1 COM1\r\n");
    dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n012 1\r\n");
    program.emplace(std::vector<std::string>{Bin("orderlink"), std::to_string(host.Port())},
                    ProgramEnv(dir.Path(), station.SlavePath()));
    const auto hello = host.Receive(20000);
    ASSERT_TRUE(hello) << program->Stderr();
    ASSERT_EQ(hello->message, kHostNotify);
    ASSERT_EQ(hello->lParam, hello->fromPort);
    programPort = hello->fromPort;
  }

  void TearDown() override {
    if (!program) return;
    program->Signal(SIGTERM);
    // Shutdown says goodbye to the ordering software first; notifications still
    // on their way are passed over.
    std::optional<test::Datagram> last;
    while (auto datagram = host.Receive(10000)) {
      last = datagram;
      if (datagram->message == kWmClose) break;
    }
    ASSERT_TRUE(last);
    EXPECT_EQ(last->message, kWmClose);
    EXPECT_EQ(program->Wait(15000), 0);
    std::vector<std::string> messages;
    for (const auto& line : SplitLines(program->Stderr())) {
      // "<time stamp> info message: <text>": the text is all after the marker.
      const std::string marker = " info message: ";
      if (const auto at = line.find(marker); at != std::string::npos) {
        messages.push_back(line.substr(at + marker.size()));
      }
    }
    EXPECT_EQ(messages, expectedMessages) << program->Stderr();
  }

  void Post(std::int32_t code) { host.Send(programPort, kHostNotify, 0, code); }

  std::optional<test::Datagram> Notification(int timeoutMs) { return host.Receive(timeoutMs); }

  // Waits for the PC to poll `handset`: the line is free for its answer.
  void AwaitPoll(std::uint8_t handset) {
    const auto poll = station.WaitFor(
        station.Count(), [&](const PcFrame& f) { return IsPoll(f) && f.address == handset; },
        20000);
    ASSERT_TRUE(poll) << "handset " << int(handset) << " was not polled";
  }

  // Frames other than polls from index `from` on, until one with `code` has come
  // (waiting up to `timeoutMs`).
  std::vector<SeenFrame> FramesUntil(std::size_t from, const std::string& code, int timeoutMs) {
    const auto end = station.WaitFor(
        from, [&](const PcFrame& f) { return f.kind != PcFrame::Kind::Poll && f.code == code; },
        timeoutMs);
    std::vector<SeenFrame> out;
    const auto frames = station.Frames();
    const std::size_t last = end ? *end : frames.size() - 1;
    for (std::size_t i = from; i <= last && i < frames.size(); ++i) {
      if (!IsPoll(frames[i].frame)) out.push_back(frames[i]);
    }
    return out;
  }

  test::TempAppDir dir;
  FakeStation station;
  test::UdpPeer host;
  std::optional<test::ChildProcess> program;
  std::uint16_t programPort = 0;
  std::vector<std::string> expectedMessages;  // message boxes the test brings about
};

// One request kind: the payload after the handset text "012" and the lines of
// T1.txt after the first, worked out by hand from the record layouts.
struct Kind {
  std::string code;
  std::string payload;
  std::vector<std::string> lines;
};

std::vector<Kind> Kinds() {
  const std::string a7 = "A012   ";
  const std::string zdcx = "12" + Zeros(2) + "abc";
  const std::string dish1 = G("宫保鸡丁") + "    ";
  const std::string dish2 = G("水煮鱼") + "      ";
  const std::string jcName = G("宫保鸡丁") + "      ";
  const std::string jcNote = G("不要辣") + "      ";
  const std::string name = G("张三") + "      ";
  using S = std::string;
  return {
      {"DL  ", name + "0001" + "20240101", {name + " " + "0001" + " " + "20240101"}},
      {"KT  ", S("A012") + "04" + "10001", {S("A012") + " " + "04" + " " + "10001"}},
      {"HT  ", a7 + "B005   ", {a7 + " " + "B005   "}},
      {"CT  ", a7, {a7}},
      {"XGTT", S("A012") + "06" + "10002", {S("A012") + " " + "06" + " " + "10002"}},
      {"YDKT", S("A015") + "02" + "10003", {S("A015") + " " + "02" + " " + "10003"}},
      // Zero bytes inside a field are copied as they stand.
      {"ZDCX", zdcx, {zdcx}},
      // The text is padded to 12 bytes.
      {"KHYQ", a7 + G("少放盐"), {a7 + " " + G("少放盐") + std::string(6, ' ')}},
      {"DYDC", a7, {a7}},
      {"CPCC", a7 + "01001", {a7 + " " + "01001"}},
      {"CLCC", a7 + "10001001", {a7 + " " + "10001001"}},
      {"ZZCC", a7, {a7}},
      {"THYD", "A012", {"A012"}},
      {"LBKX", "03", {"03"}},
      {"THKX", "A020", {"A020"}},
      {"YDHZ", "", {}},
      {"KXHZ", "", {}},
      // Two items; field C is read up to its first zero byte and padded to 4.
      {"DC  ",
       a7 + "01001" + "2." + Zeros(2) + dish1 + "01" + "1" + "   28.00" +  //
           "01002" + G("半") + Zeros(2) + dish2 + "02" + "0" + "  108.00",
       {a7 + " " + "01001" + " " + "2.  " + " " + dish1 + " " + "01" + " " + "1" + " " + "   28.00",
        a7 + " " + "01002" + " " + G("半") + "  " + " " + dish2 + " " + "02" + " " + "0" + " " +
            "  108.00"}},
      {"TC  ",
       a7 + "0100100001" + "12" + Zeros(2) + "ab" + Zeros(2) + "      8.00",
       {a7 + " " + "0100100001" + " " + "12  " + " " + "ab" + " " + "      8.00"}},
      {"JC  ",
       a7 + "01001" + "0001" + jcName + "1.5" + Zeros(1) + "0002" + "1" + jcNote,
       {a7 + " " + "01001" + " " + "0001" + " " + jcName + " " + "1.5 " + " " + "0002" + " " + "1" +
        " " + jcNote}},
      {"ZSCP",
       a7 + "0100100002" + "3" + Zeros(2) + " " + "xy" + Zeros(2),
       {a7 + " " + "0100100002" + " " + "3   " + " " + "xy"}},
      {"XGMM", S("12345678") + "87654321", {S("12345678") + " " + "87654321"}},
  };
}

std::string CrLf(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

TEST_F(E2eProgram, EveryRequestKindReachesT1AndItsReplyReachesTheHandset) {
  const std::vector<Kind> kinds = Kinds();
  ASSERT_EQ(kinds.size(), 22u);
  // A line of 120 bytes whose 54th byte begins a character: packets of 53, 54, 13.
  const std::string longLine = std::string(53, 'a') + G("中") + std::string(65, 'b');
  ASSERT_EQ(longLine.size(), 120u);

  for (std::size_t k = 0; k < kinds.size(); ++k) {
    const Kind& kind = kinds[k];
    SCOPED_TRACE("request [" + kind.code + "]");
    const auto route = static_cast<std::uint8_t>(0xC1 + k % 7);
    AwaitPoll(kHandset);
    // The order travels in packets of at most 50 bytes, as a handset may send it.
    station.Send(HandsetMessage(route, kHandset, kind.code, "012" + kind.payload, 50));

    const auto notified = Notification(20000);
    ASSERT_TRUE(notified);
    EXPECT_EQ(notified->message, kHostNotify);
    EXPECT_EQ(notified->lParam, 1);
    std::vector<std::string> record = {kind.code + " 012"};
    record.insert(record.end(), kind.lines.begin(), kind.lines.end());
    EXPECT_EQ(test::ToHex(dir.Read("T1.txt").value_or("")), test::ToHex(CrLf(record)));

    // The ordering software's answer, by kind: several lines with an empty one and
    // a long one, a roll call, the header alone, another reply code, or one line.
    std::string replyCode = kind.code;
    std::vector<std::string> body = {G("已收到") + " " + kind.code};
    if (kind.code == "DC  ") body = {G("已下单"), "", longLine};
    if (kind.code == "YDHZ") replyCode = "DM  ", body = {"0123456789"};
    if (kind.code == "KXHZ") body.clear();
    if (kind.code == "ZDCX") replyCode = "DX  ";
    std::vector<std::string> reply = {replyCode + " 012"};
    reply.insert(reply.end(), body.begin(), body.end());
    ASSERT_TRUE(WriteFileBytes(dir.Txt("R1.txt"), CrLf(reply)));
    const std::size_t from = station.Count();
    Post(1);

    std::vector<std::string> expected;
    if (replyCode == "DM  ") {
      expected.push_back(std::string("\0\0\0\x01", 4) + static_cast<char>(kHandset));
    } else {
      for (const auto& line : body) {
        if (line.empty()) continue;
        for (auto& frame : PcMessage(route, kHandset, replyCode, line)) expected.push_back(frame);
      }
    }
    expected.push_back(LongFrame(route, kHandset, 1, false, "FHJS", ""));
    const auto frames = FramesUntil(from, "FHJS", 20000);
    std::vector<std::string> got;
    for (const auto& seen : frames) got.push_back(test::ToHex(seen.frame.raw));
    std::vector<std::string> want;
    for (const auto& frame : expected) want.push_back(test::ToHex(frame));
    EXPECT_EQ(got, want);
    // Packets of one line keep the handsets' 150 ms between them.
    for (std::size_t i = 1; i < frames.size(); ++i) {
      if (frames[i].frame.sequence < 2) continue;
      EXPECT_GE(frames[i].at - frames[i - 1].at, std::chrono::milliseconds(120));
    }
  }
  // Polling goes on with the route byte C0 after the last reply.
  AwaitPoll(kHandset);
  const auto frames = station.Frames();
  EXPECT_EQ(frames.back().frame.route, 0xC0);
}

TEST_F(E2eProgram, TimeQueryIsAnsweredToTheHandsetThatSentLast) {
  AwaitPoll(2);
  station.Send(HandsetMessage(0xC3, 2, "CT  ", "002A002   "));
  ASSERT_TRUE(Notification(20000));
  const std::size_t from = station.Count();
  station.Send(HeaderOnly(0xC5, "SJCX"));
  const std::time_t asked = std::time(nullptr);

  const auto frames = FramesUntil(from, "SJCX", 20000);
  ASSERT_EQ(frames.size(), 1u);
  const PcFrame& answer = frames[0].frame;
  EXPECT_EQ(answer.route, 0xC5);
  EXPECT_EQ(answer.address, 2);
  ASSERT_EQ(answer.body.size(), 6u) << Describe(answer);
  const auto told = basesim::TimeAnswerInstant(answer.body);
  ASSERT_TRUE(told) << Describe(answer);
  EXPECT_LE(std::abs(std::difftime(*told, asked)), 5.0) << Describe(answer);
}

TEST_F(E2eProgram, ASecondPacketWhoseFirstWasLostWritesNoRecordAndTheNextOrderArrives) {
  AwaitPoll(kHandset);
  station.Send(HandsetMessage(0xC1, kHandset, "CT  ", "012A002   "));
  ASSERT_TRUE(Notification(20000));
  // The second packet of an order whose first was lost: same code, sequence 2, right
  // after a finished message. Then a whole order.
  station.Send(LongFrame(0xC1, 0xFF, 2, false, "CT  ", "A003   "));
  station.Send(HandsetMessage(0xC2, kHandset, "CT  ", "012A004   "));
  const auto notified = Notification(20000);
  ASSERT_TRUE(notified);
  EXPECT_EQ(notified->lParam, 1);
  EXPECT_EQ(dir.Read("T1.txt").value_or(""), "CT   012\r\nA004   \r\n");
  EXPECT_FALSE(Notification(1500)) << "a record was announced for the lost order's remnant";
  EXPECT_EQ(dir.Read("T1.txt").value_or(""), "CT   012\r\nA004   \r\n");
}

TEST_F(E2eProgram, AnOversizedReplyOrShortMessageIsRefusedAndPollingGoesOn) {
  const std::string replyRefused =
      "回复没有发出：R1.txt有10000010字节，超过了回复文件最多65536字节的限度（一次回复最多"
      "占用线路60秒）。请检查点菜软件写出的回复。";
  const std::string messageRefused =
      "短信没有发出：DX.txt（1048584字节）的第一行超过16384字节，而一条短信最多255包（约13770"
      "字节）。请缩短短信后重新发送。";
  expectedMessages = {replyRefused, messageRefused};
  AwaitPoll(kHandset);
  station.Send(HandsetMessage(0xC1, kHandset, "CT  ", "012A002   "));
  ASSERT_TRUE(Notification(20000));  // polling now holds off for the answer

  std::string reply = "CT   012\r\n";
  for (int i = 0; i < 200'000; ++i) reply += std::string(48, 'x') + "\r\n";
  ASSERT_TRUE(WriteFileBytes(dir.Txt("R1.txt"), reply));
  const std::size_t from = station.Count();
  Post(1);
  EXPECT_TRUE(WaitForStderr(*program, "message: " + replyRefused, 20000)) << program->Stderr();
  // The hold-offs are cleared: polling goes on long before the request's 15 s are over.
  EXPECT_TRUE(station.WaitFor(
      from, [](const PcFrame& f) { return IsPoll(f) && f.address == kHandset; }, 3000));

  ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), "001 012 " + std::string(1 << 20, 'x')));
  Post(0);
  EXPECT_TRUE(WaitForStderr(*program, "message: " + messageRefused, 20000)) << program->Stderr();
  EXPECT_FALSE(station.WaitFor(
      from, [](const PcFrame& f) { return !IsPoll(f); }, 1500))
      << "no reply, confirmation or message may go out";
}

TEST_F(E2eProgram, ShortMessageIsConfirmedToTheSenderThenSentToTheTarget) {
  // No file: the user is told, nothing is sent.
  const std::string noFile = "没有生成短信文件，请检查！（在" + dir.Path() + "/TXT中查找）";
  expectedMessages = {noFile};
  Post(0);
  EXPECT_TRUE(WaitForStderr(*program, "message: " + noFile + "\n", 20000)) << program->Stderr();
  const std::string text = G("3号桌客人催菜，请尽快上菜");
  // Handset 1 asked last, with route byte C6: the confirmation goes out with it.
  AwaitPoll(1);
  station.Send(HandsetMessage(0xC6, 1, "CT  ", "001A003   "));
  ASSERT_TRUE(Notification(20000));

  ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), "001 012 " + text + "\r\n"));
  std::size_t from = station.Count();
  Post(0);
  const auto target = station.WaitFor(
      from, [](const PcFrame& f) { return f.code == "DX  " && f.address == kHandset; }, 20000);
  ASSERT_TRUE(target);
  std::vector<std::string> got;
  const auto frames = station.Frames();
  for (std::size_t i = from; i <= *target; ++i) {
    if (!IsPoll(frames[i].frame)) got.push_back(test::ToHex(frames[i].frame.raw));
  }
  const std::vector<std::string> want = {
      test::ToHex(LongFrame(0xC6, 1, 1, false, "DX  ", G("短信发送成功!"))),
      test::ToHex(LongFrame(0xC6, 1, 1, false, "FHJS", "")),
      test::ToHex(LongFrame(0xC0, kHandset, 1, false, "DX  ", "001 " + text))};
  EXPECT_EQ(got, want);

  // A target that is no handset of this station gets nothing, and nobody is told.
  ASSERT_TRUE(WriteFileBytes(dir.Txt("DX.txt"), "001 099 " + text + "\r\n"));
  from = station.Count();
  Post(0);
  EXPECT_FALSE(station.WaitFor(
      from, [](const PcFrame& f) { return !IsPoll(f); }, 1500));
}

}  // namespace
}  // namespace orderlink::e2e
