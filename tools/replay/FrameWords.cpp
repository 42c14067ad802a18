#include "replay/FrameWords.h"

#include <algorithm>
#include <cstdio>

#include "common/Gbk.h"
#include "download/DownloadTables.h"

namespace orderlink::replay {

namespace {

std::string Hex2(unsigned value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

// The text of a body: GBK as UTF-8, control bytes as \xHH.
std::string Text(std::string_view gbk) {
  std::string out;
  for (const char c : GbkToUtf8(gbk)) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte < 0x20 ? "\\x" + Hex2(byte) : std::string(1, c);
  }
  return "\"" + out + "\"";
}

const DownloadTable* TableOfTag(std::string_view code) {
  const auto* found = std::find_if(kDownloadTables.begin(), kDownloadTables.end(),
                                   [&](const DownloadTable& table) { return code == table.tag; });
  return found == kDownloadTables.end() ? nullptr : found;
}

bool Digits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string HexBytes(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && i < 48; ++i) {
    if (i > 0) out += ' ';
    out += Hex2(static_cast<unsigned char>(bytes[i]));
  }
  if (bytes.size() > 48) out += " ... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

std::string FrameInWords(const basesim::PcFrame& frame) {
  using Kind = basesim::PcFrame::Kind;
  switch (frame.kind) {
    case Kind::Poll:
      return "poll, route " + Hex2(frame.route) + ", handset " + std::to_string(frame.address);
    case Kind::RollCall:
      return "roll call, handset " + std::to_string(frame.address);
    case Kind::ConfigRequest:
      return "base-station configuration request (" + HexBytes(frame.raw) + ")";
    case Kind::SettingsRecord:
      return "base-station settings record (" + HexBytes(frame.raw) + ")";
    case Kind::Rejected:
      return "bytes that are no frame (" + HexBytes(frame.raw) + ")";
    case Kind::Long:
      break;
  }
  std::string words =
      "long frame, route " + Hex2(frame.route) + ", type 02, length " +
      std::to_string(frame.body.size() + 7) + ", address " + std::to_string(frame.address) +
      (frame.address == 0 ? " (every handset)" : "") + ", sequence " +
      std::to_string(frame.sequence) + (frame.more ? " (more packets follow)" : " (last packet)") +
      ", code \"" + frame.code + "\"";
  const DownloadTable* table = TableOfTag(frame.code);
  if (table && frame.body.size() >= 13 && Digits(std::string_view(frame.body).substr(0, 5))) {
    return words + ", download record of " + table->fileName + " #" + frame.body.substr(0, 5) +
           ", line count " + frame.body.substr(5, 4) + ", position " + frame.body.substr(9, 4) +
           ", data " + Text(std::string_view(frame.body).substr(13));
  }
  if (frame.code == "SJCX" && !frame.body.empty()) return words + ", time " + HexBytes(frame.body);
  if (!frame.body.empty()) words += ", text " + Text(frame.body);
  return words;
}

}  // namespace orderlink::replay
