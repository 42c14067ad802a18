#include "app/ConfigFiles.h"

#include <algorithm>
#include <cctype>

#include "common/Gbk.h"
#include "common/TextFile.h"
#include "common/WholeNumber.h"

namespace orderlink {

namespace {

bool IsBlank(const std::string& line) {
  return std::all_of(line.begin(), line.end(),
                     [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; });
}

std::string LineRef(const char* file, std::size_t index) {
  return std::string(file) + "第" + std::to_string(index + 1) + "行：";
}

}  // namespace

BaseStationResult ParseBaseStationFile(const std::vector<std::string>& lines) {
  BaseStationResult result;
  BaseStationConfig config;
  int records = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (IsBlank(line)) continue;
    if (++records > 2) {
      result.error = LineRef(kBaseStationFile, i) + "基站文件最多只能有两行。";
      return result;
    }
    if (line.size() < 6 || line[5] < '1' || line[5] > '9') {
      result.error = LineRef(kBaseStationFile, i) + "第6个字符应是串口号1～9。";
      return result;
    }
    if (records == 1) {
      config.station = line[0];
      config.portName = line.substr(2, 4);
    }
    config.portNumber = line[5] - '0';
  }
  if (records == 0) {
    result.error = std::string(kBaseStationFile) + "文件是空的！";
    return result;
  }
  result.config = config;
  return result;
}

HandsetResult ParseHandsetFile(const std::vector<std::string>& lines, char station) {
  HandsetResult result;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.size() < 5 || line[4] != station) continue;
    const std::string text = line.substr(0, 3);
    if (!AllDigits(text)) {
      result.error = LineRef(kHandsetFile, i) + "机号“" + GbkToUtf8(text) + "”不是三位数字。";
      result.handsets.clear();
      return result;
    }
    const int number = *ParseWholeNumber(text);
    if (number > 255) {
      result.error = LineRef(kHandsetFile, i) + "机号" + text + "超出范围000～255。";
      result.handsets.clear();
      return result;
    }
    if (static_cast<int>(result.handsets.size()) == kMaxStationHandsets) {
      result.error = std::string(kHandsetFile) + "中本基站的点菜机超过" +
                     std::to_string(kMaxStationHandsets) + "台（第" + std::to_string(i + 1) +
                     "行）。";
      result.handsets.clear();
      return result;
    }
    result.handsets.push_back({text, number});
  }
  return result;
}

BaseStationResult ReadBaseStationFile(const TxtDir& txt) {
  const auto lines = ReadTxtLines(txt, kBaseStationFile);
  if (!lines) {
    BaseStationResult result;
    result.error = ReadFailureMessage(kBaseStationFile, lines.Failure(), "基站.txt文件不存在！");
    return result;
  }
  return ParseBaseStationFile(*lines);
}

HandsetResult ReadHandsetFile(const TxtDir& txt, char station) {
  const auto lines = ReadTxtLines(txt, kHandsetFile);
  if (!lines) {
    HandsetResult result;
    result.error = ReadFailureMessage(kHandsetFile, lines.Failure(), "点菜机.txt文件不存在！");
    return result;
  }
  return ParseHandsetFile(*lines, station);
}

}  // namespace orderlink
