// The frame trace: pcapng blocks read back field by field, the writer thread's queue
// (order, overflow, failure), and the tracing port on a real pty line.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/Log.h"
#include "link/FrameTrace.h"
#include "link/PcapngWriter.h"
#include "link/TracingPort.h"
#include "replay/TraceFile.h"
#include "support/FakeSerialPort.h"
#include "support/LogCapture.h"
#include "support/Processes.h"
#include "support/RecordingMessages.h"

namespace orderlink {
namespace {

using test::LogCapture;

// ---- a pcapng reader written apart from the writer

std::uint32_t U32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b.at(at + i));
  return v;
}
std::uint16_t U16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b.at(at)) |
                                    static_cast<unsigned char>(b.at(at + 1)) << 8);
}

struct Block {
  std::uint32_t type = 0;
  std::string body;  // between the two length fields
};

// Splits a file into blocks, checking both length fields and the 32-bit alignment.
std::vector<Block> ReadBlocks(const std::string& file) {
  std::vector<Block> blocks;
  std::size_t at = 0;
  while (at < file.size()) {
    const std::uint32_t total = U32(file, at + 4);
    EXPECT_EQ(total % 4, 0u) << "block at " << at;
    EXPECT_GE(total, 12u);
    if (total < 12 || at + total > file.size()) {
      ADD_FAILURE() << "block at " << at << " runs past the end";
      break;
    }
    EXPECT_EQ(U32(file, at + total - 4), total) << "trailing length of block at " << at;
    blocks.push_back({U32(file, at), file.substr(at + 8, total - 12)});
    at += total;
  }
  return blocks;
}

// Options from `from` to opt_endofopt: code -> value.
std::vector<std::pair<std::uint16_t, std::string>> ReadOptions(const std::string& body,
                                                               std::size_t from) {
  std::vector<std::pair<std::uint16_t, std::string>> options;
  std::size_t at = from;
  while (true) {
    const std::uint16_t code = U16(body, at);
    const std::uint16_t length = U16(body, at + 2);
    if (code == 0) {
      EXPECT_EQ(length, 0);
      EXPECT_EQ(at + 4, body.size()) << "bytes after opt_endofopt";
      return options;
    }
    options.emplace_back(code, body.substr(at + 4, length));
    at += 4 + (length + 3) / 4 * 4;
  }
}

struct Packet {
  std::uint32_t interface = 0;
  std::uint64_t stamp = 0;
  std::string bytes;
  std::uint32_t originalLength = 0;
  std::optional<std::uint32_t> flags;
};

Packet ReadPacket(const Block& block) {
  EXPECT_EQ(block.type, 6u);
  Packet p;
  p.interface = U32(block.body, 0);
  p.stamp = static_cast<std::uint64_t>(U32(block.body, 4)) << 32 | U32(block.body, 8);
  const std::uint32_t captured = U32(block.body, 12);
  p.originalLength = U32(block.body, 16);
  p.bytes = block.body.substr(20, captured);
  for (const auto& [code, value] : ReadOptions(block.body, 20 + (captured + 3) / 4 * 4)) {
    if (code == 2 && value.size() == 4) p.flags = U32(value, 0);
  }
  return p;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::uint64_t NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// ---- blocks

TEST(PcapngBlocks, HeaderDeclaresOneUser0InterfaceInMicroseconds) {
  const auto blocks = ReadBlocks(PcapngFileHeader("orderlink", "ttyUSB0"));
  ASSERT_EQ(blocks.size(), 2u);

  const Block& section = blocks[0];
  EXPECT_EQ(section.type, 0x0A0D0D0Au);
  EXPECT_EQ(U32(section.body, 0), 0x1A2B3C4Du);
  EXPECT_EQ(U16(section.body, 4), 1);  // version 1.0
  EXPECT_EQ(U16(section.body, 6), 0);
  EXPECT_EQ(section.body.substr(8, 8), std::string(8, '\xFF'));  // length unknown
  const auto sectionOptions = ReadOptions(section.body, 16);
  ASSERT_EQ(sectionOptions.size(), 1u);
  EXPECT_EQ(sectionOptions[0], std::make_pair(std::uint16_t{4}, std::string("orderlink")));

  const Block& interface = blocks[1];
  EXPECT_EQ(interface.type, 1u);
  EXPECT_EQ(U16(interface.body, 0), 147);
  EXPECT_EQ(U32(interface.body, 4), 0u);  // no snap length
  const auto options = ReadOptions(interface.body, 8);
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0], std::make_pair(std::uint16_t{2}, std::string("ttyUSB0")));
  EXPECT_EQ(options[1], std::make_pair(std::uint16_t{9}, std::string("\x06", 1)));
}

