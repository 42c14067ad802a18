// Reply delivery from any R1.txt: what reaches the port is exactly the reply lines
// of the file, each cut into well-formed packets to the header's handset under the
// header's code, then "FHJS"; or nothing when the header names no handset, or when
// the file is too large or the reply would hold the line too long (then one notice
// says so). Lines too long to number their packets are left out.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "common/Clock.h"
#include "common/Gbk.h"
#include "common/TextFile.h"
#include "link/FrameCodec.h"
#include "link/LineActivity.h"
#include "link/SendThread.h"
#include "service/ReplyDelivery.h"
#include "support/FakeSerialPort.h"
#include "support/RecordingMessages.h"

namespace orderlink {
namespace {

constexpr std::uint8_t kRouteOfRequest = 0xC1;

// Checks the packets of one message starting at writes[next] and returns the
// index after its last packet.
std::size_t CheckMessage(const std::vector<struct test::FakeSerialPort::Write>& writes,
                         std::size_t next, const ReplyHeader& header, std::string_view code,
                         std::string_view text) {
  if (code == "DM  ") {
    // A roll call carries none of the text: one roll-call frame per packet it would take.
    const std::size_t frames = CutPieces(text, kMessagePiece, true).size();
    for (std::size_t i = 0; i < frames; ++i, ++next) {
      fuzz::Require(next < writes.size() && writes[next].bytes == RollCallFrame(header.handset),
                    "roll-call frame to the handset");
    }
    return next;
  }
  std::string joined;
  GbkBoundaryScan boundaries(text);  // the packets' ends only move forward
  for (std::uint8_t sequence = 1;; ++sequence, ++next) {
    fuzz::Require(next < writes.size(), "every packet of a message is written");
    const std::string& frame = writes[next].bytes;
    fuzz::Require(frame.size() >= 13 && frame.compare(0, 3, std::string(3, '\0')) == 0, "preamble");
    const auto length = static_cast<std::uint8_t>(frame[5]);
    fuzz::Require(static_cast<std::uint8_t>(frame[3]) == kRouteOfRequest, "route of the request");
    fuzz::Require(frame[4] == 2 && length == frame.size() - 6 && length <= 7 + kMessagePiece,
                  "long packet length");
    fuzz::Require(static_cast<std::uint8_t>(frame[6]) == header.handset, "packet to the handset");
    fuzz::Require(static_cast<std::uint8_t>(frame[7]) == sequence, "sequence counts from 1");
    fuzz::Require(frame.compare(9, 4, code) == 0, "packet under the message's code");
    joined += frame.substr(13);
    if (frame[8] == 0) break;
    fuzz::Require(frame[8] == 1 && joined.size() < text.size(),
                  "more packets only while text remains");
    // No packet but the last ends with the first half of a two-byte character.
    fuzz::Require(!boundaries.IsFirstOfDoubleByte(joined.size() - 1), "packet ends on a character");
  }
  fuzz::Require(joined == text, "the packets carry the text");
  return next + 1;
}

}  // namespace
}  // namespace orderlink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orderlink;
  static const fuzz::ScratchAppDir appDir;
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  appDir.Put("R1.txt", content);

  VirtualClock clock;
  test::FakeSerialPort port(&clock);
  SendThread send(&port, clock);
  const TxtDir txt = appDir.Txt();
  LineActivity line;
  test::RecordingMessages messages;
  line.replyRoute = kRouteOfRequest;
  send.Run({"reply", 0, [&](SendThread& thread) { JobReply(thread, txt, line, messages); }});

  const auto writes = port.Writes();
  const auto lines = SplitLines(content);
  const auto header = ParseReplyHeader(lines.empty() ? std::string_view() : lines.front());
  fuzz::Require(send.HoldOff.load() == 100, "the reply leaves HoldOff at 100");
  if (!header) {
    fuzz::Require(writes.empty(), "a header without a handset sends nothing");
    return 0;
  }
  fuzz::Require(header->code == content.substr(0, 4), "the code is characters 1-4");
  if (content.size() > kReplyFileReadLimit ||
      ReplyLineTime(header->code, lines) > kReplyLineTimeLimit) {
    fuzz::Require(writes.empty() && messages.Notices().size() == 1,
                  "a reply too large or too long for the line sends nothing and says so");
    return 0;
  }
  fuzz::Require(messages.Notices().empty(), "a reply that goes out needs no notice");
  std::size_t next = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    // A line needing more packets than the sequence byte can number is not sent.
    if (lines[i].empty() || CutPieces(lines[i], kMessagePiece, true).size() > kMaxPacketsPerMessage)
      continue;
    next = CheckMessage(writes, next, *header, header->code, lines[i]);
  }
  next = CheckMessage(writes, next, *header, "FHJS", "");
  fuzz::Require(next == writes.size(), "nothing follows FHJS");
  fuzz::Require(line.replyRoute.load() == kDefaultRoute, "the route returns to C0");
  return 0;
}
