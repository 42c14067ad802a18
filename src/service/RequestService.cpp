#include "service/RequestService.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "common/Gbk.h"
#include "common/Log.h"
#include "common/TextFile.h"
#include "service/ReplyDelivery.h"
#include "service/TimeAndMessages.h"

namespace orderlink {

namespace {
// Lets the send thread take the reply job before polling may resume.
constexpr std::int64_t kAfterReplyPostMs = 10;

// A command code for a log line: bytes outside printable ASCII as \xNN.
std::string Printable(std::string_view code) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : code) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return '"' + out + '"';
}

// The reason a file could not be replaced, in the user's words where the cause is
// a common one, else the system's own.
std::string WriteFailureReason(int systemError) {
  switch (systemError) {
    case EROFS:
      return "文件夹所在的磁盘是只读的";
    case ENOSPC:
    case EDQUOT:
      return "磁盘已满";
    case EACCES:
      return "没有写入文件夹的权限";
    case EPERM:
      return "文件被设为不可更改";
    case EISDIR:
      return "同名的文件夹占了它的位置";
    case 0:
      return "原因不明";
    default:
      return std::strerror(systemError);
  }
}

// "R1.txt of 57 bytes, <its code> for handset 12" for the log: its size and header,
// reading no more than the header.
std::string DescribeReplyFile(const TxtDir& txt) {
  const auto head = ReadTxtHead(txt, "R1.txt", 16);
  if (!head) return "R1.txt not readable";
  const auto lines = SplitLines(head->bytes);
  const auto header = ParseReplyHeader(lines.empty() ? std::string_view() : lines.front());
  std::string text = "R1.txt of " + std::to_string(head->size) + " bytes, ";
  if (!header) return text + "no handset in its header";
  return text + Printable(header->code) + " for handset " + std::to_string(header->handset);
}
}  // namespace

std::string HostSilentNotice(const std::string& handsetText) {
  return "点菜软件没有应答点菜机" + GbkToUtf8(handsetText) + "的请求，请检查点菜软件是否在运行。";
}

std::string RecordLostNotice(const std::filesystem::path& recordPath, int systemError,
                             const std::string& handsetText) {
  return "T1.txt无法写入（" + WriteFailureReason(systemError) + "），点菜机" +
         GbkToUtf8(handsetText) + "的请求没有交给点菜软件。请检查文件夹" +
         recordPath.parent_path().string() + "，然后让点菜机重新发送。";
}

std::tm RequestService::CurrentLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

RequestService::RequestService(TxtDir txt, HostLink& host, MessageSink& messages,
                               WindowTimers& timers, SwitchOnMarker* marker, Clock& clock,
                               WindowPost toWindow, LocalTimeSource localTime)
    : txt_(std::move(txt)),
      host_(host),
      messages_(messages),
      timers_(timers),
      marker_(marker),
      clock_(clock),
      toWindow_(std::move(toWindow)),
      localTime_(std::move(localTime)) {}

void RequestService::ConnectLine(SendThread& thread, LineActivity& line) {
  line_ = &line;
  sendThread_ = &thread;
}

LineWork RequestService::ReplyWork() {
  return {"reply", 0, [this](SendThread& t) {
            if (const int merged = TakeWaitingReply(); merged > 0) {
              LogInfo(std::to_string(merged) +
                      " further reply notices came while the reply waited to start; R1.txt is "
                      "sent once for all of them");
            }
            if (const auto handset = JobReply(t, txt_, *line_, messages_)) ReplyDelivered(*handset);
          }};
}

