#pragma once
// The console's per-user single-instance channel: a Unix socket on which a
// running console listens; a client (the tray, a second console) connects,
// sends the raise request, and the console raises its window and answers.
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace veltris {

inline std::string consoleChannelPath() {
  if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir != nullptr && *dir != '\0')
    return std::string(dir) + "/veltris-console.sock";
  return "/tmp/veltris-console-" + std::to_string(::getuid()) + ".sock";
}

inline constexpr const char kConsoleRaiseRequest[] = "RAISE\n";
inline constexpr const char kConsoleRaiseAnswer[] = "OK\n";
// "KEY <password>\n": the agent on this PC has a new access key (set by the
// settings dialog); a console watching that agent takes it and reconnects.
// Answered with kConsoleRaiseAnswer.
inline constexpr const char kConsoleKeyRequest[] = "KEY ";
inline constexpr int kConsoleChannelLineLimit = 300;  // a request line with its newline

}  // namespace veltris
