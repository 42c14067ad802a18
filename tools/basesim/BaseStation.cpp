#include "BaseStation.h"

#include <algorithm>
#include <cstdio>

#include "Records.h"
#include "common/Gbk.h"
#include "link/FrameCodec.h"

namespace orderlink::basesim {

namespace {

constexpr std::string_view kConfigAck{"\xFF\xAA\x55\x32\xCD", 5};
constexpr std::size_t kTestPatternLength = 53;
constexpr int kQuietFlushMs =
    500;  // the PC writes a frame in one go; a pause inside one is a fault
constexpr int kMinPacketGapMs = 120;  // the PC pauses 150 ms between packets of one message
constexpr int kSettingsWaitMs =
    3000;  // the PC sends its record within a tick of the acknowledgement
constexpr std::size_t kMaxResendGroups = 40;
constexpr std::size_t kMaxResendRecords = 500;

std::string Hex(std::string_view bytes) {
  std::string out;
  char text[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(text, sizeof text, i == 0 ? "%02X" : " %02X",
                  static_cast<unsigned char>(bytes[i]));
    out += text;
  }
  return out;
}

// GBK text for the log: UTF-8, control bytes shown as '.'.
std::string Show(std::string_view gbk) {
  std::string text = GbkToUtf8(gbk);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = '.';
  }
  return text;
}

std::string Number3(int n) { return ZeroPadded(n, 3); }

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

template <typename T>
bool Contains(const std::vector<T>& list, T value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

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

// ---- line in -------------------------------------------------------------

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
  if (parser_.ExpectingSettingsRecord() && nowMs >= settingsUntil_) {
    parser_.ExpectSettingsRecord(false);
    Problem("config: no settings record within " + std::to_string(kSettingsWaitMs) +
            " ms of the acknowledgement");
  }
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
      if (Handset* handset = Find(frame.address)) OnReply(*handset, "DM  ", "");
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

// ---- requests and replies --------------------------------------------------

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

// ---- link test ---------------------------------------------------------------

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

// ---- download ------------------------------------------------------------------

void BaseStation::OnQbks(const std::string& payload) {
  ++session_.qbksFrames;
  if (session_.active && payload == session_.qbks) return;  // one of the ten copies
  const bool wellFormed = payload.size() >= 7 && AllDigits(payload.substr(0, 7)) &&
                          payload.size() == 7 + 4 * std::stoul(payload.substr(5, 2));
  if (!wellFormed) {
    ++rejects_;
    Problem("reject: \"QBKS\" payload is not count, table count and tags: " + Hex(payload));
    return;
  }
  if (session_.active) Problem("a new \"QBKS\" while a download runs: the old one is abandoned");
  if (session_.active) EndSession("abandoned");
  Session next;
  next.active = true;
  next.ever = true;
  next.qbks = payload;
  next.qbksFrames = 1;
  next.total = std::stoi(payload.substr(0, 5));
  for (std::size_t i = 7; i < payload.size(); i += 4) {
    next.tags.push_back(payload.substr(i, 4));
    if (!IsTableTag(next.tags.back()))
      Problem("\"QBKS\" names an unknown table tag [" + next.tags.back() + "]");
  }
  if (options_.loadJobFile) {
    if (auto lines = options_.loadJobFile()) {
      if (static_cast<int>(lines->size()) != next.total) {
        Problem("\"QBKS\" announces " + std::to_string(next.total) +
                " records, the job file holds " + std::to_string(lines->size()));
      }
      next.expected.emplace(1);
      for (const auto& line : *lines) next.expected->push_back(WireForm(line));
    } else {
      Problem("the job file could not be read; records are checked by their form only");
    }
  }
  session_ = std::move(next);
  for (auto& [number, handset] : handsets_) {
    Download& download = handset.download;
    const bool takesPart = download.takesPart;
    download = Download{};
    download.takesPart = takesPart;
    download.have.assign(static_cast<std::size_t>(session_.total) + 1, false);
    if (session_.expected) {
      // Lines with no record data are never sent, so a handset does not miss them.
      for (int r = 1; r <= session_.total && r < static_cast<int>(session_.expected->size()); ++r) {
        if ((*session_.expected)[r].size() <= 12) download.have[r] = true;
      }
    }
  }
  log_.Info("download starts: " + std::to_string(session_.total) + " records of " +
            std::to_string(session_.tags.size()) + " tables");
}

void BaseStation::OnQbjs() {
  ++session_.qbjsFrames;
  if (session_.active) EndSession("ended");
}

void BaseStation::EndSession(const std::string& why) {
  session_.active = false;
  for (auto& [number, handset] : handsets_) {
    Download& download = handset.download;
    if (!download.takesPart || download.outcome != "none") continue;
    download.outcome = why == "abandoned" ? "abandoned" : "incomplete";
  }
  log_.Info("download " + why);
}

void BaseStation::OnRecord(std::uint8_t address, const std::string& head, const std::string& tag,
                           const std::string& data) {
  const int number = std::stoi(head.substr(0, 5));
  const std::string jobLine = head.substr(5, 8) + tag + data;
  if (!session_.ever) {
    ++rejects_;
    Problem("reject: record " + head.substr(0, 5) + " [" + tag + "] outside a download");
    return;
  }
  std::string fault;
  if (number < 1 || number > session_.total) {
    fault = "record number outside 1.." + std::to_string(session_.total);
  } else if (!Contains(session_.tags, tag)) {
    fault = "tag not announced by \"QBKS\"";
  } else if (session_.expected && number < static_cast<int>(session_.expected->size())) {
    if (jobLine != (*session_.expected)[number]) {
      fault = "differs from job line " + std::to_string(number) + " \"" +
              Show((*session_.expected)[number]) + "\"";
    }
  } else if (std::stoi(head.substr(9, 4)) > std::stoi(head.substr(5, 4))) {
    fault = "position beyond the table's line count";
  } else if (const auto length = WireDataLength(tag);
             length && data.size() != *length && !(tag == "JDMC" && head.substr(9, 4) != "0001")) {
    fault = "record data of " + std::to_string(data.size()) + " bytes, expected " +
            std::to_string(*length);
  }
  if (!fault.empty()) {
    Problem("record " + head.substr(0, 5) + " [" + tag + "] to " + Number3(address) + ": " + fault +
            ": \"" + Show(jobLine) + "\"");
  }

  if (address == 0) {
    ++session_.broadcastRecords;
    if (number <= session_.lastRecord) {
      Problem("record " + head.substr(0, 5) + " broadcast after record " +
              std::to_string(session_.lastRecord));
    }
    session_.lastRecord = number;
    if (!session_.active)
      Problem("record " + head.substr(0, 5) + " broadcast after the download ended");
    for (auto& [n, handset] : handsets_) {
      Download& download = handset.download;
      if (!download.takesPart || number < 1 || number > session_.total) continue;
      if (Chance(options_.recordLoss)) {
        ++download.lostOnAir;
        continue;
      }
      if (!fault.empty()) ++download.bad;
      download.have[number] = download.have[number] || fault.empty();
    }
    return;
  }
  Handset* handset = Find(address);
  if (handset == nullptr) return;
  Download& download = handset->download;
  if (!download.resendOpen) {
    ++rejects_;
    Problem("reject: record " + head.substr(0, 5) + " to " + Number3(address) +
            " outside \"CCKS\"/\"CCJS\"");
    return;
  }
  ++download.resent;
  if (number < 1 || number > session_.total || Chance(options_.resendLoss)) return;
  if (!fault.empty()) ++download.bad;
  download.have[number] = download.have[number] || fault.empty();
}

void BaseStation::OnStatusQuery(Handset& handset, std::int64_t nowMs) {
  Download& download = handset.download;
  ++download.statusQueries;
  if (!download.takesPart || !session_.ever) {
    log_.Info("handset " + Number3(handset.number) +
              " takes no part in a download: no answer to \"XZDM\"");
    return;
  }
  if (download.resendOpen)
    Problem("\"XZDM\" to " + Number3(handset.number) + " inside an open resend");
  const std::string self(1, static_cast<char>(handset.number));
  const std::int64_t due = nowMs + options_.answerDelayMs;
  if (Contains(options_.failHandsets, handset.number)) {
    download.outcome = "failed";
    QueueMessage(handset.number, "XZSB", self, due, std::nullopt);
    return;
  }
  const std::string ranges = MissingRanges(download.have, kMaxResendGroups, kMaxResendRecords);
  if (ranges.empty()) {
    download.outcome = "complete";
    QueueMessage(handset.number, "XZWC", self, due, std::nullopt);
  } else {
    ++download.xzcc;
    QueueMessage(handset.number, "XZCC", self + ranges, due, std::nullopt);
  }
}

// ---- base station configuration ------------------------------------------------

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

// ---- line out ------------------------------------------------------------------

void BaseStation::QueueMessage(std::uint8_t handset, const std::string& code,
                               const std::string& content, std::int64_t dueMs,
                               std::optional<Fault> fault) {
  std::vector<std::string> packets;
  std::uint8_t address = 0xFF;
  std::uint8_t firstSequence = 1;
  if (fault == Fault::Address) address = static_cast<std::uint8_t>(handset == 5 ? 6 : 5);
  if (fault == Fault::Sequence) firstSequence = 2;
  std::size_t pos = 0;
  do {
    const std::size_t length = std::min(options_.maxBody, content.size() - pos);
    const bool more = pos + length < content.size();
    const auto sequence = static_cast<std::uint8_t>(firstSequence + packets.size());
    packets.push_back(
        LongPacket(options_.route, address, sequence, more, code, content.substr(pos, length)));
    pos += length;
  } while (pos < content.size());
  for (const auto& packet : packets) {
    if (packet.find(std::string_view("\0\0\0", 3), 3) != std::string::npos) {
      Problem("internal: a frame of handset " + Number3(handset) + " holds three zero bytes");
    }
  }
  std::string what = "[" + code + "] from " + Number3(handset) + " \"" +
                     Show(content.substr(std::min<std::size_t>(1, content.size()))) + "\"";
  if (fault == Fault::Garbage) {
    std::string garbage;
    const int n = std::uniform_int_distribution<int>(3, 20)(random_);
    for (int i = 0; i < n; ++i)
      garbage.push_back(static_cast<char>(std::uniform_int_distribution<int>(0x20, 0x7E)(random_)));
    Queue(Outgoing{dueMs, {garbage}, "fault: garbage " + Hex(garbage), false});
  } else if (fault == Fault::Crc) {
    const std::string crc = LongPacket(options_.route, 0xFF, 1, false, "CRCE",
                                       std::string(1, static_cast<char>(handset)) + "ERR");
    Queue(Outgoing{dueMs, {crc}, "fault: \"CRC\" frame", true});
  }
  if (fault == Fault::Sequence) what = "fault: out of sequence " + what;
  if (fault == Fault::Address) what = "fault: wrong address " + what;
  for (auto& packet : packets) {
    Outgoing item{dueMs, {}, what, true};
    if (fault == Fault::Split && packet.size() > 3) {
      // The same bytes in pieces, as a slow line delivers them.
      std::size_t at = 0;
      while (at < packet.size()) {
        const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 7)(random_);
        item.chunks.push_back(packet.substr(at, n));
        at += n;
      }
      item.what = "split " + what;
    } else {
      item.chunks.push_back(std::move(packet));
    }
    Queue(std::move(item));
  }
}

void BaseStation::Queue(Outgoing item) {
  auto it = std::find_if(queue_.begin(), queue_.end(),
                         [&](const Outgoing& o) { return o.dueMs > item.dueMs; });
  queue_.insert(it, std::move(item));
}

std::optional<Outgoing> BaseStation::TakeDue(std::int64_t nowMs) {
  if (queue_.empty() || queue_.front().dueMs > nowMs) return std::nullopt;
  Outgoing item = std::move(queue_.front());
  queue_.pop_front();
  if (item.framed) pcRoute_ = options_.route;
  log_.Info("tx " + item.what);
  return item;
}

std::optional<std::int64_t> BaseStation::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  return queue_.front().dueMs;
}

