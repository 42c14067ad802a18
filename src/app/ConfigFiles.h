#pragma once
// The two configuration files of TXT, read at start-up.
//
// 基站.txt, at most two lines: character 1 the base station number, 2 a separator,
// 3-6 the port name ("COM3"), 6 the port digit. The first line's number selects the
// handsets and its port name is shown in the monitor menu; the digit of the last
// line decides which port is opened.
//
// 点菜机.txt, one handset per line: characters 1-3 the handset number ("007"), 4 a
// separator, 5 the base station the handset belongs to.
//
// Lines are GBK bytes; error texts are UTF-8 and name the file and the line.

#include <optional>
#include <string>
#include <vector>

#include "common/TxtDir.h"

namespace orderlink {

inline constexpr char kBaseStationFile[] = "基站.txt";
inline constexpr char kHandsetFile[] = "点菜机.txt";
inline constexpr int kMaxStationHandsets = 256;  // the poller's list holds no more

struct BaseStationConfig {
  char station = 0;      // character 1 of the first line
  std::string portName;  // characters 3-6 of the first line, GBK
  int portNumber = 0;    // character 6 of the last line, 1..9
};

struct BaseStationResult {
  std::optional<BaseStationConfig> config;
  std::string error;  // set when config is empty
};

// Blank lines (a trailing line break typed twice) are not records and are skipped.
[[nodiscard]] BaseStationResult ParseBaseStationFile(const std::vector<std::string>& lines);
// Reads and parses 基站.txt of `txt`; the error says when it is missing or unreadable.
[[nodiscard]] BaseStationResult ReadBaseStationFile(const TxtDir& txt);

struct HandsetLine {
  std::string text;  // the three digits as written ("007")
  int number = 0;    // the byte that addresses the handset on the line
};

struct HandsetResult {
  std::vector<HandsetLine> handsets;  // in file order
  std::string error;                  // set when the file is refused
  [[nodiscard]] bool Ok() const { return error.empty(); }
};

// The handsets whose character 5 equals `station`. Lines of other stations are not
// looked at; a taken line must start with three digits forming 0..255.
[[nodiscard]] HandsetResult ParseHandsetFile(const std::vector<std::string>& lines, char station);
// Reads and parses 点菜机.txt of `txt`; the error says when it is missing or unreadable.
[[nodiscard]] HandsetResult ReadHandsetFile(const TxtDir& txt, char station);

}  // namespace orderlink
