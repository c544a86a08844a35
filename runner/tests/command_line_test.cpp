#include "runner/command_line.h"

#include <gtest/gtest.h>


namespace veltris::runner {
namespace {

std::string lineOf(std::vector<const char*> args) {
  args.insert(args.begin(), "TapsorCC");
  return buildCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLineTest, ArgumentsJoinedByOneBlankWithoutTrailingBlank) {
  EXPECT_EQ(lineOf({"PING", "10.0.0.1"}), "PING 10.0.0.1");
  EXPECT_EQ(lineOf({"ipconfig"}), "ipconfig");
  EXPECT_EQ(lineOf({}), "");
  EXPECT_EQ(lineOf({"echo", "two words"}), "echo two words");
  EXPECT_EQ(lineOf({"echo", ""}), "echo ");  // an empty argument still adds its blank
}

TEST(CommandLineTest, LongLinesAreCutTo255Characters) {
  const std::string word(300, 'x');
  const std::string line = lineOf({"echo", word.c_str()});
  ASSERT_EQ(line.size(), 255u);
  EXPECT_EQ(line, "echo " + std::string(250, 'x'));
  const std::string exact(250, 'y');
  EXPECT_EQ(lineOf({"echo", exact.c_str()}).size(), 255u);
}

TEST(CommandLineTest, SplitAtBlanksAndTabs) {
  EXPECT_EQ(splitCommandLine("ping -c 4  127.0.0.1"), (std::vector<std::string>{"ping", "-c", "4", "127.0.0.1"}));
  EXPECT_EQ(splitCommandLine("  a\tb "), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(splitCommandLine("").empty());
  EXPECT_TRUE(splitCommandLine("   ").empty());
  EXPECT_EQ(splitCommandLine("say \"x\""), (std::vector<std::string>{"say", "\"x\""}));  // quotes are plain
}

}  // namespace
}  // namespace veltris::runner