// ---- summary ---------------------------------------------------------------------

std::vector<std::string> BaseStation::Summary() const {
  int requests = 0, answered = 0, lost = 0, pending = 0, replies = 0, unexpected = 0;
  int timeQueries = 0, timeAnswers = 0, timeLost = 0, tests = 0, echoed = 0, corrupted = 0,
      dropped = 0;
  std::vector<std::string> lines;
  for (const auto& [number, h] : handsets_) {
    requests += h.requests;
    answered += h.answered;
    lost += h.lost;
    pending += h.wait == Handset::Wait::Reply ? 1 : 0;
    replies += h.replyLines;
    unexpected += h.unexpected;
    timeQueries += h.timeQueries;
    timeAnswers += h.timeAnswers;
    timeLost += h.timeLost;
    tests += h.tests;
    echoed += h.echoed;
    corrupted += h.corrupted;
    dropped += h.dropped;
  }
  char text[512];
  std::snprintf(text, sizeof text,
                "summary: requests=%d answered=%d lost=%d pending=%d replies=%d fhjs=%d "
                "unexpected_replies=%d "
                "unexpected_fhjs=%d polls=%d roll_calls=%d short_messages=%d short_message_acks=%d "
                "time_queries=%d time_answers=%d time_lost=%d time_misaddressed=%d time_bad=%d "
                "foreign_frames=%d faults_injected=%d rejects=%d route_errors=%d "
                "timing_warnings=%d problems=%d",
                requests, answered, lost, pending, replies, answered, unexpected, unexpectedFhjs_,
                polls_, rollCalls_, shortMessages_, shortAcks_, timeQueries, timeAnswers, timeLost,
                timeMisaddressed_, timeBad_, foreign_, faultsInjected_, rejects_, routeErrors_,
                timingWarnings_, problems_);
  lines.emplace_back(text);
  for (const auto& [number, h] : handsets_) {
    std::snprintf(text, sizeof text,
                  "handset: number=%03d requests=%d answered=%d lost=%d replies=%d time_queries=%d "
                  "time_answers=%d",
                  number, h.requests, h.answered, h.lost, h.replyLines, h.timeQueries,
                  h.timeAnswers);
    lines.emplace_back(text);
  }
  std::snprintf(text, sizeof text,
                "linktest: frames=%d echoed=%d corrupted=%d dropped=%d bad_pattern=%d", tests,
                echoed, corrupted, dropped, badPattern_);
  lines.emplace_back(text);
  if (session_.ever || session_.qbjsFrames > 0) {
    std::snprintf(text, sizeof text,
                  "download: records=%d tables=%zu qbks=%d qbjs=%d broadcast=%d polls_during=%d",
                  session_.total, session_.tags.size(), session_.qbksFrames, session_.qbjsFrames,
                  session_.broadcastRecords, pollsInDownload_);
    lines.emplace_back(text);
    for (const auto& [number, h] : handsets_) {
      const Download& d = h.download;
      if (!d.takesPart) continue;
      const int have = static_cast<int>(
          std::count(d.have.begin() + (d.have.empty() ? 0 : 1), d.have.end(), true));
      std::snprintf(
          text, sizeof text,
          "download: handset=%03d outcome=%s records=%d/%d lost_on_air=%d bad=%d resent=%d "
          "status_queries=%d xzcc=%d",
          number, d.outcome.c_str(), have, session_.total, d.lostOnAir, d.bad, d.resent,
          d.statusQueries, d.xzcc);
      lines.emplace_back(text);
    }
  }
  if (configRequests_ > 0) {
    std::snprintf(text, sizeof text, "config: requests=%d acks=%d settings=%d", configRequests_,
                  configAcks_, settingsRecords_);
    lines.emplace_back(text);
  }
  return lines;
}

}  // namespace orderlink::basesim
