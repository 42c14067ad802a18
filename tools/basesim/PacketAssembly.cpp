// Long frames from the PC joined into messages and download records, with the
// checks on sequence, code, packet gaps and where the PC cut.

#include "BaseStation.h"
#include "Records.h"
#include "StationText.h"
#include "link/FrameCodec.h"

namespace orderlink::basesim {

namespace {

constexpr int kMinPacketGapMs = 120;  // the PC pauses 150 ms between packets of one message

}  // namespace

// Joins the packets of one message (or one download record) and checks that they
// come in sequence, with one code, cut where the PC must cut.
void BaseStation::HandleLong(const PcFrame& frame, std::int64_t nowMs) {
  const bool downloadContext =
      session_.active || std::any_of(handsets_.begin(), handsets_.end(),
                                     [](const auto& h) { return h.second.download.resendOpen; });
  const bool record = IsTableTag(frame.code) && (frame.code != "XGMM" || downloadContext);
  std::string head;
  std::string piece = frame.body;
  if (record) {
    if (frame.body.size() < 14 || !AllDigits(std::string_view(frame.body).substr(0, 13))) {
      ++rejects_;
      Problem("reject: record frame " + frame.code +
              " without record number, count and position: " + Hex(frame.raw));
      assembly_.reset();
      return;
    }
    head = frame.body.substr(0, 13);
    piece = frame.body.substr(13);
  }
  log_.Info("rx " + std::string(record ? "record " : "") + "[" + frame.code + "] to " +
            Number3(frame.address) + " seq " + std::to_string(frame.sequence) + " more " +
            std::to_string(frame.more) + (record ? " " + head : "") + " \"" + Show(piece) + "\"");

  if (frame.sequence == 1) {
    if (assembly_) {
      ++rejects_;
      Problem("message [" + assembly_->code + "] to " + Number3(assembly_->address) +
              " cut off after packet " + std::to_string(assembly_->pieces.size()));
    }
    assembly_ = Assembly{frame.address, frame.route, frame.code, head, record, 1, {}, "", nowMs};
  } else {
    if (!assembly_ || frame.sequence != assembly_->nextSequence || frame.code != assembly_->code ||
        frame.address != assembly_->address || head != assembly_->recordHead) {
      ++rejects_;
      Problem("reject: packet out of sequence: [" + frame.code + "] to " + Number3(frame.address) +
              " seq " + std::to_string(frame.sequence) + ": " + Hex(frame.raw));
      assembly_.reset();
      return;
    }
    if (nowMs - assembly_->lastMs < kMinPacketGapMs) {
      ++timingWarnings_;
      Problem("timing: packet " + std::to_string(frame.sequence) + " of [" + frame.code +
              "] came " + std::to_string(nowMs - assembly_->lastMs) +
              " ms after the one before (150 expected)");
    }
    if (frame.route != assembly_->route) {
      ++routeErrors_;
      Problem("route byte changed inside message [" + frame.code + "]");
    }
  }
  if (record && piece.empty()) {
    ++rejects_;
    Problem("reject: record packet with no data: " + Hex(frame.raw));
    assembly_.reset();
    return;
  }
  Assembly& message = *assembly_;
  message.pieces.push_back(piece.size());
  message.payload += piece;
  message.nextSequence = static_cast<std::uint8_t>(frame.sequence + 1);
  message.lastMs = nowMs;
  if (frame.more == 1) return;

  const Assembly done = std::move(message);
  assembly_.reset();
  const std::string cut =
      CheckCut(done.pieces, done.payload, done.record ? kRecordPiece : kMessagePiece);
  if (!cut.empty()) {
    ++rejects_;
    Problem("reject: [" + done.code + "] to " + Number3(done.address) + " cut wrongly: " + cut);
    return;
  }
  Deliver(done, nowMs);
}

}  // namespace orderlink::basesim
