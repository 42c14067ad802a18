#include "service/TimeAndMessages.h"

#include "common/Gbk.h"
#include "common/Log.h"
#include "common/TextFile.h"
#include "link/FrameCodec.h"
#include "link/Protocol.h"

namespace orderlink {

namespace {
constexpr std::int32_t kAckHoldOff = 310;  // covers both pauses of the confirmation
constexpr std::int64_t kAckPauseMs = 150;
}  // namespace

std::string TimeReplyText(const std::tm& local) {
  const int values[] = {local.tm_year + 1900 - 2000,
                        local.tm_mon + 1,
                        local.tm_mday,
                        local.tm_hour,
                        local.tm_min,
                        local.tm_sec};
  std::string text;
  for (int value : values) text += static_cast<char>(static_cast<std::uint8_t>(value));
  return text;
}

void JobTimeReply(SendThread& thread, std::uint8_t handset, std::string_view timeText,
                  LineActivity& line) {
  SendFrame(thread, line.replyRoute.load(), kCodeTime, handset, timeText.size(), timeText);
  line.ForgetReplyRoute();
}

ShortMessage ParseShortMessage(std::string_view line) {
  auto part = [line](std::size_t from, std::size_t count) {
    return from < line.size() ? std::string(line.substr(from, count)) : std::string();
  };
  return {part(0, 3), part(4, 3), part(0, 4) + part(8, std::string_view::npos)};
}

// A first line the read limit cuts off holds more text (the line without characters
// 5-8) than the most packets a message can number carry.
static_assert(kShortMessageFileReadLimit - 4 > kMaxPacketsPerMessage * kMessagePiece);

ShortMessageFile ReadShortMessageFile(const TxtDir& txt) {
  const auto file = ReadTxtHead(txt, "DX.txt", kShortMessageFileReadLimit);
  if (!file)
    return {std::nullopt, ReadFailureMessage("DX.txt", file.Failure(), kNoShortMessageFile)};
  const std::string size = std::to_string(file->size);
  const std::string limit = "一条短信最多" + std::to_string(kMaxPacketsPerMessage) + "包（约" +
                            std::to_string(kMaxPacketsPerMessage * kMessagePiece) + "字节）";
  const auto lineEnd = file->bytes.find_first_of("\r\n");
  if (lineEnd == std::string::npos && file->cut) {
    LogError("DX.txt: " + size + " bytes, its first line longer than the " +
             std::to_string(kShortMessageFileReadLimit) +
             " read, too long for one message; the short message is not sent");
    return {std::nullopt, "短信没有发出：DX.txt（" + size + "字节）的第一行超过" +
                              std::to_string(kShortMessageFileReadLimit) + "字节，而" + limit +
                              "。请缩短短信后重新发送。"};
  }
  ShortMessage message = ParseShortMessage(std::string_view(file->bytes).substr(0, lineEnd));
  if (const std::size_t packets = MessagePacketCount(message.text);
      packets > kMaxPacketsPerMessage) {
    const std::string bytes = std::to_string(message.text.size());
    LogError("DX.txt: the short message has " + bytes + " bytes and needs " +
             std::to_string(packets) + " packets, more than " +
             std::to_string(kMaxPacketsPerMessage) + " can be numbered; it is not sent");
    return {std::nullopt, "短信没有发出：DX.txt（" + size + "字节）中的短信有" + bytes +
                              "字节，要分" + std::to_string(packets) + "包发送，而" + limit +
                              "。请缩短短信后重新发送。"};
  }
  return {std::move(message), {}};
}

void JobShortMessageAck(SendThread& thread, std::uint8_t sender, LineActivity& line) {
  const std::uint8_t route = line.replyRoute.load();
  thread.HoldOff = kAckHoldOff;
  if (!thread.Pause(kAckPauseMs)) return;
  SendFrame(thread, route, kCodeShortMessage, sender, 0, Utf8ToGbk(kShortMessageSent));
  if (!thread.Pause(kAckPauseMs)) return;
  SendFrame(thread, route, kCodeReplyEnd, sender, 0, "");
  line.ForgetReplyRoute();
}

void JobShortMessage(SendThread& thread, std::uint8_t target, std::string_view text,
                     LineActivity& line) {
  line.ForgetReplyRoute();
  SendFrame(thread, kDefaultRoute, kCodeShortMessage, target, 0, text);
}

}  // namespace orderlink