TEST(PcapngBlocks, PacketsKeepEveryByteAndTheirDirectionWhateverTheirLength) {
  // A stamp above 2^32 microseconds splits into its high and low halves.
  const std::uint64_t stamp = 1'765'000'000'123'456ull;
  for (std::size_t length : {0u, 1u, 3u, 4u, 5u, 6u, 61u, 4096u}) {
    SCOPED_TRACE(length);
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i * 37 + 1);
    for (TraceDirection direction : {TraceDirection::Inbound, TraceDirection::Outbound}) {
      const auto blocks = ReadBlocks(PcapngPacket(stamp + length, direction, bytes));
      ASSERT_EQ(blocks.size(), 1u);
      const Packet p = ReadPacket(blocks[0]);
      EXPECT_EQ(p.interface, 0u);
      EXPECT_EQ(p.stamp, stamp + length);
      EXPECT_EQ(p.bytes, bytes);
      EXPECT_EQ(p.originalLength, length);
      EXPECT_EQ(p.flags, static_cast<std::uint32_t>(direction));
    }
  }
}

// ---- the queue and its writer thread

// A file in memory that can hold the writer at its next write, or fail it.
class GatedFile final : public TraceFile {
 public:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::string written;
    int writes = 0;
    int arrived = 0;     // writes that reached the gate, waiting or not
    bool closed = true;  // writes wait while closed
    bool fail = false;
  };
  explicit GatedFile(State& state, bool closed = false) : state_(state) { state_.closed = closed; }

  bool Write(std::string_view bytes, std::string* error) override {
    std::unique_lock lock(state_.mutex);
    ++state_.arrived;
    state_.changed.notify_all();
    state_.changed.wait(lock, [this] { return !state_.closed; });
    ++state_.writes;
    if (state_.fail) {
      *error = "No space left on device";
      return false;
    }
    state_.written.append(bytes);
    state_.changed.notify_all();
    return true;
  }

 private:
  State& state_;
};

std::vector<Packet> PacketsOf(const std::string& file) {
  const auto blocks = ReadBlocks(file);
  EXPECT_GE(blocks.size(), 2u);
  std::vector<Packet> packets;
  for (std::size_t i = 2; i < blocks.size(); ++i) packets.push_back(ReadPacket(blocks[i]));
  return packets;
}

TEST(FrameTraceQueue, WritesEveryRecordInOrderWithItsDirectionAndTime) {
  GatedFile::State file;
  test::RecordingMessages messages;
  const std::uint64_t before = NowUs();
  {
    FrameTrace trace(std::make_unique<GatedFile>(file), "trace.pcapng", messages);
    trace.Record(TraceDirection::Outbound, test::Hex("00 00 00 C0 01 05"));
    trace.Record(TraceDirection::Inbound, test::Hex("00 00 00 C1 02 07 FF 01 00"));
    trace.Record(TraceDirection::Inbound, "SJCX");
  }  // the destructor writes what is queued
  const std::uint64_t after = NowUs();

  EXPECT_EQ(file.written.substr(0, 4), "\x0A\x0D\x0D\x0A") << "the section header comes first";
  const auto packets = PacketsOf(file.written);
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0].bytes, test::Hex("00 00 00 C0 01 05"));
  EXPECT_EQ(packets[0].flags, 2u);
  EXPECT_EQ(packets[1].bytes, test::Hex("00 00 00 C1 02 07 FF 01 00"));
  EXPECT_EQ(packets[1].flags, 1u);
  EXPECT_EQ(packets[2].bytes, "SJCX");
  for (std::size_t i = 0; i < packets.size(); ++i) {
    EXPECT_GE(packets[i].stamp, before);
    EXPECT_LE(packets[i].stamp, after);
    if (i > 0) {
      EXPECT_GE(packets[i].stamp, packets[i - 1].stamp);
    }
  }
  EXPECT_TRUE(messages.Messages().empty());
}

