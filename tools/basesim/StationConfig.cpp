// The station's configuration dialogue: acknowledge a request when the switch is
// set, then decode and report the settings record the PC sends.

#include <cstdio>

#include "BaseStation.h"
#include "StationText.h"

namespace orderlink::basesim {

namespace {

constexpr std::string_view kConfigAck{"\xFF\xAA\x55\x32\xCD", 5};
constexpr int kSettingsWaitMs =
    3000;  // the PC sends its record within a tick of the acknowledgement

}  // namespace

void BaseStation::OnConfigRequest(std::int64_t nowMs) {
  ++configRequests_;
  if (!options_.configSwitch) {
    log_.Info("configuration request ignored: the station's switch is not set");
    return;
  }
  ++configAcks_;
  Outgoing ack;
  ack.dueMs = nowMs + options_.answerDelayMs;
  ack.chunks = {std::string(kConfigAck)};
  ack.what = "configuration acknowledgement";
  ack.framed = false;
  Queue(std::move(ack));
  parser_.ExpectSettingsRecord(true);
  settingsUntil_ = nowMs + kSettingsWaitMs;
}

void BaseStation::OnSettingsRecord(const std::string& record) {
  ++settingsRecords_;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(record[i]); };
  char text[160];
  std::string decoded;
  if (record.size() == 4 && byte(1) == 0x50 && (byte(2) & 0xF1) == 0x80 &&
      (byte(3) & 0xF0) == 0xC0) {
    std::snprintf(text, sizeof text, "kind=data channel=%d station=%d", (byte(2) & 0x0E) >> 1,
                  byte(3) & 0x0F);
    decoded = text;
  } else if (record.size() >= 7 && byte(1) == 0xA0 && (byte(2) & 0xF0) == 0xB0 && byte(4) == 0xFF &&
             byte(5) >= 1 && byte(5) <= 60 && record.size() == 6u + byte(5)) {
    const bool slave = (byte(2) & 0x01) != 0;
    if (!slave && byte(3) != 0xFF)
      Problem("settings: master station record with address byte not FF");
    std::snprintf(text, sizeof text,
                  "kind=voice role=%s channel=%d address=%d handsets=", slave ? "slave" : "master",
                  (byte(2) & 0x0E) >> 1, byte(3));
    decoded = text;
    for (std::size_t i = 6; i < record.size(); ++i)
      decoded += (i > 6 ? "," : "") + Number3(byte(i));
  } else {
    ++rejects_;
    Problem("reject: settings record of no known layout: " + Hex(record));
    decoded = "kind=unknown";
  }
  log_.Result("settings: " + decoded + " bytes=" + Hex(record));
}

void BaseStation::ExpireSettingsWait(std::int64_t nowMs) {
  if (parser_.ExpectingSettingsRecord() && nowMs >= settingsUntil_) {
    parser_.ExpectSettingsRecord(false);
    Problem("config: no settings record within " + std::to_string(kSettingsWaitMs) +
            " ms of the acknowledgement");
  }
}

}  // namespace orderlink::basesim
