// What the handsets do between polls: answer a poll with a request (or stay
// silent), take the reply lines and "FHJS", take time answers, and echo
// link-test frames. The field faults of a handset's answer are played here too:
// a vanished handset, a message sent twice, a late station, noise before the
// answer; a request that goes without its reply is kept with its cause.

#include <algorithm>
#include <ctime>

#include "BaseStation.h"
#include "StationText.h"

namespace orderlink::basesim {

namespace {

constexpr std::size_t kTestPatternLength = 53;
// The copy of a message sent twice follows the original after this long.
constexpr int kDuplicateGapMs = 40;
// After a request that went out twice is answered, the handset keeps quiet this
// long, so that a second answer (the program passing the copy on) arrives while it
// waits for none and is seen for what it is.
constexpr int kSettleAfterDuplicateMs = 5000;
// A reply set this soon after an answer is the same answer delivered again.
constexpr int kRepeatWindowMs = 10000;

// Causes of a lost request that the program cannot help.
bool ProgramsFault(const std::string& cause) {
  return cause != "vanish" && cause != "hangup" && cause != "burst";
}

}  // namespace

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::Garbage:
      return "garbage";
    case Fault::Crc:
      return "crc";
    case Fault::Sequence:
      return "sequence";
    case Fault::Address:
      return "address";
    case Fault::Split:
      return "split";
    case Fault::Burst:
      return "burst";
    case Fault::LateStation:
      return "late-station";
    case Fault::Vanish:
      return "vanish";
    case Fault::Duplicate:
      return "duplicate";
  }
  return "?";
}

void BaseStation::OnPoll(std::uint8_t address, std::int64_t nowMs) {
  if (session_.active) {
    // Polling resumes after a stopped download, which sends no "QBJS"; during a
    // running one the poller must be paused. The summary counts these polls.
    ++pollsInDownload_;
    log_.Info("poll of " + Number3(address) +
              " while a download runs: the download is taken as abandoned");
    EndSession("abandoned");
  }
  Handset* handset = Find(address);
  if (handset == nullptr) return;
  if (nowMs < handset->goneUntil) return;  // vanished: hears no poll
  if (handset->wait == Handset::Wait::Reply) {
    if (nowMs - handset->since < options_.replyTimeoutMs) return;
    std::string cause = "no-answer";
    if (handset->waitingFault) cause = FaultName(*handset->waitingFault);
    if (handset->waitingAfterHangUp) cause = "hangup";
    LoseRequest(*handset, cause, nowMs);
  } else if (handset->wait == Handset::Wait::Time) {
    if (nowMs - handset->since < options_.timeTimeoutMs) return;
    ++handset->timeLost;
    log_.Info("handset " + Number3(address) + ": time query unanswered");
    handset->wait = Handset::Wait::Ready;
  } else if (nowMs < handset->readyAt) {
    return;  // nothing to say yet: a handset stays silent
  }
  if (handset->retry) {
    const HandsetRequest request = *handset->retry;
    handset->retry.reset();
    SendRequest(*handset, request, nowMs);
    return;
  }
  if (handset->requestsLeft == 0) return;
  if (handset->requestsLeft > 0) --handset->requestsLeft;
  SendRequest(*handset, handset->generator.Next(), nowMs);
}

std::optional<Fault> BaseStation::PickFault() {
  if (options_.faults.empty() || !Chance(options_.faultRate)) return std::nullopt;
  return options_
      .faults[std::uniform_int_distribution<std::size_t>(0, options_.faults.size() - 1)(random_)];
}

