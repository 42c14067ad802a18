// Request records: any payload of any request kind gives a record of the right
// shape (line count, first line, fixed line widths in bytes), and the dispatch
// writes exactly that record to T1.txt and tells the host once.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "common/Clock.h"
#include "common/HostLink.h"
#include "link/LineWorker.h"
#include "service/RequestDispatch.h"
#include "service/RequestRecords.h"

namespace orderlink {
namespace {

class IdleWorker final : public LineWorker {
 public:
  using LineWorker::LineWorker;

 protected:
  void Execute() override {}
};

class CountingHost final : public HostLink {
 public:
  void Notify(int code) override { codes.push_back(code); }
  std::vector<int> codes;
};

class RecordingMarker final : public SwitchOnMarker {
 public:
  void MarkSwitchedOn(const std::string& text) override { marked.push_back(text); }
  std::vector<std::string> marked;
};

// Byte width of every line after the first: the fields are fixed-width, the "%-Ns"
// and "%Ns" widths cover the fields read up to a zero byte, except in "TC  " (D)
// and "ZSCP" (D), which add 0 to 4 bytes.
struct LineWidth {
  std::string_view code;
  std::size_t least;
  std::size_t most;
};
constexpr LineWidth kLineWidths[] = {
    {"DL  ", 24, 24}, {"KT  ", 13, 13}, {"HT  ", 15, 15}, {"CT  ", 7, 7},   {"XGTT", 13, 13},
    {"YDKT", 13, 13}, {"ZDCX", 7, 7},   {"KHYQ", 20, 20}, {"DYDC", 7, 7},   {"CPCC", 13, 13},
    {"CLCC", 16, 16}, {"ZZCC", 7, 7},   {"THYD", 4, 4},   {"LBKX", 2, 2},   {"THKX", 4, 4},
    {"YDHZ", 0, 0},   {"KXHZ", 0, 0},   {"DC  ", 45, 45}, {"TC  ", 35, 39}, {"JC  ", 58, 58},
    {"ZSCP", 24, 28}, {"XGMM", 17, 17},
};

std::size_t ExpectedLineCount(std::string_view code, std::size_t payloadSize) {
  if (code == "YDHZ" || code == "KXHZ") return 1;
  if (code == "DC  ") return 1 + (payloadSize > 10 ? (payloadSize - 10 + 31) / 32 : 0);
  return 2;
}

void CheckRecordShape(int kind, std::string_view payload, const std::vector<std::string>& lines) {
  const std::string_view code = RequestCodeTable[kind - kFirstRequestKind];
  fuzz::Require(lines.size() == ExpectedLineCount(code, payload.size()), "record line count");
  std::string handsetText(payload.substr(0, 3));
  handsetText.resize(3, ' ');
  fuzz::Require(lines[0] == std::string(code) + ' ' + handsetText,
                "first line is code and handset");
  const LineWidth& width = kLineWidths[kind - kFirstRequestKind];
  fuzz::Require(width.code == code, "width table in request table order");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    fuzz::Require(lines[i].size() >= width.least && lines[i].size() <= width.most,
                  "record line width");
  }
  if (code == "DC  ") {
    std::string head(payload.substr(0, 10));
    head.resize(10, ' ');
    for (std::size_t i = 1; i < lines.size(); ++i) {
      fuzz::Require(lines[i].compare(0, 8, head.substr(3, 7) + ' ') == 0,
                    "item line starts with the head");
    }
  }
}

}  // namespace
}  // namespace orderlink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orderlink;
  static const fuzz::ScratchAppDir appDir;
  if (size == 0) return 0;
  const int kind = kFirstRequestKind + data[0] % static_cast<int>(RequestCodeTable.size());
  const std::string_view payload(reinterpret_cast<const char*>(data) + 1, size - 1);

  const std::vector<std::string> lines = BuildRequestRecord(kind, payload);
  CheckRecordShape(kind, payload, lines);

  VirtualClock clock;
  IdleWorker worker(clock);
  CountingHost host;
  RecordingMarker marker;
  const TxtDir txt = appDir.Txt();
  const std::string_view code = RequestCodeTable[kind - kFirstRequestKind];
  DispatchRequest(worker, RequestFrame{CommandText(code), payload}, txt, host, &marker);
  fuzz::Require(host.codes == std::vector<int>{NotifyRequest}, "the host is told once");
  fuzz::Require(worker.HoldOff.load() == 15000, "polling waits for the host's reply");
  fuzz::Require(marker.marked.size() == (kind == kLoginKind ? 1u : 0u),
                "only a login marks the handset");
  const auto written = ReadFileBytes(txt.Path() / "T1.txt");
  std::string expected;
  for (const auto& line : lines) expected += line + "\r\n";
  fuzz::Require(written && *written == expected, "T1.txt holds the record");
  return 0;
}
