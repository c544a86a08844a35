#pragma once
// External commands behind "CMD ": the command word is translated through the
// command table and run by TapsorCC, whose output (standard output and error
// through one pipe) becomes the reply text, lines ending in CR LF.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace veltris::agent {

struct AgentRuntime;
// Runs `commandText` (e.g. "PING 10.0.0.1") through TapsorCC; writes at most capacity-1 chars + NUL; returns characters written.
size_t runExternalCommand(const char* commandText, char* area, size_t capacity);
// True when the command word (and switches) are in the translation table.
bool isPermittedCommand(const char* commandText);

// As above; `rt` (may be null) receives the severe-error message box and the
// shutdown when the read buffer cannot be had. A refused command gets the
// "Command not permitted" text instead of a run.
size_t runExternalCommand(const char* commandText, char* area, size_t capacity, AgentRuntime* rt);

// Runs a Linux program and its arguments through TapsorCC, without the table.
// The area is cleared first; an unstartable TapsorCC leaves it empty (0).
size_t runThroughCommandRunner(const std::vector<std::string>& program, char* area, size_t capacity,
                               AgentRuntime* rt = nullptr);

// TapsorCC beside the running program, then in ../runner/ (the build tree),
// then on PATH; empty when none is found.
std::filesystem::path commandRunnerPath();

// Collects the output of the runner's reads into a text area: a line feed not
// preceded by a carriage return within the same read gets one; at most
// capacity-1 characters are kept, the rest is dropped; always terminated.
class CommandOutputText {
 public:
  CommandOutputText(char* area, size_t capacity);  // clears the area
  void addRead(const char* bytes, size_t count);
  size_t length() const { return length_; }

 private:
  void put(char c);
  char* area_;
  size_t capacity_;
  size_t length_ = 0;
};

}  // namespace veltris::agent
