#include "link/FrameParser.h"

#include <algorithm>

#include "link/FrameCodec.h"
#include "link/Protocol.h"

namespace orderlink {

bool IsStationAcknowledgement(std::string_view chunk) {
  const auto sameByte = [](std::uint8_t expected, char got) {
    return static_cast<std::uint8_t>(got) == expected;
  };
  return chunk.size() >= kStationAnswerSignature.size() &&
         std::equal(kStationAnswerSignature.begin(), kStationAnswerSignature.end(), chunk.begin(),
                    sameByte);
}

void FrameParser::Reset() {
  state_ = kFree;
  zeroRun_ = 0;
  headerPos_ = 0;
  route_ = kDefaultRoute;
  header_ = {};
  current_ = {};
  previous_ = {};
  remain_ = 0;
  discard_ = false;
  open_ = false;
  overflow_ = false;
  buffer_[0] = 0;  // a header-only time query reads the handset from here
  contentPos_ = 0;
}

void FrameParser::Push(std::uint8_t b) {
  if (b != 0) {
    zeroRun_ = 0;
  } else if (++zeroRun_ == 3) {
    // Three zero bytes start every frame: whatever was being received is abandoned.
    if (state_ == kHeader || state_ == kContent) Drop(DiscardReason::CutOffByPreamble);
    zeroRun_ = 0;
    headerPos_ = 0;
    state_ = kAfterPreamble;
  }

  switch (state_) {
    case kFree:
      header_[headerPos_] = b;
      if (b == 1) {
        state_ = kSkip;
      } else if (b >= 7) {
        ++headerPos_;
        state_ = kHeader;
      }
      break;
    case kSkip:  // the handset number of a short frame
      state_ = kFree;
      break;
    case kAfterPreamble:
      // Only the first non-zero byte is kept: taking the zeros of a longer preamble
      // too would let a reply sent at that moment carry route 0.
      if (b != 0) {
        route_ = b;
        sink_.OnRouteByte(b);
        state_ = kFree;
      }
      break;
    case kHeader:
      header_[headerPos_++] = b;
      if (headerPos_ == 8) HeaderComplete();
      break;
    case kContent:
      if (contentPos_ < kMessageBufferSize) {
        buffer_[contentPos_++] = b;
      } else if (!overflow_) {
        // The joined bodies do not fit: the rest is dropped, and the message at its
        // end. Only a message already dropped gets here: one for the PC restarts at
        // sequence 1 long before (256 packets of at most 248 bytes).
        Drop(DiscardReason::OverLong);
        overflow_ = true;
      }
      if (--remain_ == 0) BodyComplete();
      break;
  }
}

void FrameParser::HeaderComplete() {
  current_ = header_;
  remain_ = header_[0] - 7;
  const std::uint8_t address = header_[1];
  const std::uint8_t sequence = header_[2];
  const bool crc = IsCrcNotice(Command());
  const bool more = header_[3] == 1;
  const bool sameCommand = std::equal(header_.begin() + 4, header_.end(), previous_.begin() + 4);

  if (sequence == 1 && !crc && address == kAddressPc) {
    if (open_) Drop(DiscardReason::LeftOpen);
    discard_ = false;
    overflow_ = false;
    contentPos_ = 0;
  } else if (open_ && sequence == static_cast<std::uint8_t>(previous_[2] + 1) && !crc &&
             sameCommand && address == kAddressPc) {
    // Continues the open message: its body is appended.
  } else {
    // Without the open check a lost first packet would let its second continue the
    // message before, and the joined bodies would reach the dispatch as a request.
    Drop(address != kAddressPc ? DiscardReason::WrongAddress
         : crc                 ? DiscardReason::CrcNotice
                               : WhyNotContinued(sameCommand));
    discard_ = true;
    sink_.OnDiscardedPacket();
  }
  // Open again only once this packet's body is whole: a packet cut off by a zero run
  // leaves the message closed, so its successor cannot join a body with a hole.
  open_ = false;

  if (remain_ == 0) {
    // A header-only frame. Only a time query for the PC is answered; a header-only
    // time query addressed elsewhere is not ours to answer.
    if (Command() == kCodeTime && !discard_) {
      Hand(MessageKind::TimeQuery, {});
    } else if (!more && !discard_) {
      Drop(DiscardReason::HeaderOnly);
    }
    open_ = more && !discard_;
    state_ = kFree;
  } else {
    state_ = kContent;
  }
  headerPos_ = 0;
  previous_ = header_;
}

void FrameParser::BodyComplete() {
  const bool more = current_[3] == 1;
  if (more) {
    open_ = !discard_;
    state_ = kFree;  // wait for the next packet of the message
    return;
  }
  if (discard_) {
    sink_.OnDiscardedPacket();
  } else if (!overflow_) {
    const std::string_view payload(reinterpret_cast<const char*>(buffer_.data() + 1),
                                   static_cast<std::size_t>(contentPos_ - 1));
    const std::string_view command = Command();
    if (command == kCodeLinkTest) {
      Hand(MessageKind::TestAnswer, payload);
    } else if (command == kCodeDownloadComplete || command == kCodeDownloadFailed) {
      Hand(MessageKind::DownloadResult, payload);
    } else if (command == kCodeDownloadRecordsMissing) {
      Hand(MessageKind::ResendRequest, payload);
    } else {
      // The dispatch drops a code it does not know (after its hold-off).
      if (!IsRequestCode(CommandText(command))) Drop(DiscardReason::UnknownCode);
      Hand(MessageKind::Request, payload);
    }
  }
  contentPos_ = 0;
  overflow_ = false;
  state_ = kFree;
}

// A packet with sequence > 1, for the PC and no "CRC" notice, that does not continue
// the message being received.
DiscardReason FrameParser::WhyNotContinued(bool sameCommand) const {
  const bool nextSequence = header_[2] == static_cast<std::uint8_t>(previous_[2] + 1);
  if (!open_) {
    return discard_ && nextSequence && sameCommand ? DiscardReason::RestOfDroppedMessage
                                                   : DiscardReason::ContinuesNoMessage;
  }
  return nextSequence ? DiscardReason::CommandChanged : DiscardReason::OutOfSequence;
}

void FrameParser::Drop(DiscardReason reason) {
  discards_.Count(reason);
  sink_.OnDiscard(reason);
}

void FrameParser::Hand(MessageKind kind, std::string_view payload) {
  sink_.OnMessage({kind, Command(), buffer_[0], route_, payload});
}

}  // namespace orderlink
