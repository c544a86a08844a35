// The command line, the request checks and the text helpers.
#include <gtest/gtest.h>

#include "tools/veltris_cli/options.h"
#include "tools/veltris_cli/request_words.h"
#include "tools/veltris_cli/text_fields.h"

namespace veltris::cli {
namespace {

using Action = ParsedCommandLine::Action;

ParsedCommandLine parse(std::vector<std::string> args) { return parseCommandLine(args); }

TEST(CliCommandLine, JoinsRequestWordsAndReadsOptionsBeforeThem) {
  ParsedCommandLine p = parse({"--computer", "HOST7[2049]", "--key=SECRET", "--json", "STATS_PRO", "0"});
  ASSERT_EQ(p.action, Action::Run) << p.error;
  EXPECT_EQ(p.options.computer, "HOST7[2049]");
  EXPECT_EQ(p.options.key, "SECRET");
  EXPECT_TRUE(p.options.json);
  EXPECT_EQ(p.options.request, "STATS_PRO 0");
  EXPECT_EQ(p.options.repeat, 1u);

  ParsedCommandLine after = parse({"STATS_PRO", "0", "--json", "--repeat", "3"});  // options anywhere
  EXPECT_EQ(after.options.request, "STATS_PRO 0");
  EXPECT_TRUE(after.options.json);
  EXPECT_EQ(after.options.repeat, 3u);
  EXPECT_EQ(parse({"DETAILS", "-1"}).options.request, "DETAILS -1");
  ParsedCommandLine command = parse({"CMD", "PING", "-c", "1", "10.0.0.1"});  // dashes after CMD stay
  ASSERT_EQ(command.action, Action::Run);
  EXPECT_EQ(command.options.request, "CMD PING -c 1 10.0.0.1");
  EXPECT_FALSE(command.options.key.has_value());
}

TEST(CliCommandLine, RepeatIntervalFollowAndSave) {
  ParsedCommandLine p = parse({"--repeat", "0", "--interval", "250", "--follow", "--save", "/tmp/x.vsn", "DETAILS"});
  ASSERT_EQ(p.action, Action::Run) << p.error;
  EXPECT_EQ(p.options.repeat, 0u);
  EXPECT_EQ(p.options.interval.count(), 250);
  EXPECT_TRUE(p.options.follow);
  EXPECT_EQ(p.options.saveFile, "/tmp/x.vsn");
}

TEST(CliCommandLine, ReportsMistakes) {
  EXPECT_EQ(parse({}).action, Action::Error);
  EXPECT_EQ(parse({"--json"}).error, "no request given");
  EXPECT_EQ(parse({"--key"}).error, "--key needs a value");
  EXPECT_EQ(parse({"--repeat", "x", "TOTAL"}).action, Action::Error);
  EXPECT_EQ(parse({"--interval", "-5", "TOTAL"}).action, Action::Error);
  EXPECT_EQ(parse({"--verbose", "TOTAL"}).error, "unknown option --verbose");
  EXPECT_EQ(parse({"--help"}).action, Action::Help);
  EXPECT_EQ(parse({"--version", "TOTAL"}).action, Action::Version);
  EXPECT_EQ(parse({"-V"}).action, Action::Version);
  EXPECT_EQ(parse({"--", "-x"}).options.request, "-x");
}

TEST(CliRequestWords, ArgumentsTheAgentNeeds) {
  EXPECT_EQ(checkRequest("STATS_PRO 0", false).error, "");
  EXPECT_EQ(checkRequest("ERRORS -1", false).error, "");
  EXPECT_NE(checkRequest("STATS_PRO", false).error, "");
  EXPECT_NE(checkRequest("DETAILS x", false).error, "");
  EXPECT_EQ(checkRequest("DETAILS", true).error, "");
  EXPECT_EQ(checkRequest("TPT 19990415", false).error, "");
  EXPECT_NE(checkRequest("TPS 1999041", false).error, "");
  EXPECT_NE(checkRequest("CMD", false).error, "");
  EXPECT_NE(checkRequest("TOTAL 5", false).error, "");
  EXPECT_NE(checkRequest(std::string(256, 'A'), false).error, "");
  EXPECT_NE(checkRequest("OID", true).error, "");  // --follow only for numbered words
  EXPECT_EQ(checkRequest("BCASTERS HIGH", false).error, "");
}

TEST(CliRequestWords, CfgGetsItsBlankAndUnknownWordsANote) {
  EXPECT_EQ(checkRequest("CFG", false).request, "CFG ");
  RequestCheck lower = checkRequest("total", false);
  EXPECT_EQ(lower.error, "");
  EXPECT_NE(lower.note.find("did you mean \"TOTAL\""), std::string::npos) << lower.note;
  EXPECT_NE(checkRequest("FROB", false).note, "");
  EXPECT_TRUE(checkRequest("FROB", false).unknownWord) << "the client exits with status 5 after the reply";
  EXPECT_TRUE(lower.unknownWord);
  EXPECT_FALSE(checkRequest("TOTAL", false).unknownWord);
  EXPECT_EQ(checkRequest("TOTAL", false).note, "");
}

TEST(CliRequestWords, SequenceNumbers) {
  EXPECT_TRUE(takesSequenceNumber("STATS_PRO 5"));
  EXPECT_TRUE(takesSequenceNumber("ERRORS"));
  EXPECT_FALSE(takesSequenceNumber("STATS"));
  EXPECT_EQ(withSequenceNumber("STATS_PRO 0", 812), "STATS_PRO 812");
  EXPECT_EQ(withSequenceNumber("DETAILS", 7), "DETAILS 7");
  EXPECT_EQ(sequenceNumberOf("DETAILS 42"), 42u);
  EXPECT_EQ(sequenceNumberOf("DETAILS"), 0u);
  EXPECT_EQ(sequenceNumberOf("ERRORS -1"), 0xFFFFFFFFu);  // signed text, unsigned filter
}

TEST(CliTextFields, StopAtTerminatorOrWidthAndDropPadding) {
  const char padded[8] = {'G', 'W', ' ', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(fieldText(padded), "GW");
  const char full[4] = {'A', 'B', 'C', 'D'};  // no terminator: never read past the field
  EXPECT_EQ(fieldText(full), "ABCD");
  const char marker[4] = {' ', ' ', '-', '>'};
  EXPECT_EQ(rawText(marker), "  ->");
  const char terminated[6] = {'a', 'b', 0, 'z', 'z', 'z'};
  EXPECT_EQ(fieldText(terminated), "ab");
}

TEST(CliTextFields, DisplayAndJsonText) {
  EXPECT_EQ(displayText("A\tB\x01"), "A.B.");
  EXPECT_EQ(displayText("caf\xE9"), "caf\xC3\xA9");      // Latin-1
  EXPECT_EQ(displayText("caf\xC3\xA9"), "caf\xC3\xA9");  // already UTF-8
  EXPECT_EQ(displayWidth("caf\xC3\xA9"), 4u);
  EXPECT_EQ(jsonString("a\"b\\c\r\n"), "\"a\\\"b\\\\c\\r\\n\"");
  EXPECT_EQ(jsonString("\xE9\x01"), "\"\\u00E9\\u0001\"");
  EXPECT_EQ(jsonString("\xC3\xA9"), "\"\xC3\xA9\"");
  EXPECT_EQ(byteCountText(2114.0f), "2114");
  EXPECT_EQ(byteCountText(16777216.0f), "16777216");
  EXPECT_EQ(byteCountText(0.5f), "0.5");
  useHumanByteUnits(true);
  const std::pair<float, const char*> human[] = {{1023.0f, "1023"}, {1024.0f, "1.0K"}, {2114.0f, "2.1K"},
                                                 {5.0e6f, "4.8M"}, {16777216.0f, "16.0M"}, {3.3e9f, "3.1G"}};
  for (const auto& [bytes, text] : human) EXPECT_EQ(byteCountText(bytes), text) << bytes;
  useHumanByteUnits(false);
  EXPECT_EQ(byteCountText(2114.0f), "2114");
  EXPECT_TRUE(parse({"-H", "TOTAL"}).options.humanUnits);
}

}  // namespace
}  // namespace veltris::cli
