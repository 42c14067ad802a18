#include "service/ReplyDelivery.h"

#include "common/Log.h"
#include "common/TextFile.h"
#include "common/WholeNumber.h"
#include "link/FrameCodec.h"

namespace orderlink {

namespace {
// Quiet the poller keeps around a reply (ms): before the first line, after each
// line, and once the job is done.
constexpr std::int32_t kBeforeFirstLineHoldOff = 110;
constexpr std::int32_t kAfterLineHoldOff = 160;
constexpr std::int32_t kAfterReplyHoldOff = 100;
// The handset needs these pauses to take each message in.
constexpr std::int64_t kBeforeFirstLineMs = 100;
constexpr std::int64_t kBetweenLinesMs = 150;

// The reply itself, under `route`; returns early when there is nothing to send.
void DeliverReply(SendThread& thread, const TxtDir& txt, LineActivity& line, std::uint8_t route) {
  const auto path = txt.Find("R1.txt");
  if (!path) return;
  thread.Touch();
  const auto lines = ReadLines(*path);
  if (!lines) {
    LogError(ReadFailureMessage("R1.txt", lines.Failure(), "R1.txt文件不存在") + "，回复没有发出");
    return;
  }
  const auto header = ParseReplyHeader(lines->empty() ? std::string_view() : lines->front());
  if (!header) {
    LogError("R1.txt names no handset in characters 6-8 of its first line; the reply is not sent");
    return;
  }

  thread.HoldOff = kBeforeFirstLineHoldOff;
  if (!thread.Pause(kBeforeFirstLineMs)) return;
  thread.Touch();
  for (std::size_t i = 1; i < lines->size(); ++i) {
    const std::string& text = (*lines)[i];
    if (text.empty()) continue;
    if (const std::size_t packets = MessagePacketCount(text); packets > kMaxPacketsPerMessage) {
      LogError("R1.txt line " + std::to_string(i + 1) + ": " + std::to_string(text.size()) +
               " bytes need " + std::to_string(packets) + " packets, more than " +
               std::to_string(kMaxPacketsPerMessage) + " can be numbered; the line is not sent");
      continue;
    }
    SendFrame(thread, route, header->code, header->handset, text.size(), text);
    thread.Touch();
    thread.HoldOff = kAfterLineHoldOff;
    if (!thread.Pause(kBetweenLinesMs)) return;
    thread.Touch();
  }
  SendFrame(thread, route, "FHJS", header->handset, 0, "");
  line.ForgetReplyRoute();
  thread.Touch();
}

}  // namespace

std::optional<int> ParseNumberField(std::string_view field) {
  const auto first = field.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  const auto digits = field.substr(first, field.find_last_not_of(' ') + 1 - first);
  if (!AllDigits(digits)) return std::nullopt;
  return ParseWholeNumber(digits);
}

std::optional<ReplyHeader> ParseReplyHeader(std::string_view line) {
  if (line.size() < 8) return std::nullopt;
  const auto number = ParseNumberField(line.substr(5, 3));
  if (!number) return std::nullopt;
  return ReplyHeader{std::string(line.substr(0, 4)), static_cast<std::uint8_t>(*number)};
}

void JobReply(SendThread& thread, const TxtDir& txt, LineActivity& line) {
  DeliverReply(thread, txt, line, line.replyRoute.load());
  thread.HoldOff = kAfterReplyHoldOff;
}

}  // namespace orderlink
