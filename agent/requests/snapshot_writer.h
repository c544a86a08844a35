#pragma once
// Snapshot files: the replies to a fixed series of requests, run through the
// request handler with the agent's own key, then one inverted capture image
// per adapter that has captured a frame, then the zero end marker.
//
// "SNAPSHOT" alone answers with a snapshot written to a temporary file;
// "SNAPSHOT <path>" writes one on the agent's machine, but only as a "*.VSN"
// file directly inside the history folder (the agent's current directory),
// never through a link, so a key holder cannot make the agent (root) create
// or truncate other files.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/core/runtime.h"

namespace veltris::agent {

struct DispatchContext;

// Runs one request as the request handler would and leaves the whole reply
// (header first) in `reply`.
using OwnRequest = std::function<void(std::string_view requestText, std::vector<uint8_t>& reply)>;

// Where a snapshot goes: an open file descriptor. Remembers the first failed write.
class SnapshotSink {
 public:
  explicit SnapshotSink(int fd) : fd_(fd) {}
  void write(const void* bytes, size_t count);
  bool failed() const { return failed_; }
  int error() const { return error_; }

 private:
  int fd_;
  bool failed_ = false;
  int error_ = 0;
};

// The request texts of the reply items, in order; the four external commands
// only when `withCommands` (the PC has an IP address).
std::vector<std::string> snapshotRequests(uint32_t now, bool withCommands);

// Item writer: runs `requestText` and writes the item (name: its first 16 bytes).
void writeReplyItem(SnapshotSink& sink, const OwnRequest& run, std::string_view requestText);

// The capture image of the adapter's packet ring, not inverted; empty when
// the adapter has captured no frame.
std::string buildCaptureImage(const NicArea& nic);

// Dump writer: one "DUMP_n" item for the adapter at `index`, unless it has no
// state or no frame.
void writeDumpItem(SnapshotSink& sink, const GlobalArea& global, int index);

// Snapshot writer: signature, reply items, dump items, end marker. False when
// a write failed (errno-style code in `error`).
bool writeSnapshot(AgentRuntime& rt, const OwnRequest& run, int fd, int& error);

// The request handler's work for a request from inside the agent.
OwnRequest ownRequests(AgentRuntime& rt);

// Why `path` may not receive a snapshot, or empty when it may. Looks only at
// the text: a ".." component, or a name that does not end in ".VSN".
std::string snapshotPathProblem(std::string_view path);

// Opens `path` for a snapshot, creating or truncating it: the directory must
// be the history folder (compared by device and inode), the name may not be a
// link and an existing file must be a plain file with one link. -1 with
// `problem` set otherwise.
int openSnapshotPath(const std::string& path, std::string& problem);

// The dispatcher's answer to "SNAPSHOT".
bool answerSnapshot(DispatchContext& context);

}  // namespace veltris::agent
