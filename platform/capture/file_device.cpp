#include "platform/capture/file_device.h"

#include <charconv>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/capture/oid_answer.h"

namespace veltris::capture {
namespace {

// Counts how often each address occurs; the first seen wins a tie.
class AddressTally {
 public:
  void add(const uint8_t* bytes, uint8_t length) {
    for (Entry& entry : entries_) {
      if (entry.length == length && std::memcmp(entry.bytes.data(), bytes, length) == 0) {
        ++entry.count;
        return;
      }
    }
    Entry entry;
    std::memcpy(entry.bytes.data(), bytes, length);
    entry.length = length;
    entries_.push_back(entry);
  }
  struct Entry {
    std::array<uint8_t, 16> bytes{};
    uint8_t length = 0;
    int count = 1;
  };
  const Entry* best() const {
    const Entry* winner = nullptr;
    for (const Entry& entry : entries_)
      if (winner == nullptr || entry.count > winner->count) winner = &entry;
    return winner;
  }

 private:
  std::vector<Entry> entries_;
};

bool libpcapVersion(uint32_t& major, uint32_t& minor) {
  const std::string_view text = pcap_lib_version();
  const size_t digit = text.find_first_of("0123456789");
  if (digit == std::string_view::npos) return false;
  const char* end = text.data() + text.size();
  auto first = std::from_chars(text.data() + digit, end, major);
  if (first.ec != std::errc() || first.ptr == end || *first.ptr != '.') return false;
  return std::from_chars(first.ptr + 1, end, minor).ec == std::errc();
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Where the addresses stand in a frame of the link, and which bit marks a group
// destination. Token Ring sources carry the routing information bit (0x80).
struct MacLayout {
  uint32_t destination, source;
  uint8_t groupBit, sourceMask;
};
constexpr MacLayout kEthernetLayout{0, 6, 0x01, 0xFF};
constexpr MacLayout kTokenRingLayout{2, 8, 0x80, 0x7F};

void sourceAddress(const MacLayout& layout, const u_char* bytes, uint8_t out[6]) {
  std::memcpy(out, bytes + layout.source, 6);
  out[0] &= layout.sourceMask;
}

}  // namespace

bool firstFrameTime(std::string_view adapterName, uint32_t& seconds) {
  CaptureFileName name;
  std::string error;
  if (!isCaptureFileName(adapterName) || !parseCaptureFileName(adapterName, name, error)) return false;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(name.path, ec)) return false;  // a pipe cannot be read twice
  char errorBuffer[PCAP_ERRBUF_SIZE] = {};
  pcap_t* pcap = pcap_open_offline(name.path.c_str(), errorBuffer);
  if (pcap == nullptr) return false;
  pcap_pkthdr* header = nullptr;
  const u_char* bytes = nullptr;
  const bool found = pcap_next_ex(pcap, &header, &bytes) == 1;
  if (found) seconds = static_cast<uint32_t>(header->ts.tv_sec);
  pcap_close(pcap);
  return found;
}

namespace {

}  // namespace

std::unique_ptr<Device> FileDevice::open(std::string_view adapterName, std::string& error) {
  std::unique_ptr<FileDevice> device(new FileDevice());
  if (!parseCaptureFileName(adapterName, device->name_, error) || !device->openFile(error)) return nullptr;
  device->dlt_ = pcap_datalink(device->pcap_);
  if (!isSupportedLink(device->dlt_)) {
    error = "cannot replay " + device->name_.path + ": link type " + linkName(device->dlt_) +
            " is not supported (Ethernet, Token Ring, raw IP, Linux cooked, PPP and BSD loopback are)";
    return nullptr;
  }
  device->tokenRing_ = isTokenRingLink(device->dlt_);
  device->wan_ = !isEthernetLink(device->dlt_) && !device->tokenRing_;
  if (device->wan_) {
    device->surveyLocalAddress();
    if (device->name_.hasStation) device->choice_ += "; the station address after '@' does not apply to a WAN link";
  } else if (device->name_.hasStation) {
    device->station_ = device->name_.station;
    device->choice_ = "station address " + macText(device->station_.data()) + " as given after '@'";
  } else {
    device->surveyStation();
  }
  if (!device->openFile(error)) return nullptr;  // back to the first frame
  auto blocks = std::make_unique<PcapBlockReader>();
  if (blocks->open(device->name_.path)) device->blocks_ = std::move(blocks);
  return device;
}

FileDevice::~FileDevice() {
  if (pcap_ != nullptr) pcap_close(pcap_);
}

bool FileDevice::openFile(std::string& error) {
  if (pcap_ != nullptr) pcap_close(pcap_);
  char errorBuffer[PCAP_ERRBUF_SIZE] = {};
  pcap_ = pcap_open_offline(name_.path.c_str(), errorBuffer);
  if (pcap_ == nullptr) {
    error = "cannot replay " + name_.path + ": " + errorBuffer;
    return false;
  }
  return true;
}

// The station is the source address found in most of the first frames.
void FileDevice::surveyStation() {
  const MacLayout& layout = tokenRing_ ? kTokenRingLayout : kEthernetLayout;
  AddressTally tally;
  pcap_pkthdr* header = nullptr;
  const u_char* bytes = nullptr;
  for (int i = 0; i < kSurveyFrames && pcap_next_ex(pcap_, &header, &bytes) == 1; ++i) {
    if (header->caplen < layout.source + 6) continue;
    uint8_t source[6];
    sourceAddress(layout, bytes, source);
    tally.add(source, 6);
  }
  const AddressTally::Entry* best = tally.best();
  if (best == nullptr) {
    choice_ = "no frames to choose a station address from: 00:00:00:00:00:00";
    return;
  }
  std::memcpy(station_.data(), best->bytes.data(), 6);
  choice_ = "station address " + macText(station_.data()) + ", the most frequent source among the first " +
            std::to_string(kSurveyFrames) + " frames (" + std::to_string(best->count) + " of them)";
}

// Links whose headers carry no direction: frames from the IP address found most
// often as a source count as sent by this station.
void FileDevice::surveyLocalAddress() {
  AddressTally tally;
  pcap_pkthdr* header = nullptr;
  const u_char* bytes = nullptr;
  bool directionKnown = false;
  for (int i = 0; i < kSurveyFrames && pcap_next_ex(pcap_, &header, &bytes) == 1; ++i) {
    WanHeader wan;
    if (!parseWanHeader(dlt_, bytes, header->caplen, wan)) continue;
    if (wan.direction != Direction::Unknown) {
      directionKnown = true;
      break;
    }
    const uint8_t* ip = bytes + wan.headerLength;
    const uint32_t available = header->caplen - wan.headerLength;
    if (wan.protocol == 0x0800 && available >= 16) tally.add(ip + 12, 4);
    if (wan.protocol == 0x86DD && available >= 24) tally.add(ip + 8, 16);
  }
  const std::string link = "WAN link (" + linkName(dlt_) + ")";
  const AddressTally::Entry* best = tally.best();
  if (directionKnown || best == nullptr) {
    choice_ = link + (directionKnown ? ", direction from the link header" : ", no IP source seen: all frames received");
    return;
  }
  std::memcpy(local_.bytes.data(), best->bytes.data(), best->length);
  local_.length = best->length;
  choice_ = link + ", frames from " + local_.text() + " (the most frequent IP source among the first " +
            std::to_string(kSurveyFrames) + " frames) count as sent";
}

bool FileDevice::query(uint32_t oid, void* data, uint32_t len) {
  static constexpr uint8_t kZeroAddress[6] = {};
  uint32_t major = 0, minor = 0;
  switch (oid) {
    case oid::kGenMediaInUse: return answerNumber(data, len, tokenRing_ ? 1 : 0);
    case oid::k8023CurrentAddress:
      return !tokenRing_ && answerAddress(data, len, wan_ ? kZeroAddress : station_.data());
    case oid::k8025CurrentAddress: return tokenRing_ && answerAddress(data, len, station_.data());
    case oid::kWanPermanentAddress: return wan_ && answerAddress(data, len, kZeroAddress);
    case oid::kGenDriverVersion: return answerNumber(data, len, kNdisVersion);
    case oid::kGenVendorDriverVersion:
      return libpcapVersion(major, minor) && answerNumber(data, len, versionWord(major, minor));
    case oid::kGenMacOptions: return answerNumber(data, len, kMacOptionNoLoopback);
    case oid::kGenHardwareStatus: return answerNumber(data, len, 0);      // Ready
    case oid::kGenMediaConnectStatus: return answerNumber(data, len, 0);  // Connected
    default: return false;  // a file knows no link speed and no error counters
  }
}

bool FileDevice::set(uint32_t oid, const void* data, uint32_t len) {
  if (oid != oid::kGenCurrentPacketFilter || len != 4 || data == nullptr) return false;
  {
    std::lock_guard lock(filterMutex_);
    filter_.store(loadLittleEndian32(data), std::memory_order_relaxed);
  }
  filterSet_.notify_all();
  return true;
}

// With filter 0 nothing is delivered; the file waits where it is.
bool FileDevice::waitForFilter(std::chrono::milliseconds maxWait) {
  if (filter_.load(std::memory_order_relaxed) != 0) return true;
  std::unique_lock lock(filterMutex_);
  return filterSet_.wait_for(lock, maxWait, [this] { return filter_.load(std::memory_order_relaxed) != 0; });
}

// Without the promiscuous bit a card passes group frames and the frames to and
// from this station only; the replay keeps to the same rule.
bool FileDevice::passesFilter(const u_char* bytes, uint32_t captured) const {
  if (wan_ || (filter_.load(std::memory_order_relaxed) & filter::kPromiscuous) != 0) return true;
  const MacLayout& layout = tokenRing_ ? kTokenRingLayout : kEthernetLayout;
  if (captured < layout.source + 6) return true;
  const u_char* destination = bytes + layout.destination;
  if ((destination[0] & layout.groupBit) != 0) return true;
  uint8_t source[6];
  sourceAddress(layout, bytes, source);
  return std::memcmp(source, station_.data(), 6) == 0 || std::memcmp(destination, station_.data(), 6) == 0;
}

ReadResult FileDevice::read(uint8_t* buffer, FrameRead& frame, std::chrono::milliseconds maxWait) {
  if (gone_) return ReadResult::Gone;
  if (ended_) return ReadResult::End;
  if (!waitForFilter(maxWait)) return ReadResult::Timeout;
  if (blocks_) return readFromBlocks(buffer, frame);
  pcap_pkthdr* header = nullptr;
  const u_char* bytes = nullptr;
  int status = 0;
  do {
    status = pcap_next_ex(pcap_, &header, &bytes);
  } while (status == 1 && !passesFilter(bytes, header->caplen));
  if (status == PCAP_ERROR_BREAK) {
    ended_ = true;
    return ReadResult::End;
  }
  if (status != 1) {
    return gone(fileName(name_.path) + ": capture file damaged after " + std::to_string(delivered_) +
                " frames: " + pcap_geterr(pcap_));
  }
  return deliver(bytes, header->caplen, header->len, static_cast<uint32_t>(header->ts.tv_sec), buffer, frame);
}

ReadResult FileDevice::readFromBlocks(uint8_t* buffer, FrameRead& frame) {
  PcapBlockReader::Record record;
  PcapBlockReader::Next status;
  do {
    status = blocks_->next(record);
  } while (status == PcapBlockReader::Next::Frame && !passesFilter(record.bytes, record.captured));
  if (status == PcapBlockReader::Next::End) {
    ended_ = true;
    return ReadResult::End;
  }
  if (status == PcapBlockReader::Next::Damaged) {
    return gone(fileName(name_.path) + ": capture file damaged after " + std::to_string(delivered_) +
                " frames: " + blocks_->error());
  }
  return deliver(record.bytes, record.captured, record.wireLength, record.seconds, buffer, frame);
}

ReadResult FileDevice::deliver(const u_char* bytes, uint32_t captured, uint32_t wireLength, uint32_t seconds,
                               uint8_t* buffer, FrameRead& frame) {
  frame.stamped = true;
  frame.seconds = seconds;
  if (wan_) {
    storeWanFrame(dlt_, local_, bytes, captured, wireLength, buffer, frame);
  } else {
    storeEthernetFrame(bytes, captured, wireLength, buffer, frame);
  }
  ++delivered_;
  return ReadResult::Frame;
}

ReadResult FileDevice::gone(const std::string& why) {
  error_ = why;
  gone_ = true;
  return ReadResult::Gone;
}

std::string FileDevice::describe() const {
  const std::string kind = wan_ ? "" : tokenRing_ ? "Token Ring, " : "Ethernet, ";
  return fileName(name_.path) + ": replay of capture file " + name_.path + ", " + kind + choice_;
}

}  // namespace veltris::capture