void RequestService::OnRequest(const Message& request, LineWorker& receiver) {
  const std::string_view code = CommandText(request.command);
  // A handset asks nothing new before its answer came: the same request again, at
  // once and before the answer went out, is the radio's copy, and passing it on would
  // place an order twice.
  if (const auto handset = CopyOfLastRequest(request, code)) {
    LogWarning("handset " + GbkToUtf8(*handset) + " sent its " + Printable(code) +
               " request twice at once; the copy is not passed on (the handset waits for the "
               "answer to the first)");
    return;
  }
  const DispatchResult result =
      DispatchRequest(receiver, {code, request.payload}, txt_, host_, marker_,
                      // Before the host is told: its answer may come at once.
                      [&](const DispatchResult& written) { AwaitAnswer(written, code, request); });
  switch (result.outcome) {
    case DispatchResult::Outcome::UnknownCode:
      LogWarning("a frame of handset " + std::to_string(request.handset) + " with code " +
                 Printable(code) + ", which is no request code, is ignored");
      return;
    case DispatchResult::Outcome::NotWritten:
      ReportLostRecord(result, code);
      return;
    case DispatchResult::Outcome::Notified:
      break;
  }
  if (recordWriteError_ != 0) {
    recordWriteError_ = 0;
    LogInfo(result.recordPath.string() + " is written again");
  }
}

std::optional<std::string> RequestService::CopyOfLastRequest(const Message& request,
                                                             std::string_view code) {
  std::lock_guard lock(answerMutex_);
  const auto& last = lastRequest_;
  if (!last || last->replyDelivered || last->address != request.handset || last->code != code ||
      last->payload != request.payload || clock_.NowMs() - last->notifiedAtMs > kCopyWindowMs)
    return std::nullopt;
  return last->handsetText;
}

void RequestService::ReplyDelivered(std::uint8_t handset) {
  std::lock_guard lock(answerMutex_);
  if (lastRequest_ && lastRequest_->address == handset) lastRequest_->replyDelivered = true;
}

void RequestService::AwaitAnswer(const DispatchResult& result, std::string_view code,
                                 const Message& request) {
  std::uint64_t id = 0;
  {
    std::lock_guard lock(answerMutex_);
    id = ++lastRequestId_;
    awaited_ = AwaitedRequest{id, std::string(code), result.handsetText, clock_.NowMs()};
    lastRequest_ = PassedRequest{std::string(code), result.handsetText, clock_.NowMs(),
                                 request.handset, std::string(request.payload)};
  }
  LogVerbose("request " + Printable(code) + " of handset " + GbkToUtf8(result.handsetText) + ": " +
             std::to_string(request.payload.size()) +
             " bytes, written to T1.txt; the ordering software "
             "is told");
  if (toWindow_) {
    toWindow_(
        [this, id] { timers_.After(kAwaitReplyHoldOffMs, [this, id] { CheckAnswered(id); }); });
  }
}

void RequestService::CheckAnswered(std::uint64_t id) {
  AwaitedRequest request;
  bool silenceBegins = false;
  {
    std::lock_guard lock(answerMutex_);
    // Answered, or a later request took its place (the host answers only the latest).
    if (!awaited_ || awaited_->id != id) return;
    request = *awaited_;
    awaited_.reset();
    silenceBegins = !hostSilent_;
    hostSilent_ = true;
    ++unansweredInSilence_;
  }
  LogWarning("the ordering software did not answer the " + Printable(request.code) +
             " request of handset " + GbkToUtf8(request.handsetText) + " within " +
             std::to_string(kAwaitReplyHoldOffMs / 1000) + " s");
  if (silenceBegins) messages_.ShowNotice(HostSilentNotice(request.handsetText));
}

void RequestService::NoteAnswer() {
  std::optional<AwaitedRequest> answered;
  int unanswered = 0;
  {
    std::lock_guard lock(answerMutex_);
    answered.swap(awaited_);
    if (hostSilent_) {
      unanswered = unansweredInSilence_;
      hostSilent_ = false;
      unansweredInSilence_ = 0;
    }
  }
  if (VerboseLog()) {
    std::string line = "reply notice: " + DescribeReplyFile(txt_) + "; ";
    if (answered) {
      line += "answers the " + Printable(answered->code) + " request of handset " +
              GbkToUtf8(answered->handsetText) + " after " +
              std::to_string(clock_.NowMs() - answered->notifiedAtMs) + " ms";
    } else {
      line += "no request was waiting for an answer";
    }
    LogVerbose(line);
  }
  if (unanswered > 0) {
    LogInfo("the ordering software answers again after " + std::to_string(unanswered) +
            " unanswered requests");
    messages_.ShowNotice(std::string(kHostAnswersAgain));
  }
}

