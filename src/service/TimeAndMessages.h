#pragma once
// The time answer and the short messages from the host to a handset.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "common/TxtDir.h"
#include "link/LineActivity.h"
#include "link/SendThread.h"

namespace orderlink {

// Confirmation sent to the handset that wrote a short message (UTF-8; GBK on the line).
inline constexpr std::string_view kShortMessageSent = "短信发送成功!";
// Shown when the host announces a short message but DX.txt is missing.
inline constexpr std::string_view kNoShortMessageFile = "没有生成短信文件，请检查！";

// The six bytes of the time answer: year - 2000 (modulo 256, so 1999 gives 255),
// month, day, hour, minute, second, each one binary byte (zero bytes included).
[[nodiscard]] std::string TimeReplyText(const std::tm& local);

// Job 7: kCodeTime with the six time bytes to `handset` under the reply route, which
// then returns to 0xC0.
void JobTimeReply(SendThread& thread, std::uint8_t handset, std::string_view timeText,
                  LineActivity& line);

// The short message of DX.txt's first line: characters 1-3 the sender's number, 4 a
// blank, 5-7 the target's handset text, 8 a blank, 9 on the message text.
struct ShortMessage {
  std::string senderText;  // characters 1-3
  std::string targetText;  // characters 5-7
  std::string text;        // what the target gets: characters 1-4 and 9 to the end
};
[[nodiscard]] ShortMessage ParseShortMessage(std::string_view firstLine);

// The most of DX.txt that is read. A first line longer than this holds a text that
// needs more packets than one message can number.
inline constexpr std::size_t kShortMessageFileReadLimit = 16 * 1024;

// The short message of DX.txt, or the text (UTF-8) that tells the user why none can
// go out: the file is missing or unreadable, or its text would need more than
// kMaxPacketsPerMessage packets (the sequence byte would wrap; the refusal is also
// logged). Reads at most kShortMessageFileReadLimit bytes.
struct ShortMessageFile {
  std::optional<ShortMessage> message;
  std::string refusal;  // set when there is no message
};
[[nodiscard]] ShortMessageFile ReadShortMessageFile(const TxtDir& txt);

// Job 6: kCodeShortMessage with the confirmation to the sender, then kCodeReplyEnd, both under the
// reply route read at the job's start, which then returns to 0xC0. Ends early when
// the thread is told to end during a pause.
void JobShortMessageAck(SendThread& thread, std::uint8_t sender, LineActivity& line);

// Job 4: kCodeShortMessage with `text` to the target under 0xC0; the reply route returns to 0xC0.
void JobShortMessage(SendThread& thread, std::uint8_t target, std::string_view text,
                     LineActivity& line);

}  // namespace orderlink
