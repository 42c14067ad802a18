// A menu download as the handsets see it: "QBKS" opens the session, broadcast
// records are kept or lost on the air, "XZDM" is answered with what is missing,
// records re-sent between "CCKS" and "CCJS" fill the gaps, "QBJS" ends it.

#include <algorithm>

#include "BaseStation.h"
#include "Records.h"
#include "StationText.h"

namespace orderlink::basesim {

namespace {

constexpr std::size_t kMaxResendGroups = 40;
constexpr std::size_t kMaxResendRecords = 500;

}  // namespace

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

}  // namespace orderlink::basesim
