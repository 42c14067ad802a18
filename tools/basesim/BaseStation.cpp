// The station's front: bytes from the PC become frames, and each frame or
// assembled message is routed to the part that plays it (handset traffic,
// download session, station configuration).

#include "BaseStation.h"

#include <algorithm>

#include "StationText.h"
#include "common/Gbk.h"

namespace orderlink::basesim {

namespace {

constexpr int kQuietFlushMs =
    500;  // the PC writes a frame in one go; a pause inside one is a fault

}  // namespace

BaseStation::BaseStation(StationOptions options, StationLog& log)
    : options_(std::move(options)), log_(log), random_(options_.seed) {
  options_.maxBody = std::clamp<std::size_t>(options_.maxBody, 1, 248);
  for (const std::uint8_t number : options_.handsets) {
    Handset handset(number, RequestGenerator(number, options_.seed, options_.dishCodes,
                                             options_.timeQueryRate));
    handset.requestsLeft = options_.requestLimit;
    handset.download.takesPart =
        options_.downloadHandsets.empty() || Contains(options_.downloadHandsets, number);
    handsets_.emplace(number, std::move(handset));
  }
}

void BaseStation::Problem(const std::string& line) {
  ++problems_;
  log_.Problem(line);
}

bool BaseStation::Chance(double rate) {
  return rate > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(random_) < rate;
}

BaseStation::Handset* BaseStation::Find(std::uint8_t number) {
  const auto it = handsets_.find(number);
  return it == handsets_.end() ? nullptr : &it->second;
}

void BaseStation::OnBytes(std::string_view bytes, std::int64_t nowMs) {
  lastRxMs_ = nowMs;
  std::vector<PcFrame> frames;
  parser_.Feed(bytes, frames);
  for (const PcFrame& frame : frames) Handle(frame, nowMs);
}

void BaseStation::OnTick(std::int64_t nowMs) {
  if (parser_.Pending() && nowMs - lastRxMs_ >= kQuietFlushMs) {
    std::vector<PcFrame> frames;
    parser_.Flush(frames);
    for (const PcFrame& frame : frames) Handle(frame, nowMs);
  }
  ExpireSettingsWait(nowMs);
}

void BaseStation::OnHangUp(std::int64_t nowMs) {
  ++hangUps_;
  queue_.clear();
  assembly_.reset();
  parser_ = PcFrameParser();
  pcRoute_ = 0xC0;
  for (auto& [number, handset] : handsets_) {
    if (handset.wait == Handset::Wait::Reply) handset.waitingAfterHangUp = true;
  }
  if (session_.active) EndSession("abandoned");
  log_.Event(nowMs, "hangup");
}

void BaseStation::OnLineBack(std::int64_t nowMs) {
  lastRxMs_ = nowMs;
  log_.Event(nowMs, "back");
}

void BaseStation::Handle(const PcFrame& frame, std::int64_t nowMs) {
  switch (frame.kind) {
    case PcFrame::Kind::Rejected:
      ++rejects_;
      Problem("reject: " + frame.error + ": " + Hex(frame.raw));
      return;
    case PcFrame::Kind::Poll:
      ++polls_;
      log_.Info("rx poll " + Number3(frame.address) +
                (frame.route == 0xC0
                     ? ""
                     : " (route " + Hex(std::string(1, static_cast<char>(frame.route))) + ")"));
      if (frame.route != 0xC0) {
        ++routeErrors_;
        Problem("poll of handset " + Number3(frame.address) + " with route byte " +
                Hex(std::string(1, static_cast<char>(frame.route))) + ", not C0");
      }
      OnPoll(frame.address, nowMs);
      return;
    case PcFrame::Kind::RollCall: {
      ++rollCalls_;
      log_.Info("rx roll call " + Number3(frame.address));
      Handset* handset = Find(frame.address);
      if (handset != nullptr && nowMs < handset->goneUntil) {
        ++unheard_;
      } else if (handset != nullptr) {
        OnReply(*handset, "DM  ", "");
      }
      return;
    }
    case PcFrame::Kind::ConfigRequest:
      OnConfigRequest(nowMs);
      return;
    case PcFrame::Kind::SettingsRecord:
      OnSettingsRecord(frame.body);
      return;
    case PcFrame::Kind::Long:
      HandleLong(frame, nowMs);
      return;
  }
}

void BaseStation::CheckRoute(const std::string& code, std::uint8_t route, bool ownInitiative,
                             bool either) {
  const std::uint8_t expected = ownInitiative ? 0xC0 : pcRoute_;
  if (route == expected || (either && (route == 0xC0 || route == pcRoute_))) return;
  ++routeErrors_;
  Problem("route: [" + code + "] went out with route byte " +
          Hex(std::string(1, static_cast<char>(route))) + ", expected " +
          Hex(std::string(1, static_cast<char>(expected))));
}

void BaseStation::Deliver(const Assembly& message, std::int64_t nowMs) {
  const std::string& code = message.code;
  if (message.record) {
    CheckRoute(code, message.route, true, false);
    OnRecord(message.address, message.recordHead, code, message.payload);
    return;
  }
  if (message.address == 0) {
    CheckRoute(code, message.route, true, false);
    pcRoute_ = 0xC0;
    if (code == "QBKS") {
      OnQbks(message.payload);
    } else if (code == "QBJS") {
      if (!message.payload.empty()) Problem("\"QBJS\" with a payload: " + Hex(message.payload));
      OnQbjs();
    } else {
      ++rejects_;
      Problem("reject: [" + code + "] sent to every handset (address 0)");
    }
    return;
  }

  const bool ownInitiative = code == "TXCS" || code == "XZDM" || code == "CCKS" || code == "CCJS";
  const bool shortMessage = code == "DX  ";
  CheckRoute(code, message.route, ownInitiative, shortMessage);
  if (ownInitiative) pcRoute_ = 0xC0;

  Handset* handset = Find(message.address);
  if (handset == nullptr) {
    ++foreign_;
    log_.Info("frame [" + code + "] for handset " + Number3(message.address) +
              ", which is not here");
    if (code == "FHJS" || code == "SJCX") pcRoute_ = 0xC0;
    return;
  }
  if (nowMs < handset->goneUntil) {
    ++unheard_;  // a vanished handset hears nothing
    log_.Info("frame [" + code + "] for handset " + Number3(message.address) +
              ", which has vanished");
    if (code == "FHJS" || code == "SJCX" ||
        (shortMessage && message.payload != Utf8ToGbk("短信发送成功!"))) {
      pcRoute_ = 0xC0;
    }
    return;
  }
  if ((code == "FHJS" || code == "XZDM" || code == "CCKS" || code == "CCJS") &&
      !message.payload.empty()) {
    Problem("[" + code + "] to " + Number3(message.address) +
            " carries a payload: " + Hex(message.payload));
  }
  if (code == "FHJS") {
    OnFhjs(*handset, nowMs);
    pcRoute_ = 0xC0;
  } else if (code == "SJCX") {
    OnTimeAnswer(*handset, message.payload, nowMs);
    pcRoute_ = 0xC0;
  } else if (code == "TXCS") {
    OnLinkTest(message.address, message.payload, nowMs);
  } else if (code == "XZDM") {
    OnStatusQuery(*handset, nowMs);
  } else if (code == "CCKS" || code == "CCJS") {
    Download& download = handset->download;
    const bool open = code == "CCKS";
    if (download.resendOpen == open) {
      Problem("[" + code + "] to " + Number3(handset->number) +
              (open ? " while a resend is open" : " without \"CCKS\""));
    }
    download.resendOpen = open;
  } else if (shortMessage && message.payload == Utf8ToGbk("短信发送成功!")) {
    ++shortAcks_;
    handset->ackPending = true;
    log_.Info("handset " + Number3(handset->number) + " told its short message went out");
  } else if (shortMessage) {
    ++shortMessages_;
    pcRoute_ = 0xC0;
    if (message.payload.size() < 4 || !AllDigits(message.payload.substr(0, 3)) ||
        message.payload[3] != ' ') {
      Problem("short message to " + Number3(handset->number) +
              " does not begin with the sender: \"" + Show(message.payload) + "\"");
    }
    log_.Info("handset " + Number3(handset->number) + " got short message \"" +
              Show(message.payload) + "\"");
  } else {
    OnReply(*handset, code, message.payload);
  }
}

}  // namespace orderlink::basesim
