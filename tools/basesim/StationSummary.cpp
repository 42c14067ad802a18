// The summary lines printed when the simulator ends: counters of the line, of
// each handset, of the link test, the download and the configuration; the field
// faults injected and every lost request with its cause.

#include <algorithm>
#include <cstdio>
#include <map>

#include "BaseStation.h"

namespace orderlink::basesim {

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
  if (!options_.faults.empty() || hangUps_ > 0) {
    std::string faults = "faults: hangup=" + std::to_string(hangUps_);
    for (const Fault fault :
         {Fault::Garbage, Fault::Crc, Fault::Sequence, Fault::Address, Fault::Split, Fault::Burst,
          Fault::LateStation, Fault::Vanish, Fault::Duplicate}) {
      std::string name = FaultName(fault);
      std::replace(name.begin(), name.end(), '-', '_');
      const auto it = faultCounts_.find(fault);
      faults += " " + name + "=" + std::to_string(it == faultCounts_.end() ? 0 : it->second);
    }
    faults += " unheard_frames=" + std::to_string(unheard_);
    lines.push_back(faults);
    std::map<std::string, int> causes;
    int programs = 0;
    for (const LostRequest& lost : lostRequests_) {
      ++causes[lost.cause];
      programs += lost.programsFault ? 1 : 0;
    }
    std::string losses =
        "losses: program=" + std::to_string(programs) + " field=" + std::to_string(lost - programs);
    for (const char* cause :
         {"no-answer", "duplicate", "late-station", "vanish", "hangup", "burst"}) {
      std::string name = cause;
      std::replace(name.begin(), name.end(), '-', '_');
      losses += " " + name + "=" + std::to_string(causes[cause]);
    }
    losses += " orders_duplicated=" + std::to_string(ordersDuplicated_) +
              " replies_repeated=" + std::to_string(repliesRepeated_);
    lines.push_back(losses);
    for (const LostRequest& lost : lostRequests_) {
      std::snprintf(text, sizeof text, "lost: handset=%03d code=[%s] at_ms=%lld cause=%s by=%s",
                    lost.handset, lost.code.c_str(), static_cast<long long>(lost.atMs),
                    lost.cause.c_str(), lost.programsFault ? "program" : "field");
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
