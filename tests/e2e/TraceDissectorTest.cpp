// A short shift traced with --trace, read back by tshark through the project's
// dissector: the polls, the handsets' requests and the replies' end frames must all
// be in the file, each in its direction and stamped within the run.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "e2e/E2eSupport.h"

namespace orderlink::e2e {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, separator)) out.push_back(item);
  return out;
}

// One packet of the trace as tshark shows it through the dissector.
struct TracedPacket {
  double epochSeconds = 0;
  int direction = 0;  // 1 inbound, 2 outbound
  std::vector<std::string> codes;
  std::vector<std::string> meanings;
  std::string info;
};

TEST(E2eTrace, TsharkReadsTheTracedShiftThroughTheDissector) {
  const std::string tsharkPath = test::FindProgram("tshark");
  if (tsharkPath.empty()) GTEST_SKIP() << "tshark is not installed (scripts/bootstrap installs it)";

  test::TempAppDir dir;
  dir.WriteGbk("基站.txt", "1 COM1\r\n");
  dir.WriteGbk("点菜机.txt", "001 1\r\n002 1\r\n");
  const std::string tracePath = dir.Path() + "/line.pcapng";
  const double startedAt =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();

  test::ChildProcess station({Bin("orderlink-basesim"), "--pty", "--handsets", "1-2", "--think-ms",
                              "200", "--seconds", "60"},
                             {});
  const std::string device = Announced(station, "PTY ");
  ASSERT_FALSE(device.empty()) << station.Stderr();
  test::ChildProcess ordering({Bin("orderlink-hostsim"), "--appdir", dir.Path(), "--no-launch",
                               "--reply-delay-ms", "20", "--seconds", "6"},
                              {});
  const std::string port = Announced(ordering, "PORT ");
  ASSERT_FALSE(port.empty()) << ordering.Stderr();
  test::ChildProcess program({Bin("orderlink"), port, "--trace", tracePath},
                             ProgramEnv(dir.Path(), device));

  // When the ordering software's time is up the program is closed; the trace is
  // complete once it has ended.
  const auto hostLines = RestOfOutput(ordering, 60000);
  const std::string hostSummary = LineStarting(hostLines, "summary:");
  ASSERT_FALSE(hostSummary.empty()) << ordering.Stderr();
  ASSERT_GE(Field(hostSummary, "replies"), 1) << hostSummary;
  program.Signal(SIGTERM);
  ASSERT_EQ(program.Wait(20000), 0) << program.Stderr();
  const double endedAt =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  ASSERT_TRUE(std::filesystem::exists(tracePath)) << program.Stderr();

  test::ChildProcess tshark(
      {tsharkPath,
       "-X",
       std::string("lua_script:") + ORDERLINK_SOURCE_DIR + "/tools/wireshark/orderlink.lua",
       "-r",
       tracePath,
       "-T",
       "fields",
       "-E",
       "separator=/t",
       "-E",
       "occurrence=a",
       "-E",
       "aggregator=|",
       "-e",
       "frame.time_epoch",
       "-e",
       "frame.packet_flags_direction",
       "-e",
       "orderlink.code",
       "-e",
       "orderlink.meaning",
       "-e",
       "_ws.col.Info"},
      {});
  std::vector<TracedPacket> packets;
  for (const std::string& line : RestOfOutput(tshark, 60000)) {
    const auto columns = Split(line, '\t');
    ASSERT_GE(columns.size(), 2u) << line;
    TracedPacket p;
    p.epochSeconds = std::stod(columns[0]);
    p.direction = static_cast<int>(std::stoul(columns[1], nullptr, 0));
    if (columns.size() > 2) p.codes = Split(columns[2], '|');
    if (columns.size() > 3) p.meanings = Split(columns[3], '|');
    if (columns.size() > 4) p.info = columns[4];
    packets.push_back(p);
  }
  EXPECT_EQ(tshark.Wait(20000), 0) << tshark.Stderr();
  ASSERT_FALSE(packets.empty()) << tshark.Stderr();
  EXPECT_EQ(tshark.Stderr().find("Lua"), std::string::npos) << tshark.Stderr();

  int polls = 0;
  std::set<std::string> requestCodes;
  std::map<std::string, int> sentCodes;
  for (const TracedPacket& p : packets) {
    EXPECT_GE(p.epochSeconds, startedAt - 1) << p.info;
    EXPECT_LE(p.epochSeconds, endedAt + 1) << p.info;
    ASSERT_TRUE(p.direction == 1 || p.direction == 2) << p.info;
    EXPECT_EQ(p.info.rfind(p.direction == 2 ? "PC> " : "PC< ", 0), 0u) << p.info;
    if (p.direction == 2) {
      // What the PC writes is always whole: one frame per packet.
      EXPECT_EQ(p.info.find("(cut)"), std::string::npos) << p.info;
      EXPECT_EQ(p.info.find("continuation"), std::string::npos) << p.info;
      if (p.info.rfind("PC> poll ", 0) == 0) ++polls;
      for (const auto& code : p.codes) ++sentCodes[code];
    } else {
      for (std::size_t i = 0; i < p.codes.size() && i < p.meanings.size(); ++i) {
        if (p.meanings[i].rfind("request", 0) == 0) requestCodes.insert(p.codes[i]);
      }
    }
  }
  EXPECT_GE(polls, 3);
  EXPECT_FALSE(requestCodes.empty()) << "no handset request decoded";
  EXPECT_GE(sentCodes["FHJS"], 1) << "no reply ended with FHJS";
  if (HasFailure()) {
    for (const TracedPacket& p : packets) std::cerr << p.info << "\n";
  }
}

}  // namespace
}  // namespace orderlink::e2e
