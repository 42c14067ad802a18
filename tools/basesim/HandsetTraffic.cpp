// What the handsets do between polls: answer a poll with a request (or stay
// silent), take the reply lines and "FHJS", take time answers, and echo
// link-test frames.

#include <algorithm>
#include <ctime>

#include "BaseStation.h"
#include "StationText.h"

namespace orderlink::basesim {

namespace {

constexpr std::size_t kTestPatternLength = 53;

}  // namespace

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
  if (handset->wait == Handset::Wait::Reply) {
    if (nowMs - handset->since < options_.replyTimeoutMs) return;
    ++handset->lost;
    Problem("handset " + Number3(address) + ": request [" + handset->waitingCode +
            "] lost, no \"FHJS\" within " + std::to_string(options_.replyTimeoutMs) + " ms");
    handset->wait = Handset::Wait::Ready;
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
  const std::int64_t due = nowMs + options_.answerDelayMs;
  const std::string content =
      request.timeQuery ? std::string()
                        : std::string(1, static_cast<char>(handset.number)) + request.payload;
  const std::optional<Fault> fault = PickFault();
  if (fault == Fault::Sequence || fault == Fault::Address) {
    // The PC must throw this frame away; the handset sends the request again at its next poll.
    ++faultsInjected_;
    QueueMessage(handset.number, request.code, content, due, fault);
    handset.retry = request;
    return;
  }
  if (fault) ++faultsInjected_;
  QueueMessage(handset.number, request.code, content, due, fault);
  handset.since = due;
  handset.waitingCode = request.code;
  if (request.timeQuery) {
    ++handset.timeQueries;
    handset.wait = Handset::Wait::Time;
  } else {
    ++handset.requests;
    handset.wait = Handset::Wait::Reply;
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
    Problem("handset " + Number3(handset.number) + " got \"FHJS\" while it waited for no reply");
    return;
  }
  ++handset.answered;
  handset.wait = Handset::Wait::Ready;
  const int think = options_.thinkMs / 2 +
                    std::uniform_int_distribution<int>(0, std::max(0, options_.thinkMs))(random_);
  handset.readyAt = nowMs + think;
  log_.Info("handset " + Number3(handset.number) + " request [" + handset.waitingCode +
            "] answered");
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
