#pragma once
// What the stand-in ordering software writes into the exchange files: the reply
// to a request record, the login verdict, a short message. Pure functions on GBK
// bytes; the caller reads and writes the files.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orderlink::hostsim {

// A request record as read from T1.txt.
struct RequestRecord {
  std::string code;                // characters 1-4 of the first line
  std::string handset;             // characters 6-8, three digits
  std::vector<std::string> lines;  // the lines after the first
};

// nullopt when the first line is not "CODE HHH" (four characters, a blank, three digits).
[[nodiscard]] std::optional<RequestRecord> ParseRequestRecord(std::string_view t1Content);

// Dish code (bytes 1-5) to dish name (bytes 8-27, trailing blanks removed) of a dish table.
[[nodiscard]] std::map<std::string, std::string> DishNamesOf(
    const std::vector<std::string>& dishTableLines);

class ReplyWriter {
 public:
  explicit ReplyWriter(std::map<std::string, std::string> dishNames)
      : dishNames_(std::move(dishNames)) {}

  // The lines of R1.txt answering `record`: the header (reply code, a blank, the
  // handset number) and the text lines for the handset, GBK. `replyCode` replaces
  // the request's code in the header when not empty ("DM  " asks for a roll call).
  [[nodiscard]] std::vector<std::string> Reply(const RequestRecord& record,
                                               std::string_view replyCode = {}) const;

 private:
  [[nodiscard]] std::string DishName(const std::string& code) const;
  std::map<std::string, std::string> dishNames_;
};

// User name and password in GBK, as the ordering software keeps them.
using Users = std::vector<std::pair<std::string, std::string>>;

// Verdict on the login line of DL.txt ("%-4s %-8s"): true when a user matches.
[[nodiscard]] bool LoginAccepted(std::string_view dlContent, const Users& users);

// First line of DX.txt: sender, blank, target, blank, text.
[[nodiscard]] std::string ShortMessageLine(int sender, int target, std::string_view textGbk);

// Handset numbers of the lines of a handset file (characters 1-3) for station `station`.
[[nodiscard]] std::vector<int> HandsetsOf(const std::vector<std::string>& handsetFileLines,
                                          char station);

// The tables the ordering software writes for a download (names in UTF-8). The
// administrator password is not among them: the program itself writes that file.
[[nodiscard]] const std::vector<std::string>& DownloadTableFiles();

}  // namespace orderlink::hostsim
