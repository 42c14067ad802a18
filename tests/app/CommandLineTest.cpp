// The command line: options around the start-up parameter, refusals, and the help.
#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace orderlink {
namespace {

using Action = CommandLine::Action;

struct ParseCase {
  const char* name;
  std::vector<std::string> args;
  Action action;
  std::vector<std::string> parameters;
  std::optional<std::string> traceFile;
};

TEST(CommandLineTest, OptionsStandBeforeOrAfterTheParameter) {
  const std::vector<ParseCase> cases = {
      {"nothing", {}, Action::Run, {}, std::nullopt},
      {"debug", {"DEBUG"}, Action::Run, {"DEBUG"}, std::nullopt},
      {"trace first", {"--trace", "/tmp/t", "5000"}, Action::Run, {"5000"}, "/tmp/t"},
      {"trace after", {"5000", "--trace", "t.pcapng"}, Action::Run, {"5000"}, "t.pcapng"},
      {"trace joined", {"--trace=/tmp/x", "DEBUG"}, Action::Run, {"DEBUG"}, "/tmp/x"},
      {"later trace wins", {"--trace", "a", "--trace=b", "DEBUG"}, Action::Run, {"DEBUG"}, "b"},
      {"extra parameters kept in order",
       {"5000", "x", "y"},
       Action::Run,
       {"5000", "x", "y"},
       std::nullopt},
      {"dash alone is a parameter", {"-"}, Action::Run, {"-"}, std::nullopt},
      {"double dash ends options", {"--", "--help"}, Action::Run, {"--help"}, std::nullopt},
      {"help after parameter", {"DEBUG", "--help"}, Action::Help, {"DEBUG"}, std::nullopt},
      {"short help", {"-h"}, Action::Help, {}, std::nullopt},
      {"version", {"--version", "--help"}, Action::Version, {}, std::nullopt},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandLine parsed = ParseCommandLine(c.args);
    EXPECT_EQ(parsed.action, c.action);
    EXPECT_EQ(parsed.parameters, c.parameters);
    EXPECT_EQ(parsed.traceFile, c.traceFile);
    EXPECT_TRUE(parsed.error.empty()) << parsed.error;
  }
}

TEST(CommandLineTest, VerboseIsAnOptionAnywhere) {
  EXPECT_FALSE(ParseCommandLine({"DEBUG"}).verbose);
  const CommandLine parsed = ParseCommandLine({"DEBUG", "--verbose"});
  EXPECT_EQ(parsed.action, Action::Run);
  EXPECT_TRUE(parsed.verbose);
  EXPECT_EQ(parsed.parameters, std::vector<std::string>{"DEBUG"});
}

TEST(CommandLineTest, RefusesUnknownAndIncompleteOptionsSayingWhich) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"DEBUG", "--verbos"}, "unknown option \"--verbos\""},
      {{"-platform", "offscreen", "DEBUG"}, "unknown option \"-platform\""},
      {{"-5000"}, "unknown option \"-5000\""},
      {{"DEBUG", "--trace"}, "option --trace needs a file name"},
      {{"--trace=", "DEBUG"}, "option --trace needs a file name"},
      {{"--trace", "", "DEBUG"}, "option --trace needs a file name"},
      {{"--Help"}, "unknown option \"--Help\""},
  };
  for (const auto& [args, error] : cases) {
    SCOPED_TRACE(args.front());
    const CommandLine parsed = ParseCommandLine(args);
    EXPECT_EQ(parsed.action, Action::Refuse);
    EXPECT_EQ(parsed.error.rfind(error, 0), 0u) << parsed.error;
    EXPECT_NE(parsed.error.find("orderlink --help"), std::string::npos) << parsed.error;
  }
}

TEST(CommandLineTest, HelpNamesArgumentsOptionsEnvironmentAndSettingsFile) {
  const std::string help = HelpText();
  for (const char* item :
       {"DEBUG", "PORT", "--trace FILE", ".pcapng", "FILE.1", "--verbose", "TraceMax",
        "JOURNAL_STREAM", "--help", "--version", "ORDERLINK_APPDIR", "ORDERLINK_COM<n>",
        "ORDERLINK_NONINTERACTIVE", "QT_QPA_PLATFORM", "orderlink.conf", "message: <text>"}) {
    EXPECT_NE(help.find(item), std::string::npos) << item;
  }
  EXPECT_EQ(VersionText().rfind("orderlink ", 0), 0u);
}

}  // namespace
}  // namespace orderlink