void BaseStation::SendRequest(Handset& handset, const HandsetRequest& request, std::int64_t nowMs) {
  std::int64_t due = nowMs + options_.answerDelayMs;
  const std::string content =
      request.timeQuery ? std::string()
                        : std::string(1, static_cast<char>(handset.number)) + request.payload;
  std::optional<Fault> fault = PickFault();
  // A time query is a bare header: there is no message to cut or repeat.
  if (request.timeQuery && (fault == Fault::Vanish || fault == Fault::Duplicate)) fault.reset();
  if (fault) {
    ++faultsInjected_;
    ++faultCounts_[*fault];
    log_.Event(due, std::string("fault ") + FaultName(*fault) + " " + Number3(handset.number));
  }
  if (fault == Fault::Sequence || fault == Fault::Address) {
    // The PC must throw this frame away; the handset sends the request again at its next poll.
    QueueMessage(handset.number, request.code, content, due, fault);
    handset.retry = request;
    return;
  }
  if (fault == Fault::LateStation) due = nowMs + options_.stationLateMs;
  if (fault == Fault::Vanish) {
    Vanish(handset, request, content, due, nowMs);
    return;
  }
  QueueMessage(handset.number, request.code, content, due, fault);
  if (fault == Fault::Duplicate) {
    QueueMessage(handset.number, request.code, content, due + kDuplicateGapMs, std::nullopt);
  }
  handset.since = due;
  handset.waitingCode = request.code;
  handset.waitingFault = fault;
  handset.waitingAfterHangUp = false;
  if (request.timeQuery) {
    ++handset.timeQueries;
    handset.wait = Handset::Wait::Time;
  } else {
    ++handset.requests;
    handset.wait = Handset::Wait::Reply;
    log_.Event(due, "request " + Number3(handset.number) + " " + request.code);
  }
}

// The handset goes out of reach in the middle of its message: a message of several
// packets stops after the first, a one-packet message gets out but its reply will
// not be heard. The request is lost there and then, through no fault of the PC's.
void BaseStation::Vanish(Handset& handset, const HandsetRequest& request,
                         const std::string& content, std::int64_t dueMs, std::int64_t nowMs) {
  QueueMessage(handset.number, request.code, content, dueMs, Fault::Vanish);
  ++handset.requests;
  handset.waitingCode = request.code;
  handset.waitingFault = Fault::Vanish;
  log_.Event(dueMs, "request " + Number3(handset.number) + " " + request.code);
  handset.goneUntil = nowMs + options_.vanishMs;
  handset.readyAt = handset.goneUntil;
  log_.Info("handset " + Number3(handset.number) + " vanished in the middle of [" + request.code +
            "] for " + std::to_string(options_.vanishMs) + " ms");
  LoseRequest(handset, "vanish", nowMs);
}

void BaseStation::LoseRequest(Handset& handset, const std::string& cause, std::int64_t nowMs) {
  ++handset.lost;
  handset.wait = Handset::Wait::Ready;
  const bool programs = ProgramsFault(cause);
  lostRequests_.push_back(LostRequest{handset.number, handset.waitingCode, nowMs, cause, programs});
  log_.Event(nowMs, "lost " + Number3(handset.number) + " " + handset.waitingCode + " " + cause);
  const std::string text = "handset " + Number3(handset.number) + ": request [" +
                           handset.waitingCode + "] lost, no \"FHJS\" within " +
                           std::to_string(options_.replyTimeoutMs) + " ms";
  if (cause == "vanish") {
    return;  // logged where it vanished
  } else if (programs) {
    Problem(text + (cause == "no-answer" ? "" : " (" + cause + ")"));
  } else {
    log_.Info(text + " (" + cause + ")");
  }
}

void BaseStation::OnReply(Handset& handset, const std::string& code, const std::string& payload) {
  if (handset.wait != Handset::Wait::Reply) {
    ++handset.unexpected;
    Problem("handset " + Number3(handset.number) + " got [" + code + "] \"" + Show(payload) +
            "\" while it waited for no reply");
    return;
  }
  ++handset.replyLines;
  log_.Info("handset " + Number3(handset.number) + " reply [" + code + "] \"" + Show(payload) +
            "\"");
}