TEST(FrameTraceQueue, AMarkIsAnInboundPacketWithoutBytesThatTheReplayReadsWithItsComment) {
  GatedFile::State file;
  test::RecordingMessages messages;
  {
    FrameTrace trace(std::make_unique<GatedFile>(file), "trace.pcapng", messages);
    trace.Record(TraceDirection::Inbound, test::Hex("00 00 00 C1 02 09 05 01 00"));
    trace.Mark("discarded: wrong address");
    trace.Record(TraceDirection::Outbound, test::Hex("00 00 00 C0 01 05"));
  }
  std::string error;
  const auto packets = replay::ReadTracePackets(file.written, &error);
  ASSERT_TRUE(packets.has_value()) << error;
  ASSERT_EQ(packets->size(), 3u);
  EXPECT_EQ((*packets)[0].bytes, test::Hex("00 00 00 C1 02 09 05 01 00"));
  EXPECT_EQ((*packets)[0].comment, "");
  EXPECT_EQ((*packets)[1].bytes, "");
  EXPECT_EQ((*packets)[1].direction, TraceDirection::Inbound);
  EXPECT_EQ((*packets)[1].comment, "discarded: wrong address");
  EXPECT_EQ((*packets)[2].direction, TraceDirection::Outbound) << "read past the comment";
  EXPECT_EQ(replay::WriteTracePackets(*packets), file.written) << "written back the same";
}

TEST(FrameTraceQueue, AFullQueueDropsAndCountsWithoutWaitingAndLogsOnce) {
  GatedFile::State file;
  test::RecordingMessages messages;
  LogCapture log;
  const std::string frame(40, 'x');
  const std::size_t twoFramesWritten = PcapngFileHeader("orderlink", "serial line").size() +
                                       2 * PcapngPacket(0, TraceDirection::Outbound, frame).size();
  const auto setGate = [&](bool closed) {
    {
      std::lock_guard lock(file.mutex);
      file.closed = closed;
    }
    file.changed.notify_all();
  };
  std::uint64_t firstDrops = 0;
  std::uint64_t allDrops = 0;
  {
    FrameTrace trace(std::make_unique<GatedFile>(file, /*closed=*/true), "trace.pcapng", messages,
                     /*queueLimitBytes=*/100);
    {
      // The writer is held at its first write, which carries only the file header:
      // nothing recorded from here on leaves the queue.
      std::unique_lock lock(file.mutex);
      file.changed.wait(lock, [&] { return file.arrived >= 1; });
    }
    for (int i = 0; i < 5; ++i) trace.Record(TraceDirection::Outbound, frame);
    firstDrops = trace.Dropped();

    setGate(false);
    {
      std::unique_lock lock(file.mutex);
      file.changed.wait(lock, [&] { return file.written.size() >= twoFramesWritten; });
    }
    // Room again; the second overflow is counted but not logged again.
    setGate(true);
    trace.Record(TraceDirection::Inbound, "late");
    for (int i = 0; i < 3; ++i) trace.Record(TraceDirection::Inbound, frame);
    allDrops = trace.Dropped();
    EXPECT_FALSE(trace.Stopped());
    setGate(false);
  }
  EXPECT_EQ(firstDrops, 3u);  // two of 40 bytes fit in 100
  EXPECT_GE(allDrops, 4u);
  const auto packets = PacketsOf(file.written);
  ASSERT_GE(packets.size(), 3u);
  EXPECT_EQ(packets[0].bytes, frame);
  EXPECT_EQ(packets[1].bytes, frame);
  EXPECT_EQ(packets[2].bytes, "late");
  EXPECT_EQ(packets.size(), 2 + 4 - (allDrops - firstDrops));
  EXPECT_EQ(log.Containing("records are dropped").size(), 1u);
  EXPECT_EQ(log.Containing(std::to_string(allDrops) + " records were dropped in all").size(), 1u);
  EXPECT_TRUE(messages.Messages().empty()) << "dropping is no failure the user must see";
}

