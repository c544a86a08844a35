// What a terminal gets of reply text: controls shown as \xNN, the rest as sent.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/veltris_cli/terminal_text.h"

namespace veltris::cli {
namespace {

TEST(TerminalText, ControlCharactersAreShownNotSent) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"PING host7\n\tReply 1 ms\n", "PING host7\n\tReply 1 ms\n"},
      {"\x1b]0;owned\x07title", "\\x1B]0;owned\\x07title"},
      {"\x1b[31mred\x1b[0m", "\\x1B[31mred\\x1B[0m"},
      {"cr\rbs\bdel\x7f nul", std::string("cr\\x0Dbs\\x08del\\x7F nul")},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\xc2\x9b" "31m", "\\xC2\\x9B31m"},                  // CSI as a UTF-8 C1 control
      {"\x9b" "31m", "\\x9B31m"},                           // CSI as an 8-bit byte
      {"Gr\xc3\xbc\xc3\x9f \xc2\xa9 \xe2\x82\xac", "Gr\xc3\xbc\xc3\x9f \xc2\xa9 \xe2\x82\xac"},  // UTF-8 text passes
      {"end\xc2", "end\xc2"},
  };
  for (const Case& c : cases) EXPECT_EQ(terminalSafe(c.text), c.shown) << c.text;
}

TEST(TerminalText, ASequenceSplitAcrossWritesIsStillCaught) {
  std::ostringstream out;
  {
    TerminalSafeBuffer buffer(out.rdbuf());
    std::ostream stream(&buffer);
    stream << "x\xc2";
    stream.flush();
    stream << "\x9b" "2J" << '\x1b' << "c";
  }
  EXPECT_EQ(out.str(), "x\\xC2\\x9B2J\\x1Bc");
}

}  // namespace
}  // namespace veltris::cli
