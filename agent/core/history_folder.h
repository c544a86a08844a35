#pragma once
// The history folder and the files the agent writes in it. The folder is made
// (one level, 0750) and becomes the agent's current directory; its files
// are created 0640 with the group "veltris" when that group exists (0600
// otherwise), never through a link, and only as regular files with one link.
// History writes that fail are counted and reported once per file and day.
#include <cstdint>
#include <string>

namespace veltris::agent {

constexpr char kHistoryGroup[] = "veltris";

// Enters `path`, making it (not its parents) when it is missing. False with the reason when it
// cannot be made or entered: no history is written until a later attempt
// (each open retries) succeeds, and the agent never writes into the folder it
// started in instead.
bool enterHistoryFolder(const std::string& path, std::string& problem);
bool historyFolderEntered();

// Opens `name` in the history folder for writing with `extraFlags` added
// (O_APPEND, O_TRUNC). -1 with errno set and `problem` in words when the folder
// is missing, `name` is a link, not a regular file, has other links or belongs
// to another user.
int openHistoryFile(const std::string& name, int extraFlags, std::string& problem);

// The same for `name` in the folder open as `dirFd` (AT_FDCWD: the current one),
// whatever folder that is; `problem` stays empty when errno alone tells why.
int openPrivateFileAt(int dirFd, const std::string& name, int extraFlags, std::string& problem);

// Counts a failed history write of `name`; the first failure of each file on
// each day goes to the event log and the console with the errno text.
void reportHistoryWriteError(const std::string& name, const std::string& problem, uint32_t now);
uint64_t historyWriteErrors();

// Mode and group for a new history file or folder: the "veltris" group when it
// exists (group -1 otherwise).
struct PrivateMode {
  unsigned fileMode;
  unsigned folderMode;
  long group;
};
PrivateMode privateMode();

}  // namespace veltris::agent
