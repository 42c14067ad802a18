#pragma once
// Reply delivery: the host's answer in R1.txt goes to the handset it names, one
// message per reply line, then the end-of-reply message kCodeReplyEnd.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/MessageSink.h"
#include "common/TxtDir.h"
#include "link/LineActivity.h"
#include "link/SendThread.h"

namespace orderlink {

// A three-character number field: decimal digits with blanks allowed around them
// ("007", " 12", "5  "). nullopt for anything else, including an all-blank field.
[[nodiscard]] std::optional<int> ParseNumberField(std::string_view field);

struct ReplyHeader {
  std::string code;      // characters 1-4: the command code of every reply line
  std::uint8_t handset;  // characters 6-8: the target, modulo 256
};

// Line 1 of R1.txt (the columns of a request record's first line). nullopt when
// characters 6-8 do not hold a number.
[[nodiscard]] std::optional<ReplyHeader> ParseReplyHeader(std::string_view line);

// A reply that would hold the line longer than this in all is not sent: every
// handset waits for the line meanwhile.
inline constexpr std::chrono::seconds kReplyLineTimeLimit{60};
// The most of R1.txt that is read; a larger file is not sent. 60 s of line carry
// about 17.5 KB of reply text, so no reply that may go out comes near this size.
inline constexpr std::size_t kReplyFileReadLimit = 64 * 1024;

// True for a reply line that goes out: not empty, and its packets can be numbered
// (at most kMaxPacketsPerMessage).
[[nodiscard]] bool IsSendableReplyLine(std::string_view text);

// How long JobReply holds the line for R1.txt's `lines` (the header first) sent under
// `code`: the pause before the first line, each sendable line with the pause after
// it, and kCodeReplyEnd.
[[nodiscard]] std::chrono::microseconds ReplyLineTime(std::string_view code,
                                                      const std::vector<std::string>& lines);

// Job 1, on the send thread under its lock. A missing R1.txt sends nothing; a header
// without a target number sends nothing and is reported on stderr. Otherwise every
// non-empty line after the header goes out under the header's code (roll-call frames
// for kCodeRollCall), 150 ms apart, then kCodeReplyEnd, all under the reply route `line` holds when
// the job starts; then that route returns to 0xC0. Ends early,
// without kCodeReplyEnd, when the thread is told to end. A line that would need more than
// 255 packets is not sent (reported on stderr with its line number); the rest of the
// reply goes on. A reply larger than kReplyFileReadLimit, or one that would hold the
// line longer than kReplyLineTimeLimit, sends nothing at all: a notice to `messages`
// names R1.txt, its size and the limit. HoldOff is left at 100 in any case. Returns
// the handset that got "FHJS", if one did.
std::optional<std::uint8_t> JobReply(SendThread& thread, const TxtDir& txt, LineActivity& line,
                                     MessageSink& messages);

}  // namespace orderlink
