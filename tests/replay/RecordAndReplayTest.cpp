// A session recorded by orderlink itself replays: orderlink --trace runs between the
// base-station simulator and the ordering-software stand-in, writes the trace and its
// sidecar, and orderlink-replay plays them back into a fresh orderlink with a match.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/SessionSidecar.h"
#include "common/TextFile.h"
#include "support/Processes.h"

namespace orderlink::replay {
namespace {

namespace fs = std::filesystem;

std::string Bin(const std::string& name) { return std::string(ORDERLINK_BIN_DIR) + "/" + name; }

TEST(RecordAndReplay, TraceAndSidecarOfTheProgramReplayWithAMatch) {
  test::TempAppDir dir;
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n");
  const fs::path trace = fs::path(dir.Path()) / "trace.pcapng";
  // The stand-in starts the program with the port only; this starts it traced.
  const fs::path traced = fs::path(dir.Path()) / "orderlink-traced";
  ASSERT_TRUE(WriteFileBytes(traced, "#!/bin/sh\nexec '" + Bin("orderlink") + "' --trace '" +
                                         trace.string() + "' \"$@\"\n"));
  ::chmod(traced.c_str(), 0755);

  test::ChildProcess station(
      {Bin("orderlink-basesim"), "--pty", "--handsets", "1-2", "--requests", "2", "--think-ms",
       "300", "--time-query-rate", "0", "--seconds", "40"},
      {});
  const auto announced = station.ReadLine(20000);
  ASSERT_TRUE(announced && announced->rfind("PTY ", 0) == 0);
  test::ChildProcess host({Bin("orderlink-hostsim"), "--appdir", dir.Path(), "--program",
                           traced.string(), "--seconds", "6", "--short-message-every", "2"},
                          {"ORDERLINK_COM1=" + announced->substr(4)});
  ASSERT_EQ(host.Wait(30000), 0) << host.Stderr();

  // The sidecar holds the start, the announce, each request with its T1.txt and each
  // reply with its R1.txt, the short messages with DX.txt, and WM_CLOSE.
  const auto text = ReadFileBytes(trace.string() + ".sidecar");
  ASSERT_TRUE(text);
  std::string error;
  const auto events = ParseSidecar(*text, &error);
  ASSERT_TRUE(events) << error;
  const auto count = [&](SidecarEventKind kind, int code, const char* file) {
    return std::count_if(events->begin(), events->end(), [&](const SidecarEvent& e) {
      return e.kind == kind && e.code == code && e.files.size() == 1 && e.files[0].name == file &&
             e.files[0].bytes;
    });
  };
  EXPECT_EQ(count(SidecarEventKind::SentNotify, NotifyRequest, "T1.txt"), 4) << *text;
  EXPECT_EQ(count(SidecarEventKind::ReceivedNotify, NotifyRequest, "R1.txt"), 4) << *text;
  EXPECT_GE(count(SidecarEventKind::ReceivedNotify, NotifyShortMessage, "DX.txt"), 1) << *text;
  ASSERT_FALSE(events->empty());
  EXPECT_EQ(events->front().kind, SidecarEventKind::Start);
  EXPECT_EQ(events->back().kind, SidecarEventKind::SentClose);

  const fs::path expected = fs::path(dir.Path()) / "expected";
  fs::create_directory(expected);
  fs::copy_file(dir.Txt("T1.txt"), expected / "T1.txt");
  test::ChildProcess replay(
      // The recording was made beside other tests: its pauses are checked loosely here,
      // the corpus checks them to 20 ms.
      {Bin("orderlink-replay"), "--tolerance-ms", "100", "--trace", trace.string(), "--expected",
       expected.string()},
      {});
  std::string output;
  while (auto line = replay.ReadLine(60000)) output += *line + "\n";
  EXPECT_EQ(replay.Wait(10000), 0) << output << replay.Stderr();
  EXPECT_NE(output.find(": match in "), std::string::npos) << output;
}

}  // namespace
}  // namespace orderlink::replay
