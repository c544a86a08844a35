#include "runner/command_line.h"

namespace veltris::runner {

std::string buildCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    line += argv[i];
    line += ' ';
  }
  if (!line.empty()) line.pop_back();
  if (line.size() > kMaxCommandLine) line.resize(kMaxCommandLine);
  return line;
}

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < commandLine.size()) {
    const size_t start = commandLine.find_first_not_of(" \t", at);
    if (start == std::string::npos) break;
    const size_t end = commandLine.find_first_of(" \t", start);
    words.push_back(commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start));
    at = end == std::string::npos ? commandLine.size() : end;
  }
  return words;
}

}  // namespace veltris::runner
