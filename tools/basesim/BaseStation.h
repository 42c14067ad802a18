#pragma once
// A base station with its handsets, as the PC sees it from the other end of the
// line. Pure logic: bytes from the PC go in with the time they arrived, frames for
// the PC come out with the time they are due. The caller owns the line, the clock
// and the pacing.
//
// Handsets answer polls with requests (a log-in first), wait for the reply lines
// and "FHJS", ask for the time, echo link-test frames, take part in a menu download
// (records lost on the air at a configurable rate, re-sent ranges between "CCKS" and
// "CCJS"), and the station answers a configuration request when its switch is set.
// Everything the PC sends is checked strictly; every deviation is reported through
// the log's Problem and counted.
//
// Field faults on top of the bad packets: noise bursts before an answer, a late
// station, a handset that vanishes in the middle of its message and comes back
// later, a handset that sends its message twice; the line itself hangs up
// (OnHangUp, driven by the caller that owns the line). Every lost request is kept
// with its cause, and the cause says whether the program is to blame.
//
// One class, its parts in files by concern: BaseStation.cpp routes each frame,
// PacketAssembly.cpp joins packets, HandsetTraffic.cpp, DownloadSession.cpp and
// StationConfig.cpp play the handsets, the download and the station,
// OutgoingQueue.cpp holds the frames for the PC, StationSummary.cpp counts.
// Not thread-safe: one thread (the simulator's loop) calls everything.

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "PcFrameParser.h"
#include "RequestGenerator.h"

namespace orderlink::basesim {

// Faults picked when a handset answers a poll. Garbage..Split spoil the answer's
// frame; Burst puts line noise before it, LateStation delays it, Vanish cuts the
// message after its first packet (or, for a one-packet message, before the reply)
// and keeps the handset away, Duplicate sends the message a second time.
enum class Fault { Garbage, Crc, Sequence, Address, Split, Burst, LateStation, Vanish, Duplicate };

// The name used on the command line and in the summary ("late-station").
[[nodiscard]] const char* FaultName(Fault fault);

struct StationOptions {
  std::vector<std::uint8_t> handsets;
  std::uint32_t seed = 1;
  std::uint8_t route = 0xC0;   // route byte of every frame the station sends
  std::size_t maxBody = 54;    // body bytes per packet of a handset's message (1..248)
  int thinkMs = 500;           // mean pause of a handset between a reply and its next request
  int answerDelayMs = 20;      // radio delay before a handset's frame reaches the line
  int replyTimeoutMs = 16000;  // a request without "FHJS" by then is lost
  int timeTimeoutMs = 3000;    // a time query without answer by then is lost
  int requestLimit = -1;       // requests per handset; -1: no limit
  double timeQueryRate = 0.1;
  std::vector<std::string> dishCodes;
  // Download.
  std::vector<std::uint8_t> downloadHandsets;  // empty: every handset takes part
  std::vector<std::uint8_t> failHandsets;      // answer "XZSB"
  double recordLoss = 0.0;                     // broadcast records missed
  double resendLoss = 0.0;                     // re-sent records missed
  std::function<std::optional<std::vector<std::string>>()> loadJobFile;  // join.txt lines, or none
  // Link test.
  double echoLoss = 0.0;
  double echoCorrupt = 0.0;
  int echoDelayMs = 30;
  // Configuration switch of the station.
  bool configSwitch = false;
  // Faults injected when a handset answers a poll.
  double faultRate = 0.0;
  std::vector<Fault> faults;
  std::size_t burstBytes = 32;  // noise bytes of a burst
  int stationLateMs = 400;      // answer delay of a late station
  int vanishMs = 20000;         // how long a vanished handset stays away
  // Wall clock for checking time answers.
  std::function<std::time_t()> wallClock = [] { return std::time(nullptr); };
};

class StationLog {
 public:
  virtual ~StationLog() = default;
  virtual void Info(const std::string& line) = 0;     // every frame, only when verbose
  virtual void Problem(const std::string& line) = 0;  // what the PC got wrong; always shown
  virtual void Result(const std::string& line) = 0;   // machine-readable results (stdout)
  // A timed event for the record of a run ("request 007 DC  "), at the station's
  // clock `atMs`. Ignored unless a log keeps a record.
  virtual void Event(std::int64_t atMs, const std::string& what) {
    (void)atMs;
    (void)what;
  }
};

struct Outgoing {
  std::int64_t dueMs = 0;
  std::vector<std::string> chunks;  // written one after the other; several when split on purpose
  std::string what;                 // for the log
  bool framed = true;               // starts with a preamble, so the PC takes its route byte
};

class BaseStation {
 public:
  BaseStation(StationOptions options, StationLog& log);

