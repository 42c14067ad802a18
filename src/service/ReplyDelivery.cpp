#include "service/ReplyDelivery.h"

#include "common/Log.h"
#include "common/TextFile.h"
#include "common/WholeNumber.h"
#include "link/FrameCodec.h"
#include "link/Protocol.h"

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

// Seconds with one decimal, rounded up: a time just over the limit never reads as
// the limit itself.
std::string Seconds(std::chrono::microseconds time) {
  const auto tenths = (time.count() + 99'999) / 100'000;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// Tells the user and the log why R1.txt, of `size` bytes, is not sent.
void RefuseReply(MessageSink& messages, std::uintmax_t size, const std::string& limitText,
                 const std::string& logReason) {
  LogError("R1.txt: " + std::to_string(size) + " bytes, " + logReason + "; the reply is not sent");
  messages.ShowNotice("回复没有发出：R1.txt有" + std::to_string(size) + "字节，" + limitText +
                      "。请检查点菜软件写出的回复。");
}

// The reply itself, under `route`; returns early when there is nothing to send. The
// handset it ended with "FHJS", if it got that far.
std::optional<std::uint8_t> DeliverReply(SendThread& thread, const TxtDir& txt, LineActivity& line,
                                         std::uint8_t route, MessageSink& messages) {
  const auto path = txt.Find("R1.txt");
  if (!path) return std::nullopt;
  thread.Touch();
  const auto file = ReadFileHead(*path, kReplyFileReadLimit);
  if (!file) {
    LogError(ReadFailureMessage("R1.txt", file.Failure(), "R1.txt文件不存在") + "，回复没有发出");
    return std::nullopt;
  }
  const std::string limit = std::to_string(kReplyLineTimeLimit.count());
  if (file->cut) {
    RefuseReply(messages, file->size,
                "超过了回复文件最多" + std::to_string(kReplyFileReadLimit) +
                    "字节的限度（一次回复最多占用线路" + limit + "秒）",
                "more than the " + std::to_string(kReplyFileReadLimit) + " bytes a reply may have");
    return std::nullopt;
  }
  const auto lines = SplitLines(file->bytes);
  const auto header = ParseReplyHeader(lines.empty() ? std::string_view() : lines.front());
  if (!header) {
    LogError("R1.txt names no handset in characters 6-8 of its first line; the reply is not sent");
    return std::nullopt;
  }
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& text = lines[i];
    if (const std::size_t packets = MessagePacketCount(text);
        !text.empty() && packets > kMaxPacketsPerMessage) {
      LogError("R1.txt line " + std::to_string(i + 1) + ": " + std::to_string(text.size()) +
               " bytes need " + std::to_string(packets) + " packets, more than " +
               std::to_string(kMaxPacketsPerMessage) + " can be numbered; the line is not sent");
    }
  }
  if (const auto lineTime = ReplyLineTime(header->code, lines); lineTime > kReplyLineTimeLimit) {
    RefuseReply(
        messages, file->size,
        "发出要占用线路" + Seconds(lineTime) + "秒，超过了一次回复最多" + limit + "秒的限度",
        "would hold the line " + Seconds(lineTime) + " s, more than " + limit + " s");
    return std::nullopt;
  }

  thread.HoldOff = kBeforeFirstLineHoldOff;
  if (!thread.Pause(kBeforeFirstLineMs)) return std::nullopt;
  thread.Touch();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& text = lines[i];
    if (!IsSendableReplyLine(text)) continue;
    SendFrame(thread, route, header->code, header->handset, text.size(), text);
    thread.Touch();
    thread.HoldOff = kAfterLineHoldOff;
    if (!thread.Pause(kBetweenLinesMs)) return std::nullopt;
    thread.Touch();
  }
  SendFrame(thread, route, kCodeReplyEnd, header->handset, 0, "");
  line.ForgetReplyRoute();
  thread.Touch();
  return header->handset;
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

bool IsSendableReplyLine(std::string_view text) {
  return !text.empty() && MessagePacketCount(text) <= kMaxPacketsPerMessage;
}

std::chrono::microseconds ReplyLineTime(std::string_view code,
                                        const std::vector<std::string>& lines) {
  std::chrono::microseconds time = std::chrono::milliseconds(kBeforeFirstLineMs);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (!IsSendableReplyLine(lines[i])) continue;
    time += MessageLineTime(code, lines[i]) + std::chrono::milliseconds(kBetweenLinesMs);
  }
  return time + MessageLineTime(kCodeReplyEnd, "");
}

std::optional<std::uint8_t> JobReply(SendThread& thread, const TxtDir& txt, LineActivity& line,
                                     MessageSink& messages) {
  const auto answered = DeliverReply(thread, txt, line, line.replyRoute.load(), messages);
  thread.HoldOff = kAfterReplyHoldOff;
  return answered;
}

}  // namespace orderlink
