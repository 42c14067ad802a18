// The dissector and the simulators keep their own lists of codes and layouts, written
// apart from the program's so that they check it; here those lists meet the
// protocol catalogue, so that neither side drifts unnoticed.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "basesim/Records.h"
#include "basesim/RequestGenerator.h"
#include "hostsim/HostLogic.h"
#include "link/Protocol.h"
#include "service/RequestRecords.h"

namespace orderlink {
namespace {

// The quoted four-character codes of the Lua table `local name = { ... }`, in order:
// its entries for a list, its keys (["CODE"]) for a map.
std::vector<std::string> LuaTableCodes(const std::string& script, const std::string& name) {
  const std::size_t start = script.find("local " + name + " = {");
  if (start == std::string::npos) return {};
  const std::size_t end = script.find("\n}", start);
  const std::string body = script.substr(start, end - start);
  std::vector<std::string> codes;
  const std::regex code(R"((\[)?"([A-Z ]{4})\"(\])?)");
  for (std::sregex_iterator it(body.begin(), body.end(), code), last; it != last; ++it) {
    const bool isKey = (*it)[1].matched;
    const bool isEntry = !isKey && body.compare(it->position() + it->length(), 3, " = ") != 0;
    if (isKey || isEntry) codes.push_back((*it)[2]);
  }
  return codes;
}

std::set<std::string> AsSet(const std::vector<std::string>& codes) {
  return {codes.begin(), codes.end()};
}

template <std::size_t N>
std::vector<std::string> AsStrings(const std::array<std::string_view, N>& codes) {
  return {codes.begin(), codes.end()};
}

TEST(Catalogue, TheDissectorNamesEveryCodeOfTheCatalogueAndNoOther) {
  std::ifstream file(std::string(ORDERLINK_SOURCE_DIR) + "/tools/wireshark/orderlink.lua");
  std::stringstream script;
  script << file.rdbuf();
  ASSERT_FALSE(script.str().empty());

  EXPECT_EQ(LuaTableCodes(script.str(), "requestCodes"), AsStrings(RequestCodeTable));
  EXPECT_EQ(AsSet(LuaTableCodes(script.str(), "tableTitles")),
            AsSet(AsStrings(kDownloadTableTags)));

  std::set<std::string> registered;
  for (const CommandCode& entry : CommandCodes()) registered.insert(std::string(entry.code));
  std::set<std::string> named;
  for (const std::string& code : LuaTableCodes(script.str(), "meanings")) {
    if (!IsRequestCode(code)) named.insert(code);
  }
  EXPECT_EQ(named, registered);
}

TEST(Catalogue, TheSimulatorsAgreeWithTheCatalogueOnEveryRequestKind) {
  EXPECT_EQ(basesim::TableTags(), AsStrings(kDownloadTableTags));
  ASSERT_EQ(basesim::RequestCodes(), AsStrings(RequestCodeTable));

  basesim::RequestGenerator generator(7, 11, {}, 0.0);
  const auto kinds = RequestKinds();
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    const RequestKind& kind = kinds[i];
    const std::string code(kind.code);
    const basesim::HandsetRequest request = generator.Make(code);
    const bool textToEnd = !kind.fields.empty() && kind.fields.back().cut == RecordCut::TextToEnd;
    if (kind.itemSize > 0) {
      EXPECT_EQ((request.payload.size() - kind.size) % kind.itemSize, 0u) << code;
    } else if (textToEnd) {
      EXPECT_LE(request.payload.size(), kind.size) << code;
    } else {
      EXPECT_EQ(request.payload.size(), kind.size) << code;
    }

    // The stand-in ordering software reads the program's record of the request.
    const int kindNumber = kFirstRequestKind + static_cast<int>(i);
    std::string content;
    for (const std::string& line : BuildRequestRecord(kindNumber, request.payload)) {
      content += line + "\r\n";
    }
    const auto record = hostsim::ParseRequestRecord(content);
    ASSERT_TRUE(record.has_value()) << code;
    EXPECT_EQ(record->code, code);
    EXPECT_EQ(record->handset, "007") << code;
    const std::size_t items =
        kind.itemSize > 0 ? (request.payload.size() - kind.size) / kind.itemSize : 1;
    EXPECT_EQ(record->lines.size(), kind.format.empty() ? 0 : items) << code;
  }
}

}  // namespace
}  // namespace orderlink