  void OnBytes(std::string_view bytes, std::int64_t nowMs);
  // Time passes: a frame left incomplete on a quiet line is reported, an unanswered
  // configuration acknowledgement expires.
  void OnTick(std::int64_t nowMs);
  // The line hung up (pulled on purpose by the caller): frames not yet written and
  // a message half read are gone; requests still waiting for their reply are
  // marked, so that losing them is put down to the line.
  void OnHangUp(std::int64_t nowMs);
  // The line is back after a hang-up.
  void OnLineBack(std::int64_t nowMs);
  // The next frame whose time has come, if any; in order of due time.
  [[nodiscard]] std::optional<Outgoing> TakeDue(std::int64_t nowMs);
  [[nodiscard]] std::optional<std::int64_t> NextDue() const;

  // Summary lines ("summary: requests=12 answered=12 lost=0 ...", then "faults:",
  // "losses:" and one "lost:" line per lost request).
  [[nodiscard]] std::vector<std::string> Summary() const;
  // Number of deviations reported through Problem.
  [[nodiscard]] int Problems() const { return problems_; }

 private:
  struct Download {
    bool takesPart = false;
    std::vector<bool> have;  // index = record number
    int lostOnAir = 0;
    int bad = 0;
    int resent = 0;
    int statusQueries = 0;
    int xzcc = 0;
    bool resendOpen = false;
    std::string outcome = "none";  // none, complete, failed, incomplete
  };
  struct Handset {
    Handset(std::uint8_t n, RequestGenerator g) : number(n), generator(std::move(g)) {}
    std::uint8_t number = 0;
    RequestGenerator generator;
    enum class Wait { Ready, Reply, Time } wait = Wait::Ready;
    std::int64_t since = 0;
    std::int64_t readyAt = 0;
    std::optional<HandsetRequest> retry;  // request whose frame was spoiled on purpose
    std::string waitingCode;
    std::optional<Fault> waitingFault;  // field fault that went with the request waited for
    bool waitingAfterHangUp = false;    // the line hung up while the request waited
    std::int64_t goneUntil = 0;         // vanished: hears and says nothing until then
    std::int64_t answeredAt = -1;       // when the last request was answered
    bool answeredSentTwice = false;     // ... and whether that request went out twice
    int requestsLeft = -1;
    bool ackPending = false;
    int requests = 0, answered = 0, lost = 0, replyLines = 0, unexpected = 0;
    int timeQueries = 0, timeAnswers = 0, timeLost = 0;
    int tests = 0, echoed = 0, corrupted = 0, dropped = 0;
    Download download;
  };
  // Why a request went without its reply, and whether the program is to blame.
  struct LostRequest {
    std::uint8_t handset = 0;
    std::string code;
    std::int64_t atMs = 0;
    std::string cause;  // vanish, hangup, burst, duplicate, late-station, no-answer
    bool programsFault = false;
  };
  struct Assembly {
    std::uint8_t address = 0;
    std::uint8_t route = 0;
    std::string code;
    std::string recordHead;  // record number, count, position of a record
    bool record = false;
    std::uint8_t nextSequence = 0;
    std::vector<std::size_t> pieces;
    std::string payload;
    std::int64_t lastMs = 0;
  };
  struct Session {
    bool active = false;
    bool ever = false;
    std::string qbks;
    int total = 0;
    std::vector<std::string> tags;
    std::optional<std::vector<std::string>>
        expected;  // wire data per record number (index 0 unused)
    int qbksFrames = 0;
    int qbjsFrames = 0;
    int broadcastRecords = 0;
    int lastRecord = 0;
  };

