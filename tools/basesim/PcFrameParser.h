#pragma once
// Strict push parser for the bytes the PC writes to a base station. It takes bytes
// as they come and returns whole frames; it owns no port, clock or thread.
//
// Frames it knows (hex): poll 00 00 00 C0 01 nn; roll call 00 00 00 01 nn; long
// frame 00 00 00 route 02 L address seq more code(4) body(L-7); the configuration
// request FF 23 DC 55 AA; and, only after ExpectSettingsRecord(true), one settings
// record (count byte n, then n bytes). Download record frames are long frames; their
// body is decoded by the caller, which knows whether a download is running.
//
// Nothing is papered over: a preamble that is not exactly three zero bytes, an
// unknown type byte, L outside 7..61, a more flag other than 0/1, sequence 0, a
// command code with bytes outside printable ASCII, and bytes outside any frame are
// all reported as Rejected with the offending bytes. After a reject the parser looks
// for the next preamble.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orderlink::basesim {

struct PcFrame {
  enum class Kind { Poll, RollCall, Long, ConfigRequest, SettingsRecord, Rejected };
  Kind kind = Kind::Rejected;
  std::uint8_t route = 0;    // Poll, Long
  std::uint8_t address = 0;  // handset of a poll or roll call; address byte of a long frame
  std::uint8_t sequence = 0;
  std::uint8_t more = 0;
  std::string code;   // Long: the four command bytes
  std::string body;   // Long: the L-7 bytes after the code; SettingsRecord: count byte and record
  std::string raw;    // every byte of the frame, or the rejected bytes
  std::string error;  // Rejected: why
};

// The local instant a time answer names: six bytes year - 2000, month, day, hour,
// minute, second. Nothing when the bytes name no date and time.
[[nodiscard]] std::optional<std::time_t> TimeAnswerInstant(std::string_view body);

// Largest L the PC writes: 54 message bytes + 7, or 41 record bytes + 20.
constexpr std::uint8_t kMaxPcLength = 61;

class PcFrameParser {
 public:
  // Parses `bytes`, appending every frame completed or rejected to `out`.
  void Feed(std::string_view bytes, std::vector<PcFrame>& out);
  // Reports what is pending as rejected: stray bytes and a frame cut short. Called
  // when the line has been quiet for a while, since the PC writes a frame in one go.
  void Flush(std::vector<PcFrame>& out);
  // After the base station acknowledged a configuration request the next frame is
  // a settings record; cleared when one has been read.
  void ExpectSettingsRecord(bool on) { expectSettings_ = on; }
  [[nodiscard]] bool ExpectingSettingsRecord() const { return expectSettings_; }
  // True while bytes are held that belong to no finished frame.
  [[nodiscard]] bool Pending() const { return state_ != State::Idle || !stray_.empty(); }

 private:
  enum class State { Idle, Zeros, Type, ShortHandset, Length, Header, Body, Config, Settings };

  void Step(std::uint8_t byte, std::vector<PcFrame>& out);
  void StartFrame(std::uint8_t byte, State state);
  void Reject(std::string error, std::vector<PcFrame>& out);
  void FlushStray(std::vector<PcFrame>& out);
  void Emit(PcFrame::Kind kind, std::vector<PcFrame>& out);

  State state_ = State::Idle;
  bool expectSettings_ = false;
  bool rollCall_ = false;
  int zeros_ = 0;
  std::size_t need_ = 0;  // bytes still to read in Header/Body/Settings/Config
  std::string raw_;       // bytes of the frame being read
  std::string stray_;     // bytes outside any frame, reported together
  PcFrame frame_;
};

}  // namespace orderlink::basesim
