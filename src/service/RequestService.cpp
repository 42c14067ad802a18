#include "service/RequestService.h"

#include <algorithm>
#include <optional>

#include "common/Gbk.h"
#include "common/Log.h"
#include "service/ReplyDelivery.h"
#include "service/TimeAndMessages.h"

namespace orderlink {

namespace {
// Lets the send thread take the reply job before polling may resume.
constexpr std::int64_t kAfterReplyPostMs = 10;
}  // namespace

std::tm RequestService::CurrentLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

RequestService::RequestService(TxtDir txt, HostLink& host, MessageSink& messages,
                               WindowTimers& timers, SwitchOnMarker* marker,
                               LocalTimeSource localTime)
    : txt_(std::move(txt)),
      host_(host),
      messages_(messages),
      timers_(timers),
      marker_(marker),
      localTime_(std::move(localTime)) {}

void RequestService::RegisterJobs(SendThread& thread, LineActivity& line) {
  thread.RegisterJob(JobReplyCode, [this, &line](SendThread& t, std::uint8_t) {
    JobReply(t, txt_, line, messages_);
  });
  thread.RegisterJob(JobShortMessageAckCode, [&line](SendThread& t, std::uint8_t sender) {
    JobShortMessageAck(t, sender, line);
  });
  thread.RegisterDataJob(JobShortMessageCode,
                         [&line](SendThread& t, std::uint8_t target, std::string_view text) {
                           JobShortMessage(t, target, text, line);
                         });
  thread.RegisterDataJob(JobTimeReplyCode,
                         [&line](SendThread& t, std::uint8_t handset, std::string_view text) {
                           JobTimeReply(t, handset, text, line);
                         });
  sendThread_ = &thread;
}

void RequestService::OnRequest(const Message& request, LineWorker& receiver) {
  DispatchRequest(receiver, {CommandText(request.command), request.payload}, txt_, host_, marker_);
}

void RequestService::OnTimeQuery(const Message& query) {
  SendThread* send = sendThread_.load();
  if (send == nullptr) return;
  // A refusal is logged by PostJob; the handset asks again when it gets no answer.
  (void)send->PostJob(JobTimeReplyCode, query.handset, TimeReplyText(localTime_()));
}

void RequestService::OnHostReply(SendThread* sendThread, HandsetPoller* poller) {
  if (sendThread != nullptr && !sendThread->PostJob(JobReplyCode, 0) && sendThread->Accepting()) {
    messages_.ShowMessage(std::string(kReplyNotQueued));
  }
  if (poller != nullptr) timers_.After(kAfterReplyPostMs, [poller] { poller->ClearHoldOff(); });
}

void RequestService::OnHostShortMessage(SendThread* sendThread) {
  const ShortMessageFile file = ReadShortMessageFile(txt_);
  if (!file.message) {
    messages_.ShowMessage(file.refusal);
    return;
  }
  const ShortMessage& message = *file.message;
  if (std::find(handsets_.begin(), handsets_.end(), message.targetText) == handsets_.end()) return;
  if (sendThread == nullptr) return;

  // A handset is addressed by one byte: a larger number names no handset, and its low
  // byte would reach a different one.
  const auto handsetNumber = [](std::string_view text) -> std::optional<std::uint8_t> {
    const auto number = ParseNumberField(text);
    if (!number || *number > 255) return std::nullopt;
    return static_cast<std::uint8_t>(*number);
  };
  const auto sender = handsetNumber(message.senderText);
  const auto target = handsetNumber(message.targetText);
  if (!sender || !target) {
    LogError("the first line of DX.txt names no sender or target handset number 0-255 (\"" +
             GbkToUtf8(message.senderText) + "\", \"" + GbkToUtf8(message.targetText) +
             "\"); the short message is not sent");
    return;
  }
  // The confirmation goes first; the target's job carries the text read here.
  if (!sendThread->PostJob(JobShortMessageAckCode, *sender) ||
      !sendThread->PostJob(JobShortMessageCode, *target, message.text)) {
    if (sendThread->Accepting()) messages_.ShowMessage(std::string(kShortMessageNotQueued));
  }
}

void RequestService::AddHandset(const std::string& text) { handsets_.push_back(text); }

}  // namespace orderlink