void BaseStation::OnFhjs(Handset& handset, std::int64_t nowMs) {
  if (handset.ackPending) {
    handset.ackPending = false;
    return;
  }
  if (handset.wait != Handset::Wait::Reply) {
    ++unexpectedFhjs_;
    OnRepeatedFhjs(handset, nowMs);
    return;
  }
  ++handset.answered;
  handset.wait = Handset::Wait::Ready;
  const int think = options_.thinkMs / 2 +
                    std::uniform_int_distribution<int>(0, std::max(0, options_.thinkMs))(random_);
  handset.readyAt = nowMs + think;
  handset.answeredAt = nowMs;
  handset.answeredSentTwice = handset.waitingFault == Fault::Duplicate;
  if (handset.answeredSentTwice) {
    handset.readyAt = std::max(handset.readyAt, nowMs + kSettleAfterDuplicateMs);
  }
  log_.Event(nowMs, "answered " + Number3(handset.number) + " " + handset.waitingCode);
  log_.Info("handset " + Number3(handset.number) + " request [" + handset.waitingCode +
            "] answered");
}

// "FHJS" while the handset waits for nothing. Soon after an answer it is that
// answer again: the program passed on both copies of a message sent twice (an
// order placed twice), or delivered one reply twice.
void BaseStation::OnRepeatedFhjs(Handset& handset, std::int64_t nowMs) {
  std::string why;
  if (handset.answeredAt >= 0 && nowMs - handset.answeredAt < kRepeatWindowMs) {
    if (handset.answeredSentTwice) {
      ++ordersDuplicated_;
      why = ": the program passed on both copies of [" + handset.waitingCode +
            "], which the handset sent twice";
    } else {
      ++repliesRepeated_;
      why = ": the reply to [" + handset.waitingCode + "] came a second time";
    }
    log_.Event(nowMs, std::string(handset.answeredSentTwice ? "duplicated " : "repeated ") +
                          Number3(handset.number) + " " + handset.waitingCode);
  }
  Problem("handset " + Number3(handset.number) + " got \"FHJS\" while it waited for no reply" +
          why);
}

void BaseStation::OnTimeAnswer(Handset& handset, const std::string& payload, std::int64_t nowMs) {
  if (const auto named = TimeAnswerInstant(payload); !named) {
    ++timeBad_;
    Problem("time answer to " + Number3(handset.number) + " is no date and time: " + Hex(payload));
  } else {
    const double off = std::difftime(*named, options_.wallClock());
    if (off < -5 || off > 5) {
      ++timeBad_;
      Problem("time answer to " + Number3(handset.number) + " is " +
              std::to_string(static_cast<int>(off)) + " s off the local time: " + Hex(payload));
    }
  }
  if (handset.wait != Handset::Wait::Time) {
    ++timeMisaddressed_;
    log_.Info("time answer to " + Number3(handset.number) + ", which asked for no time");
    return;
  }
  ++handset.timeAnswers;
  handset.wait = Handset::Wait::Ready;
  handset.readyAt = nowMs;
}

void BaseStation::OnLinkTest(std::uint8_t address, const std::string& payload, std::int64_t nowMs) {
  if (payload != std::string(kTestPatternLength, 'Z')) {
    ++badPattern_;
    Problem("link test frame to " + Number3(address) + " is not 53 letters Z: " + Hex(payload));
  }
  Handset* handset = Find(address);
  if (handset == nullptr) return;
  ++handset->tests;
  if (Chance(options_.echoLoss)) {
    ++handset->dropped;
    log_.Info("handset " + Number3(address) + " link test frame lost on the air");
    return;
  }
  std::string echo = payload;
  if (!echo.empty() && Chance(options_.echoCorrupt)) {
    ++handset->corrupted;
    echo[std::uniform_int_distribution<std::size_t>(0, echo.size() - 1)(random_)] = 'Y';
  }
  ++handset->echoed;
  QueueMessage(address, "TXCS", std::string(1, static_cast<char>(address)) + echo,
               nowMs + options_.echoDelayMs, std::nullopt);
}

}  // namespace orderlink::basesim
