#include "station/StationConfig.h"

#include <mutex>
#include <optional>

#include "common/WholeNumber.h"
#include "link/HandsetPoller.h"
#include "link/SendThread.h"
#include "station/StationRecords.h"

namespace orderlink {

namespace {

constexpr int kSettleMs = 10;        // lets a poll that is being written finish
constexpr int kAfterRecordMs = 500;  // the station takes the record before polls resume
constexpr char kNoAnswer[] = "设置失败!请检查基站拨码开关是否正确";
constexpr char kLineLost[] = "串口已断开，基站设置没有完成，请检查串口连接后重试。";
// A slave's address byte: 0 is no station and FF is the master's address.
constexpr int kMinSlaveAddress = 1;
constexpr int kMaxSlaveAddress = 254;

std::optional<int> InRange(const std::string& text, int low, int high) {
  const auto value = ParseWholeNumber(text);
  if (!value || *value < low || *value > high) return std::nullopt;
  return value;
}

}  // namespace

StationConfig::StationConfig(WindowTimers& timers, MessageSink& messages, SendThread* send,
                             HandsetPoller* poller, const HandsetTree& handsets, StationView& view,
                             LineActivity& line)
    : timers_(timers),
      messages_(messages),
      send_(send),
      poller_(poller),
      handsets_(handsets),
      view_(view),
      line_(line) {}

void StationConfig::StartConfiguration(const StationInput& input) {
  if (busy_) return;
  if (const std::string_view refusal = line_.RefusalFor(LineUser::StationDialogue);
      !refusal.empty()) {
    messages_.ShowMessage(std::string(refusal));
    return;
  }
  // Nothing can reach the station while its serial device is gone.
  if (!LineUp()) {
    messages_.ShowMessage(kLineLost);
    return;
  }
  // Out-of-range channels and station numbers would spill into the record's fixed
  // bits; a slave address outside 1 to 254 would go out as another byte than the
  // success message names (300 as 44, -1 as the master's FF).
  Settings settings{input};
  const auto channel = InRange(input.channel, 0, 7);
  if (!channel) {
    messages_.ShowMessage("信道必须是0到7之间的整数！");
    return;
  }
  settings.channel = *channel;
  if (!input.voice) {
    const auto station = InRange(input.station, 1, 15);
    if (!station) {
      messages_.ShowMessage("基站编号必须是1到15之间的整数！");
      return;
    }
    settings.station = *station;
  } else if (!input.master) {
    const auto address = InRange(input.address, kMinSlaveAddress, kMaxSlaveAddress);
    if (!address) {
      messages_.ShowMessage("从机地址必须是1到254之间的整数！");
      return;
    }
    settings.address = *address;
  }
  settings_ = settings;

  grant_ = line_.Take(LineUser::StationDialogue, poller_).grant;
  grant_.PausePolling();
  busy_ = true;
  ending_ = false;
  recordDue_ = false;
  const int dialogue = ++dialogue_;
  timers_.After(kSettleMs, [this, dialogue] {
    if (dialogue != dialogue_) return;  // ended meanwhile (line lost)
    SetTransfer(true);
    view_.SetConfigureButtonEnabled(false);
    line_.stationAck = 0;
    SendRequest(dialogue);
  });
}

void StationConfig::SendRequest(int dialogue) {
  if (dialogue != dialogue_) return;
  if (!TryWrite(kConfigRequest)) {
    timers_.After(kSettleMs, [this, dialogue] { SendRequest(dialogue); });
    return;
  }
  ticks_ = 0;
  view_.SetDialogueTimer(true);
}

void StationConfig::DialogueTick() {
  if (!transferring_) return;
  ++ticks_;
  if (recordDue_ || line_.stationAck.exchange(0) == 1) {
    ticks_ = 0;
    // The true count: 256 handsets are too many, not none.
    const auto handsets = handsets_.HandsetBytes();
    const int n = static_cast<int>(handsets.size());
    if (!settings_.texts.voice) {
      recordDue_ = !SendRecord(DataStationRecord(settings_.channel, settings_.station));
    } else if (n >= 1 && n <= kMaxVoiceHandsets) {
      recordDue_ = !SendRecord(VoiceStationRecord(settings_.texts.master, settings_.channel,
                                                  settings_.address, handsets));
    } else {
      Finish(
          n > kMaxVoiceHandsets ? "点菜机数量超过语音基站支持是最大数量60个！" : "请添加点菜机号！",
          0);
    }
  } else if (ticks_ >= kMaxTicks) {
    Finish(kNoAnswer, 0);
  }
}

void StationConfig::LineLost() {
  // Once the record is out the settings are made; only the pause before polls resume runs.
  if (busy_ && !ending_) Finish(kLineLost, 0);
}

bool StationConfig::LineUp() const {
  return send_ == nullptr || send_->Port() == nullptr || send_->Port()->IsOpen();
}

void StationConfig::SetTransfer(bool transferring) {
  transferring_ = transferring;
  line_.stationTransfer = transferring;
  view_.ShowTransfer(transferring);
}

bool StationConfig::TryWrite(std::string_view bytes) {
  if (send_ == nullptr) return true;
  std::unique_lock lock(send_->Mutex(), std::try_to_lock);
  if (!lock.owns_lock()) return false;
  send_->WriteToPort(bytes);
  return true;
}

bool StationConfig::SendRecord(const std::string& record) {
  if (!TryWrite(record)) return false;
  Finish(SuccessText(), kAfterRecordMs);
  return true;
}

void StationConfig::Finish(const std::string& message, int pauseMs) {
  ending_ = true;
  ++dialogue_;  // steps still scheduled for this dialogue do nothing
  view_.SetDialogueTimer(false);
  SetTransfer(false);
  auto end = [this, message] {
    grant_.Release();  // polling runs again, the line is free
    messages_.ShowMessage(message);
    view_.SetConfigureButtonEnabled(true);
    busy_ = false;
    ending_ = false;
  };
  if (pauseMs > 0) {
    timers_.After(pauseMs, std::move(end));
  } else {
    end();
  }
}

std::string StationConfig::SuccessText() const {
  const StationInput& t = settings_.texts;
  if (!t.voice) return "数据基站:信道" + t.channel + " 编号" + t.station + " 已设置成功";
  if (t.master) return "语音主基站:信道" + t.channel + " 已设置成功";
  return "语音从基站:信道" + t.channel + " 地址" + t.address + " 已设置成功";
}

}  // namespace orderlink
