#include "PcFrameParser.h"

#include <cstdio>

namespace orderlink::basesim {

namespace {

constexpr std::string_view kConfigRequest{"\xFF\x23\xDC\x55\xAA", 5};
constexpr std::size_t kHeaderEnd = 13;  // 3 zeros, route, type, L, address, seq, more, code(4)

bool PrintableCode(std::string_view code) {
  for (const char c : code) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

void PcFrameParser::Feed(std::string_view bytes, std::vector<PcFrame>& out) {
  for (const char c : bytes) Step(static_cast<std::uint8_t>(c), out);
}

void PcFrameParser::Flush(std::vector<PcFrame>& out) {
  FlushStray(out);
  if (state_ != State::Idle) Reject("frame cut short", out);
}

void PcFrameParser::StartFrame(std::uint8_t byte, State state) {
  frame_ = PcFrame{};
  raw_.assign(1, static_cast<char>(byte));
  state_ = state;
}

void PcFrameParser::FlushStray(std::vector<PcFrame>& out) {
  if (stray_.empty()) return;
  PcFrame rejected;
  rejected.kind = PcFrame::Kind::Rejected;
  rejected.raw = std::move(stray_);
  rejected.error = "bytes outside any frame";
  out.push_back(std::move(rejected));
  stray_.clear();
}

void PcFrameParser::Emit(PcFrame::Kind kind, std::vector<PcFrame>& out) {
  frame_.kind = kind;
  frame_.raw = std::move(raw_);
  out.push_back(std::move(frame_));
  frame_ = PcFrame{};
  raw_.clear();
  state_ = State::Idle;
}

// Reports the bytes read so far as one bad frame. When a new preamble may have begun
// inside them (the PC cut a frame short and started the next), parsing resumes there.
void PcFrameParser::Reject(std::string error, std::vector<PcFrame>& out) {
  // Zero bytes that may begin the next frame: three of them, or a run to the end.
  std::string rest;
  for (std::size_t p = 1; p < raw_.size(); ++p) {
    const std::string_view tail = std::string_view(raw_).substr(p);
    if (tail.front() == 0 && (tail.starts_with(std::string_view("\0\0\0", 3)) ||
                              tail.find_first_not_of('\0') == std::string_view::npos)) {
      rest = std::string(tail);
      raw_.resize(p);
      break;
    }
  }
  PcFrame rejected;
  rejected.kind = PcFrame::Kind::Rejected;
  rejected.raw = std::move(raw_);
  rejected.error = std::move(error);
  out.push_back(std::move(rejected));
  raw_.clear();
  frame_ = PcFrame{};
  state_ = State::Idle;
  Feed(rest, out);
}

void PcFrameParser::Step(std::uint8_t byte, std::vector<PcFrame>& out) {
  switch (state_) {
    case State::Idle:
      if (byte == 0x00) {
        FlushStray(out);
        StartFrame(byte, State::Zeros);
        zeros_ = 1;
      } else if (byte == 0xFF) {
        FlushStray(out);
        StartFrame(byte, State::Config);
      } else if (expectSettings_) {
        FlushStray(out);
        StartFrame(byte, State::Settings);
        need_ = byte;
      } else {
        stray_.push_back(static_cast<char>(byte));
      }
      return;

    case State::Zeros:
      if (byte == 0x00) {
        if (zeros_ < 3) {
          ++zeros_;
          raw_.push_back(0);
        } else {
          // A fourth zero: the PC writes exactly three, so the first one is stray.
          stray_.push_back(0);
          FlushStray(out);
        }
        return;
      }
      if (zeros_ < 3) {
        // Too few zeros for a preamble: they and this byte are stray.
        stray_ += raw_;
        raw_.clear();
        state_ = State::Idle;
        Step(byte, out);
        return;
      }
      raw_.push_back(static_cast<char>(byte));
      if (byte == 0x01) {
        rollCall_ = true;
        state_ = State::ShortHandset;
      } else {
        rollCall_ = false;
        frame_.route = byte;
        state_ = State::Type;
      }
      return;

    case State::Type:
      raw_.push_back(static_cast<char>(byte));
      if (byte == 0x01) {
        state_ = State::ShortHandset;
      } else if (byte == 0x02) {
        state_ = State::Length;
      } else {
        char error[48];
        std::snprintf(error, sizeof error, "unknown frame type %02X", byte);
        Reject(error, out);
      }
      return;

    case State::ShortHandset:
      raw_.push_back(static_cast<char>(byte));
      frame_.address = byte;
      Emit(rollCall_ ? PcFrame::Kind::RollCall : PcFrame::Kind::Poll, out);
      return;

    case State::Length:
      raw_.push_back(static_cast<char>(byte));
      if (byte < 7 || byte > kMaxPcLength) {
        char error[48];
        std::snprintf(error, sizeof error, "length %u outside 7..%u", byte, kMaxPcLength);
        Reject(error, out);
        return;
      }
      state_ = State::Header;
      return;

    case State::Header: {
      raw_.push_back(static_cast<char>(byte));
      if (raw_.size() < kHeaderEnd) return;
      frame_.address = static_cast<std::uint8_t>(raw_[6]);
      frame_.sequence = static_cast<std::uint8_t>(raw_[7]);
      frame_.more = static_cast<std::uint8_t>(raw_[8]);
      frame_.code = raw_.substr(9, 4);
      if (frame_.more > 1) {
        Reject("more flag is neither 0 nor 1", out);
      } else if (frame_.sequence == 0) {
        Reject("sequence 0", out);
      } else if (!PrintableCode(frame_.code)) {
        Reject("command code is not printable ASCII", out);
      } else {
        need_ = static_cast<std::uint8_t>(raw_[5]) - 7u;
        if (need_ == 0) {
          Emit(PcFrame::Kind::Long, out);
        } else {
          state_ = State::Body;
        }
      }
      return;
    }

    case State::Body:
      raw_.push_back(static_cast<char>(byte));
      frame_.body.push_back(static_cast<char>(byte));
      if (--need_ == 0) Emit(PcFrame::Kind::Long, out);
      return;

    case State::Config:
      raw_.push_back(static_cast<char>(byte));
      if (static_cast<char>(byte) != kConfigRequest[raw_.size() - 1]) {
        Reject("not a configuration request", out);
      } else if (raw_.size() == kConfigRequest.size()) {
        Emit(PcFrame::Kind::ConfigRequest, out);
      }
      return;

    case State::Settings:
      raw_.push_back(static_cast<char>(byte));
      if (--need_ == 0) {
        frame_.body = raw_;
        expectSettings_ = false;
        Emit(PcFrame::Kind::SettingsRecord, out);
      }
      return;
  }
}

std::optional<std::time_t> TimeAnswerInstant(std::string_view body) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(body[i]); };
  if (body.size() != 6 || byte(1) < 1 || byte(1) > 12 || byte(2) < 1 || byte(2) > 31 ||
      byte(3) > 23 || byte(4) > 59 || byte(5) > 59) {
    return std::nullopt;
  }
  std::tm named{};
  named.tm_year = 100 + byte(0);
  named.tm_mon = byte(1) - 1;
  named.tm_mday = byte(2);
  named.tm_hour = byte(3);
  named.tm_min = byte(4);
  named.tm_sec = byte(5);
  named.tm_isdst = -1;
  return std::mktime(&named);
}

}  // namespace orderlink::basesim
