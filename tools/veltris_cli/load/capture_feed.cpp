#include "tools/veltris_cli/load/capture_feed.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "common/byte_order.h"

namespace veltris::cli {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr size_t kFileHeaderSize = 24;
constexpr size_t kRecordHeaderSize = 16;
constexpr uint32_t kMaxCapturedLength = 256 * 1024;
constexpr auto kWriteTimeout = 5s;
constexpr auto kPaceStep = 2ms;

struct Trace {
  std::vector<uint8_t> bytes;
  std::vector<size_t> frameStarts;  // offsets of the record headers, then the file's end
};

bool fail(std::string& error, std::string text) {
  error = std::move(text);
  return false;
}

uint32_t load32(const uint8_t* p, bool bigEndian) {
  return bigEndian ? loadBe32(p) : loadLe32(p);
}

bool loadTrace(const std::string& path, Trace& trace, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(error, "cannot open " + path);
  trace.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return fail(error, "cannot read " + path);
  if (trace.bytes.size() < kFileHeaderSize) return fail(error, path + " is not a pcap file");
  const uint32_t magic = load32(trace.bytes.data(), false);
  bool bigEndian = false;
  if (magic == 0xd4c3b2a1 || magic == 0x4d3cb2a1)
    bigEndian = true;
  else if (magic != 0xa1b2c3d4 && magic != 0xa1b23c4d)
    return fail(error, path + " is not a pcap file");
  size_t offset = kFileHeaderSize;
  while (trace.bytes.size() - offset >= kRecordHeaderSize) {
    const uint32_t captured = load32(trace.bytes.data() + offset + 8, bigEndian);
    if (captured > kMaxCapturedLength || trace.bytes.size() - offset - kRecordHeaderSize < captured) break;
    trace.frameStarts.push_back(offset);
    offset += kRecordHeaderSize + captured;
  }
  trace.frameStarts.push_back(offset);
  if (trace.frameStarts.size() < 2) return fail(error, path + " holds no frames");
  return true;
}

// Holds the FIFO open for reading and writing, so that the agent's opens never
// wait and its reads never see an end before the feed is over.
class PipeWriter {
 public:
  ~PipeWriter() { close(); }

  bool open(const std::string& path, std::string& error) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd_ >= 0 || fail(error, "cannot open " + path + ": " + std::strerror(errno));
  }

  bool writeAll(const uint8_t* data, size_t size, std::string& error) {
    const auto deadline = Clock::now() + kWriteTimeout;
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n > 0) {
        data += n;
        size -= static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return fail(error, std::string("write: ") + std::strerror(errno));
      if (Clock::now() >= deadline) return fail(error, "the agent stopped reading the capture pipe");
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, 50);
    }
    return true;
  }

  // True once a reader has taken everything written so far.
  bool waitDrained(Clock::time_point deadline) {
    int pending = 0;
    while (::ioctl(fd_, FIONREAD, &pending) == 0 && pending > 0) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// The agent's replay device opens a capture file once to check its header and
// once more to read it: each open gets a file header of its own.
bool serveFileHeaders(PipeWriter& writer, const FeedPlan& plan, const Trace& trace, std::string& error) {
  for (const char* open : {"check", "read"}) {
    if (!writer.writeAll(trace.bytes.data(), kFileHeaderSize, error)) return false;
    if (!writer.waitDrained(Clock::now() + plan.readerTimeout)) {
      return fail(error, std::string("the agent never opened ") + plan.pipePath + " to " + open + " it");
    }
  }
  return true;
}

// Writes frames [first, last) of the trace, in runs that do not wrap around.
bool writeFrames(PipeWriter& writer, const Trace& trace, uint64_t first, uint64_t last, std::string& error) {
  const size_t count = trace.frameStarts.size() - 1;
  while (first < last) {
    const size_t from = first % count;
    const size_t to = std::min<uint64_t>(count, from + (last - first));
    const size_t begin = trace.frameStarts[from];
    if (!writer.writeAll(trace.bytes.data() + begin, trace.frameStarts[to] - begin, error)) return false;
    first += to - from;
  }
  return true;
}

}  // namespace

FeedResult feedCapture(const FeedPlan& plan) {
  FeedResult result;
  Trace trace;
  if (!loadTrace(plan.tracePath, trace, result.error)) return result;
  PipeWriter writer;
  if (!writer.open(plan.pipePath, result.error) || !serveFileHeaders(writer, plan, trace, result.error)) return result;
  const auto start = Clock::now();
  const auto end = start + plan.duration;
  for (auto now = start; now < end; now = Clock::now()) {
    const auto elapsedUs = std::chrono::duration_cast<std::chrono::microseconds>(now - start).count();
    const uint64_t due = static_cast<uint64_t>(elapsedUs) * plan.framesPerSecond / 1000000;
    if (due > result.frames && !writeFrames(writer, trace, result.frames, due, result.error)) return result;
    result.frames = std::max(result.frames, due);
    std::this_thread::sleep_for(kPaceStep);
  }
  writer.close();
  result.ok = true;
  return result;
}

}  // namespace veltris::cli
