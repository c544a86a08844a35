#pragma once
// The two switches every program answers before anything else.
#include <cstdio>
#include <cstring>

namespace veltris {

// "--help" or "-h" prints `usage`, "--version" or "-V" prints `version` and a
// line feed; true when one was answered (the program then exits with 0).
inline bool answerHelpOrVersion(int argc, char** argv, const char* usage, const char* version) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usage, stdout);
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
      std::printf("%s\n", version);
      return true;
    }
  }
  return false;
}

}  // namespace veltris