  // Front (BaseStation.cpp): frames routed to the parts below.
  void Problem(const std::string& line);
  void Handle(const PcFrame& frame, std::int64_t nowMs);
  void Deliver(const Assembly& message, std::int64_t nowMs);
  void CheckRoute(const std::string& code, std::uint8_t route, bool ownInitiative, bool either);
  bool Chance(double rate);
  Handset* Find(std::uint8_t number);

  // Packets joined into messages and records (PacketAssembly.cpp).
  void HandleLong(const PcFrame& frame, std::int64_t nowMs);

  // Handset traffic (HandsetTraffic.cpp).
  void OnPoll(std::uint8_t address, std::int64_t nowMs);
  std::optional<Fault> PickFault();
  void SendRequest(Handset& handset, const HandsetRequest& request, std::int64_t nowMs);
  void OnReply(Handset& handset, const std::string& code, const std::string& payload);
  void OnFhjs(Handset& handset, std::int64_t nowMs);
  void OnTimeAnswer(Handset& handset, const std::string& payload, std::int64_t nowMs);
  void OnLinkTest(std::uint8_t address, const std::string& payload, std::int64_t nowMs);
  void Vanish(Handset& handset, const HandsetRequest& request, const std::string& content,
              std::int64_t dueMs, std::int64_t nowMs);
  void LoseRequest(Handset& handset, const std::string& cause, std::int64_t nowMs);
  void OnRepeatedFhjs(Handset& handset, std::int64_t nowMs);

  // Download session (DownloadSession.cpp).
  void OnQbks(const std::string& payload);
  void OnQbjs();
  void OnRecord(std::uint8_t address, const std::string& head, const std::string& tag,
                const std::string& data);
  void OnStatusQuery(Handset& handset, std::int64_t nowMs);
  void EndSession(const std::string& why);

  // Station configuration (StationConfig.cpp).
  void OnConfigRequest(std::int64_t nowMs);
  void OnSettingsRecord(const std::string& record);
  // The settings record did not follow the acknowledgement in time: reported once.
  void ExpireSettingsWait(std::int64_t nowMs);

  // Frames for the PC (OutgoingQueue.cpp).
  // Queues a message from a handset (content = handset byte + payload; empty for a
  // header-only frame), cut into packets of at most maxBody body bytes.
  void QueueMessage(std::uint8_t handset, const std::string& code, const std::string& content,
                    std::int64_t dueMs, std::optional<Fault> fault);
  void Queue(Outgoing item);

  StationOptions options_;
  StationLog& log_;
  PcFrameParser parser_;
  std::mt19937 random_;
  std::map<std::uint8_t, Handset> handsets_;
  std::deque<Outgoing> queue_;
  std::optional<Assembly> assembly_;
  Session session_;
  std::uint8_t pcRoute_ = 0xC0;  // the route byte the PC should be holding
  std::int64_t lastRxMs_ = 0;
  std::int64_t settingsUntil_ = 0;
  int problems_ = 0;
  // Counters of the line.
  int polls_ = 0, rollCalls_ = 0, rejects_ = 0, routeErrors_ = 0, timingWarnings_ = 0;
  int foreign_ = 0, shortMessages_ = 0, shortAcks_ = 0, timeMisaddressed_ = 0, timeBad_ = 0;
  int unexpectedFhjs_ = 0, badPattern_ = 0, faultsInjected_ = 0, pollsInDownload_ = 0;
  int configRequests_ = 0, configAcks_ = 0, settingsRecords_ = 0;
  // Field faults and what came of them.
  std::map<Fault, int> faultCounts_;
  int hangUps_ = 0, unheard_ = 0, ordersDuplicated_ = 0, repliesRepeated_ = 0;
  std::vector<LostRequest> lostRequests_;
};

}  // namespace orderlink::basesim
