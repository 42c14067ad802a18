#include "service/TimeAndMessages.h"

#include "common/Gbk.h"

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
  SendFrame(thread, line.replyRoute.load(), "SJCX", handset, timeText.size(), timeText);
  line.ForgetReplyRoute();
}

ShortMessage ParseShortMessage(std::string_view line) {
  auto part = [line](std::size_t from, std::size_t count) {
    return from < line.size() ? std::string(line.substr(from, count)) : std::string();
  };
  return {part(0, 3), part(4, 3), part(0, 4) + part(8, std::string_view::npos)};
}

void JobShortMessageAck(SendThread& thread, std::uint8_t sender, LineActivity& line) {
  const std::uint8_t route = line.replyRoute.load();
  thread.HoldOff = kAckHoldOff;
  if (!thread.Pause(kAckPauseMs)) return;
  SendFrame(thread, route, "DX  ", sender, 0, Utf8ToGbk(kShortMessageSent));
  if (!thread.Pause(kAckPauseMs)) return;
  SendFrame(thread, route, "FHJS", sender, 0, "");
  line.ForgetReplyRoute();
}

void JobShortMessage(SendThread& thread, std::uint8_t target, std::string_view text,
                     LineActivity& line) {
  line.ForgetReplyRoute();
  SendFrame(thread, kDefaultRoute, "DX  ", target, 0, text);
}

}  // namespace orderlink
