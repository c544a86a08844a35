#pragma once
// The command line TapsorCC runs: its own arguments joined with blanks, then
// split again into the words the command receives.
#include <string>
#include <vector>

namespace veltris::runner {

constexpr size_t kMaxCommandLine = 255;

// Each argument followed by one blank, the trailing blank removed, cut to 255
// characters. Empty without arguments.
std::string buildCommandLine(int argc, const char* const* argv);

// Blank- or tab-separated words of a command line. Quotes are plain characters:
// the caller's grouping is already gone, so an argument with a blank inside
// reaches the command as two words.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

}  // namespace veltris::runner