void RequestService::ReportLostRecord(const DispatchResult& result, std::string_view code) {
  LogWarning("cannot write " + result.recordPath.string() + " (" +
             std::strerror(result.writeError) + "); the " + Printable(code) +
             " request of handset " + GbkToUtf8(result.handsetText) +
             " is lost and the ordering software is not told");
  // Once per cause: every request is lost the same way until the folder is repaired.
  if (result.writeError == recordWriteError_) return;
  recordWriteError_ = result.writeError;
  messages_.ShowNotice(RecordLostNotice(result.recordPath, result.writeError, result.handsetText));
}

void RequestService::OnTimeQuery(const Message& query) {
  SendThread* send = sendThread_.load();
  if (send == nullptr) return;
  // A refusal is logged by Post; the handset asks again when it gets no answer.
  (void)send->Post({"time answer", query.handset,
                    [this, handset = static_cast<std::uint8_t>(query.handset),
                     text = TimeReplyText(localTime_())](SendThread& t) {
                      JobTimeReply(t, handset, text, *line_);
                    }});
}

void RequestService::OnHostReply(SendThread* sendThread, HandsetPoller* poller) {
  NoteAnswer();
  if (sendThread != nullptr) PostReply(*sendThread);
  // One clear serves every notice that comes before it runs.
  if (poller != nullptr && !holdOffClearPending_) {
    holdOffClearPending_ = true;
    timers_.After(kAfterReplyPostMs, [this, poller] {
      holdOffClearPending_ = false;
      poller->ClearHoldOff();
    });
  }
}

void RequestService::PostReply(SendThread& sendThread) {
  // Only this thread sets the flag; the job clears it as it starts, before it reads
  // R1.txt, so a waiting job sends what this notice announced.
  if (replyWaiting_.load()) {
    ++mergedNotices_;
    return;
  }
  replyWaiting_ = true;
  if (sendThread.Post(ReplyWork())) {
    replyRefusalShown_ = false;
    return;
  }
  replyWaiting_ = false;
  // Before the thread runs or after it ended the refusal is only logged (by Post).
  if (sendThread.Accepting()) ReportRefusal(&replyRefusalShown_, kReplyNotQueued);
}

int RequestService::TakeWaitingReply() {
  replyWaiting_ = false;
  return mergedNotices_.exchange(0);
}

void RequestService::ReportRefusal(bool* shown, std::string_view text) {
  if (*shown) return;
  *shown = true;
  messages_.ShowNotice(std::string(text));
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
    LogWarning("the first line of DX.txt names no sender or target handset number 0-255 (\"" +
               GbkToUtf8(message.senderText) + "\", \"" + GbkToUtf8(message.targetText) +
               "\"); the short message is not sent");
    return;
  }
  // The confirmation goes first; the target's job carries the text read here.
  const auto ack = [this, sender = *sender](SendThread& t) {
    JobShortMessageAck(t, sender, *line_);
  };
  const auto send = [this, target = *target, text = message.text](SendThread& t) {
    JobShortMessage(t, target, text, *line_);
  };
  if (sendThread->Post({"short-message answer", *sender, ack}) &&
      sendThread->Post({"short message", *target, send})) {
    shortMessageRefusalShown_ = false;
  } else if (sendThread->Accepting()) {
    ReportRefusal(&shortMessageRefusalShown_, kShortMessageNotQueued);
  }
}

void RequestService::AddHandset(const std::string& text) { handsets_.push_back(text); }

}  // namespace orderlink
