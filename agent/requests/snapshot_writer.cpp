#include "agent/requests/snapshot_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "agent/core/history.h"
#include "agent/core/history_folder.h"
#include "agent/requests/dispatcher.h"
#include "agent/requests/request_handler.h"
#include "common/snapshot_format.h"

namespace veltris::agent {
namespace {

// Behind "OPEN " and today's "TPT " and "TPS ".
constexpr std::array<const char*, 9> kFixedRequests = {
    "BCASTERS LOW", "BCASTERS HIGH", "BCASTSENT LOW", "BCASTSENT HIGH", "ERRORS 0",
    "DETAILS 0",    "OID",           "CMD CONFIG",    "CMD SUBNET",
};
// External commands, only for a PC with an IP address.
constexpr std::array<const char*, 4> kCommandRequests = {"CMD NETSTAT -n", "CMD ARP -a", "CMD IPCONFIG -all",
                                                         "CMD ROUTE PRINT"};
constexpr int kRingReadAttempts = 4;
constexpr char kErrorCaption[] = "VELTRIS ERROR";
constexpr char kSaveFailed[] = "Could not save to file";

bool hasIpAddress(GlobalArea& global) {
  std::lock_guard lock(global.labelMutex);
  return global.ipSummary[0] != '\0';
}

void putLe16(std::string& image, size_t offset, uint16_t value) {
  LeU16 field;
  field = value;
  std::memcpy(image.data() + offset, field.bytes, 2);
}

void putLe32(std::string& image, size_t offset, uint32_t value) {
  LeU32 field;
  field = value;
  std::memcpy(image.data() + offset, field.bytes, 4);
}

void writeStartTime(std::string& image, uint32_t time) {
  const std::time_t t = time;
  std::tm local{};
  localtime_r(&t, &local);
  const uint16_t words[8] = {static_cast<uint16_t>(local.tm_year + 1900),
                             static_cast<uint16_t>(local.tm_mon + 1),
                             kCaptureDayOfWeekWord,
                             static_cast<uint16_t>(local.tm_mday),
                             static_cast<uint16_t>(local.tm_hour),
                             static_cast<uint16_t>(local.tm_min),
                             static_cast<uint16_t>(local.tm_sec),
                             0};
  for (int i = 0; i < 8; ++i) putLe16(image, offsetof(CaptureImageHeader, startTime) + 2 * i, words[i]);
}

// The packet ring as it stands, slot by slot; a slot caught mid-write is read
// again, and one that still fails stays marked as not complete.
struct RingCopy {
  PacketRecord entries[kPacketRingSize];
  bool readable[kPacketRingSize];
};

std::unique_ptr<RingCopy> copyPacketRing(const NicArea& nic) {
  auto copy = std::make_unique<RingCopy>();
  for (size_t slot = 0; slot < kPacketRingSize; ++slot) {
    bool ok = false;
    for (int attempt = 0; attempt < kRingReadAttempts && !ok; ++attempt) ok = nic.packets.read(slot, copy->entries[slot]);
    copy->readable[slot] = ok;
  }
  return copy;
}

void appendFrameRecord(std::string& image, const PacketRecord& entry, uint32_t milliseconds) {
  const uint32_t length = entry.length.get();
  const uint32_t stored = length < kCaptureStoredMax ? length : kCaptureStoredMax;
  CaptureFrameHeader header;
  header.milliseconds = milliseconds;
  header.frameLength = static_cast<uint16_t>(length);
  header.storedLength = static_cast<uint16_t>(stored);
  image.append(reinterpret_cast<const char*>(&header), sizeof header);
  image.append(reinterpret_cast<const char*>(entry.frame), stored);
}

std::string tempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

std::string currentFolder() {
  char cwd[4096];
  return ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".";
}

bool endsWithVsn(std::string_view name) {
  if (name.size() <= 4) return false;
  std::string_view ext = name.substr(name.size() - 4);
  return ext[0] == '.' && (ext[1] | 0x20) == 'v' && (ext[2] | 0x20) == 's' && (ext[3] | 0x20) == 'n';
}

// "SNAPSHOT" alone: a snapshot through a temporary file that is gone before
// anything is read back, so no error path can leave it behind.
void snapshotIntoBody(AgentRuntime& rt, std::string& body) {
  body.assign(kSnapshotSignature, 4);
  std::string name = tempDirectory() + "/VSNXXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return;
  ::unlink(name.c_str());
  int error = 0;
  struct stat st{};
  if (writeSnapshot(rt, ownRequests(rt), fd, error) && ::fstat(fd, &st) == 0 && st.st_size > 0) {
    std::string contents(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < contents.size()) {
      const ssize_t n = ::pread(fd, contents.data() + done, contents.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done == contents.size()) body = std::move(contents);
  }
  ::close(fd);
}

// A path from a request, for the console and the reply: control characters as '?'.
std::string printablePath(std::string_view path) {
  std::string text(path);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return text;
}

void refusePath(std::string& body, std::string_view path, const std::string& problem) {
  char text[kTextAreaSize];
  std::snprintf(text, sizeof text,
                "ERROR - Snapshot not written: '%.*s' is not permitted (%s).\r\n"
                "The agent writes snapshots only as files ending in .VSN directly inside its history "
                "folder %s\r\nSend SNAPSHOT without a path to receive the snapshot instead.\r\n",
                static_cast<int>(std::min<size_t>(path.size(), 1024)), path.data(), problem.c_str(),
                currentFolder().c_str());
  setTextReply(body, text);
}

// "SNAPSHOT <path>": the totals record when the file was written, else a text
// reply that says why not.
void snapshotIntoFile(AgentRuntime& rt, std::string_view path, std::string& body) {
  std::string problem = snapshotPathProblem(path);
  const std::string pathText(path);
  const int fd = problem.empty() ? openSnapshotPath(pathText, problem) : -1;
  if (fd < 0) {
    if (problem.empty()) {  // a permitted path that could not be created
      problem = std::strerror(errno);
      if (rt.messageBox) rt.messageBox(kErrorCaption, kSaveFailed);
      char text[kTextAreaSize];
      std::snprintf(text, sizeof text, "ERROR - %s '%s': %s\r\n", kSaveFailed, pathText.c_str(), problem.c_str());
      setTextReply(body, text);
      return;
    }
    consolePrint("ERROR - SNAPSHOT refused for '%s': %s\n", printablePath(path).c_str(), problem.c_str());
    refusePath(body, printablePath(path), problem);
    return;
  }
  int error = 0;
  const bool written = writeSnapshot(rt, ownRequests(rt), fd, error);
  const bool closed = ::close(fd) == 0;
  if (written && closed) return;
  ::unlink(pathText.c_str());  // a cut snapshot would only read as corrupt
  if (rt.messageBox) rt.messageBox(kErrorCaption, kSaveFailed);
  char text[kTextAreaSize];
  std::snprintf(text, sizeof text, "ERROR - %s '%s': %s\r\n", kSaveFailed, pathText.c_str(),
                std::strerror(error != 0 ? error : EIO));
  setTextReply(body, text);
}

}  // namespace

void SnapshotSink::write(const void* bytes, size_t count) {
  const auto* p = static_cast<const char*>(bytes);
  while (!failed_ && count > 0) {
    const ssize_t n = ::write(fd_, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      error_ = n < 0 ? errno : ENOSPC;
      return;
    }
    p += n;
    count -= static_cast<size_t>(n);
  }
}

std::vector<std::string> snapshotRequests(uint32_t now, bool withCommands) {
  const std::string today = dateText(now);
  std::vector<std::string> requests = {"OPEN ", "TPT " + today, "TPS " + today};
  requests.insert(requests.end(), kFixedRequests.begin(), kFixedRequests.end());
  if (withCommands) requests.insert(requests.end(), kCommandRequests.begin(), kCommandRequests.end());
  return requests;
}

void writeReplyItem(SnapshotSink& sink, const OwnRequest& run, std::string_view requestText) {
  char request[kRequestSize] = {};
  std::memcpy(request, requestText.data(), std::min(requestText.size(), kRequestSize - 1));
  std::vector<uint8_t> reply;
  run(std::string_view(request, ::strnlen(request, kRequestSize)), reply);
  SnapshotItemHeader header;
  header.length = static_cast<uint32_t>(kSnapshotItemNameSize + reply.size());
  std::memcpy(header.name, request, kSnapshotItemNameSize);
  sink.write(&header, sizeof header);
  sink.write(reply.data(), reply.size());
}

std::string buildCaptureImage(const NicArea& nic) {
  std::unique_ptr<RingCopy> ring = copyPacketRing(nic);
  // Read after the copy: every frame up to this number had begun before it.
  const uint32_t captured = nic.readsCompleted.load(std::memory_order_acquire);
  if (captured == 0) return {};

  std::string image(sizeof(CaptureImageHeader), '\0');
  std::memcpy(image.data(), kCaptureImageTag, 4);
  image[offsetof(CaptureImageHeader, versionMinor)] = 1;
  image[offsetof(CaptureImageHeader, versionMajor)] = 1;
  putLe16(image, offsetof(CaptureImageHeader, medium),
          nic.mediaType.load(std::memory_order_relaxed) == 1 ? kCaptureMedium8025 : kCaptureMedium8023);

  std::vector<uint32_t> offsets;
  offsets.reserve(kPacketRingSize);
  const uint32_t first = captured > kPacketRingSize ? captured - (kPacketRingSize - 1) : 1;
  uint32_t firstTime = 0;
  uint32_t previousSequence = 0;
  for (uint32_t k = first; k - first < kPacketRingSize && k <= captured; ++k) {
    const size_t slot = (k - 1) % kPacketRingSize;
    const PacketRecord& entry = ring->entries[slot];
    if (!ring->readable[slot] || entry.complete != 1) break;
    // A slot that still holds an older frame: frame k is not filed yet.
    if (!offsets.empty() && entry.sequence.get() <= previousSequence) break;
    const uint32_t time = entry.time.get();
    if (offsets.empty()) {
      firstTime = time;
      writeStartTime(image, time);
    } else if (time == 0 || time < firstTime) {
      consolePrint("\nERROR - Bad TIME");
      break;
    }
    previousSequence = entry.sequence.get();
    offsets.push_back(static_cast<uint32_t>(image.size()));
    appendFrameRecord(image, entry, (time - firstTime) * 1000);
  }

  putLe32(image, offsetof(CaptureImageHeader, frameTableOffset), static_cast<uint32_t>(image.size()));
  putLe32(image, offsetof(CaptureImageHeader, frameTableLength), static_cast<uint32_t>(4 * offsets.size()));
  for (uint32_t offset : offsets) {
    LeU32 field;
    field = offset;
    image.append(reinterpret_cast<const char*>(field.bytes), 4);
  }
  image.append(kCaptureTrailerSize, '\0');
  return image;
}

void writeDumpItem(SnapshotSink& sink, const GlobalArea& global, int index) {
  const NicArea* nic = index < kMaxAdapters ? global.nics[index].get() : nullptr;
  if (nic == nullptr || nic->readsCompleted.load(std::memory_order_relaxed) == 0) return;
  std::string image = buildCaptureImage(*nic);
  if (image.empty()) return;
  for (char& byte : image) byte = static_cast<char>(~static_cast<unsigned char>(byte));
  SnapshotItemHeader header{};
  header.length = static_cast<uint32_t>(kSnapshotItemNameSize + image.size());
  char name[32] = {};
  std::snprintf(name, sizeof name, "%s%d", kDumpItemPrefix, index + 1);
  std::memcpy(header.name, name, sizeof header.name);
  sink.write(&header, sizeof header);
  sink.write(image.data(), image.size());
}

bool writeSnapshot(AgentRuntime& rt, const OwnRequest& run, int fd, int& error) {
  const uint32_t now = rt.clock->now();
  SnapshotSink sink(fd);
  sink.write(kSnapshotSignature, 4);
  for (const std::string& request : snapshotRequests(now, false)) writeReplyItem(sink, run, request);
  // Asked after "OPEN ", whose role labels refresh sets the IP summary.
  if (hasIpAddress(rt.global)) {
    for (const char* request : kCommandRequests) writeReplyItem(sink, run, request);
  }
  for (int i = 0; i < rt.global.adapterCount && i < kMaxAdapters; ++i) writeDumpItem(sink, rt.global, i);
  const uint8_t end[4] = {};
  sink.write(end, sizeof end);
  error = sink.error();
  return !sink.failed();
}

OwnRequest ownRequests(AgentRuntime& rt) {
  return [&rt](std::string_view text, std::vector<uint8_t>& reply) { serveRequest(rt, Request(text), reply); };
}

std::string snapshotPathProblem(std::string_view path) {
  if (path.empty()) return "no file name";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return "the path contains ..";
    start = end + 1;
  }
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (!endsWithVsn(name)) return "the file name does not end in .VSN";
  return {};
}

int openSnapshotPath(const std::string& path, std::string& problem) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  struct stat history{};
  struct stat dir{};
  if (!historyFolderEntered()) {
    problem = "the history folder is missing";
    return -1;
  }
  if (::stat(".", &history) != 0) {
    problem = "the history folder cannot be examined";
    return -1;
  }
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0 || ::fstat(dirFd, &dir) != 0 || dir.st_dev != history.st_dev || dir.st_ino != history.st_ino) {
    if (dirFd >= 0) ::close(dirFd);
    problem = "the folder is not the history folder";
    return -1;
  }
  // Never through a link, never into a FIFO or another user's file.
  const int fd = openPrivateFileAt(dirFd, name, O_TRUNC, problem);
  const int openError = errno;
  ::close(dirFd);
  errno = openError;
  return fd;
}

bool answerSnapshot(DispatchContext& c) {
  if (c.request.at(9) == 0) {  // alone, or followed by one blank: replaces
    snapshotIntoBody(c.rt, c.body);
    return true;
  }
  snapshotIntoFile(c.rt, c.request.textFrom(9), c.body);
  return true;
}

}  // namespace veltris::agent