TEST(FrameTraceQueue, AFailedWriteStopsTheTraceWithOneMessage) {
  GatedFile::State file;
  file.fail = true;
  test::RecordingMessages messages;
  LogCapture log;
  {
    FrameTrace trace(std::make_unique<GatedFile>(file), "/var/trace.pcapng", messages);
    trace.Record(TraceDirection::Outbound, "one");
    // The header's write fails; wait until the writer has given up.
    for (int i = 0; i < 500 && !trace.Stopped(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(trace.Stopped());
    for (int i = 0; i < 100; ++i) trace.Record(TraceDirection::Inbound, "more");
    EXPECT_EQ(trace.Dropped(), 0u) << "records after the stop are ignored, not dropped";
  }
  EXPECT_EQ(file.writes, 1);
  const auto shown = messages.Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("/var/trace.pcapng"), std::string::npos) << shown[0];
  EXPECT_NE(shown[0].find("No space left on device"), std::string::npos) << shown[0];
  EXPECT_NE(shown[0].find("帧记录已停止"), std::string::npos) << shown[0];
  EXPECT_EQ(log.Containing("error frame trace: writing /var/trace.pcapng failed").size(), 1u);
}

// ---- real files

TEST(FrameTraceFile, AFullDiskStopsTheTraceAndAMissingFolderStartsNone) {
  test::RecordingMessages messages;
  {
    auto trace = StartFrameTrace("/dev/full", 0, messages);
    ASSERT_NE(trace, nullptr);
    for (int i = 0; i < 500 && !trace->Stopped(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(trace->Stopped());
  }
  ASSERT_EQ(messages.Messages().size(), 1u);
  EXPECT_NE(messages.Messages()[0].find("写入失败"), std::string::npos);

  test::RecordingMessages missing;
  EXPECT_EQ(StartFrameTrace("/nonexistent-folder/trace.pcapng", 0, missing), nullptr);
  ASSERT_EQ(missing.Messages().size(), 1u);
  EXPECT_NE(missing.Messages()[0].find("无法创建"), std::string::npos) << missing.Messages()[0];
}

// A restart keeps the earlier trace as FILE.1; the size cap ends the trace on a
// whole record with one log line, and the program is not bothered with a box.
TEST(FrameTraceFile, ARestartKeepsThePreviousTraceAndTheCapEndsItWithOneLogLine) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("orderlink-keep-" + std::to_string(::getpid()) + ".pcapng"))
                               .string();
  std::ofstream(path, std::ios::binary) << "the trace of the run before";
  const std::string frame(100, 'f');
  const std::size_t header = PcapngFileHeader("orderlink", "serial line").size();
  const std::size_t packet = PcapngPacket(0, TraceDirection::Outbound, frame).size();
  const std::uint64_t cap = header + 3 * packet + packet / 2;
  test::RecordingMessages messages;
  LogCapture log;
  {
    auto trace = StartFrameTrace(path, cap, messages);
    ASSERT_NE(trace, nullptr);
    for (int i = 0; i < 10; ++i) trace->Record(TraceDirection::Outbound, frame);
    for (int i = 0; i < 500 && !trace->Stopped(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(trace->Stopped());
    trace->Record(TraceDirection::Outbound, frame);  // ignored from now on
  }
  EXPECT_EQ(ReadWholeFile(path + ".1"), "the trace of the run before");
  const std::string capped = ReadWholeFile(path);
  EXPECT_EQ(capped.size(), header + 3 * packet);
  EXPECT_EQ(PacketsOf(capped).size(), 3u);
  EXPECT_EQ(log.Containing("reached its limit of " + std::to_string(cap) + " bytes").size(), 1u);
  EXPECT_TRUE(messages.Messages().empty());

  // The next start keeps this one in its turn.
  { EXPECT_NE(StartFrameTrace(path, 0, messages), nullptr); }
  EXPECT_EQ(ReadWholeFile(path + ".1"), capped);
  std::filesystem::remove(path);
  std::filesystem::remove(path + ".1");
}

TEST(TracingPort, RecordsEachFrameSentAndEachChunkReadOnARealLine) {
  test::PtyPair line;
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("orderlink-trace-" + std::to_string(::getpid()) + ".pcapng"))
                               .string();
  test::RecordingMessages messages;
  {
    auto trace = StartFrameTrace(path, 0, messages);
    ASSERT_NE(trace, nullptr);
    std::string error;
    auto device = OpenSerialPort(line.SlavePath(), &error);
    ASSERT_NE(device, nullptr) << error;
    TracingPort port(std::move(device), trace);

    EXPECT_TRUE(port.Write(test::Hex("00 00 00 C0 01 05")));
    EXPECT_EQ(line.ReadAtLeast(6, 2000), test::Hex("00 00 00 C0 01 05"));
    const std::string chunk = test::Hex("00 00 00 C1 02 07 FF 01 00 53 4A 43 58");
    line.Write(chunk);
    std::string got;
    for (int i = 0; i < 200 && got.size() < chunk.size(); ++i) {
      std::string piece;
      ASSERT_EQ(port.Read(piece, kMaxReadBytes), ReadOutcome::Ok);
      got += piece;
      if (piece.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(got, chunk);
    port.Close();
  }
  const auto packets = PacketsOf(ReadWholeFile(path));
  std::filesystem::remove(path);
  ASSERT_GE(packets.size(), 2u);
  EXPECT_EQ(packets[0].bytes, test::Hex("00 00 00 C0 01 05"));
  EXPECT_EQ(packets[0].flags, 2u);
  std::string inbound;
  for (std::size_t i = 1; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i].flags, 1u);
    EXPECT_FALSE(packets[i].bytes.empty()) << "empty reads are not recorded";
    inbound += packets[i].bytes;
  }
  EXPECT_EQ(inbound, test::Hex("00 00 00 C1 02 07 FF 01 00 53 4A 43 58"));
  EXPECT_TRUE(messages.Messages().empty());
}

// ---- the Wireshark dissector on frames written out by hand

// Bytes as tshark shows a bytes field: lower-case hex without separators.
std::string PlainHex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

TEST(Dissector, DecodesShortFramesRecordsGbkTextAndChunksCutBetweenFrames) {
  const std::string tshark = test::FindProgram("tshark");
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (scripts/bootstrap installs it)";
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("orderlink-dissect-" + std::to_string(::getpid()) + ".pcapng"))
                               .string();
  // GBK of 宫保鸡丁 and 已下单.
  const std::string dish = test::Hex("B9 AC B1 A3 BC A6 B6 A1");
  const std::string ordered = test::Hex("D2 D1 CF C2 B5 A5");
  const std::string request = test::LongFrame(0xC1, 0xFF, 1, false, "DC  ",
                                              std::string("\x0C", 1) + "012A012   01001" + dish);
  test::RecordingMessages messages;
  {
    auto trace = StartFrameTrace(path, 0, messages);
    ASSERT_NE(trace, nullptr);
    trace->Record(TraceDirection::Outbound, test::Hex("00 00 00 C0 01 05"));
    trace->Record(TraceDirection::Outbound, test::Hex("00 00 00 01 07"));
    // A request read in two chunks, the second followed by a whole time query.
    trace->Record(TraceDirection::Inbound, request.substr(0, 10));
    trace->Record(TraceDirection::Inbound,
                  request.substr(10) + test::LongFrame(0xC1, 0xFF, 1, false, "SJCX", ""));
    trace->Record(TraceDirection::Outbound, test::LongFrame(0xC1, 12, 1, false, "DC  ", ordered));
    trace->Record(TraceDirection::Outbound, test::LongFrame(0xC0, 12, 1, false, "FHJS", ""));
    trace->Record(TraceDirection::Outbound, test::LongFrame(0xC0, 0, 1, false, "CPB ",
                                                            "00012"
                                                            "0120"
                                                            "0012"
                                                            "01001 " +
                                                                dish));
    trace->Record(TraceDirection::Inbound, test::LongFrame(0xC0, 0xFF, 1, false, "XZCC",
                                                           std::string("\x05"
                                                                       "00010\x03",
                                                                       7)));
  }
  test::ChildProcess reader(
      {tshark,
       "-X",
       std::string("lua_script:") + ORDERLINK_SOURCE_DIR + "/tools/wireshark/orderlink.lua",
       "-r",
       path,
       "-T",
       "fields",
       "-E",
       "separator=;",
       "-E",
       "occurrence=a",
       "-E",
       "aggregator=|",
       "-e",
       "orderlink.handset",
       "-e",
       "orderlink.code",
       "-e",
       "orderlink.meaning",
       "-e",
       "orderlink.sender",
       "-e",
       "orderlink.text",
       "-e",
       "orderlink.tag",
       "-e",
       "orderlink.record",
       "-e",
       "orderlink.line_count",
       "-e",
       "orderlink.position",
       "-e",
       "orderlink.piece",
       "-e",
       "orderlink.missing_from",
       "-e",
       "orderlink.missing_count",
       "-e",
       "orderlink.continuation",
       "-e",
       "orderlink.incomplete"},
      {"LANG=C.UTF-8", "LC_ALL=C.UTF-8"});
  std::vector<std::string> rows;
  while (auto line = reader.ReadLine(30000)) rows.push_back(*line);
  EXPECT_EQ(reader.Wait(10000), 0) << reader.Stderr();
  std::filesystem::remove(path);
  EXPECT_EQ(reader.Stderr().find("Lua"), std::string::npos) << reader.Stderr();

  const std::vector<std::string> expected = {
      // handset;code;meaning;sender;text;tag;record;count;position;piece;from;n;cont;incomplete
      "5;;;;;;;;;;;;;",
      "7;;;;;;;;;;;;;",
      ";;;;;;;;;;;;;" + PlainHex(request.substr(0, 10)),
      ";SJCX;time query;;;;;;;;;;" + PlainHex(request.substr(10)) + ";",
      ";DC  ;reply;;已下单;;;;;;;;;",
      ";FHJS;end of reply;;;;;;;;;;;",
      ";CPB ;download record: 菜品表;;;CPB ;00012;0120;0012;01001 宫保鸡丁;;;;",
      ";XZCC;download records missing;5;;;;;;;00010;3;;",
  };
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(rows[i], expected[i]) << "packet " << i + 1;
}

}  // namespace
}  // namespace orderlink
