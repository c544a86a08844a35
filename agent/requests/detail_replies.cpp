#include "agent/requests/detail_replies.h"

#include <array>
#include <cstring>
#include <ctime>
#include <mutex>
#include <span>

#include "agent/core/names.h"
#include "agent/requests/detail_reply_parts.h"

namespace veltris::agent {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Direction markers by frame kind; other kinds show as a received broadcast.
constexpr std::array<const char*, 6> kDirectionMarkers = {"<<  ", "<-  ", "<=  ", "  >>", "  ->", "  =>"};

// Error type texts by error kind: 16 characters, blank-padded, no terminator.
constexpr std::array<const char*, 7> kErrorTexts = {
    "                ", "TCP Re-transmit ", "DNS Re-transmit ", "ARP Re-transmit ",
    "TCP RESET       ", "ICMP ERROR      ", "LLC ERROR       ",
};
constexpr char kUnknownErrorText[] = "?               ";

const char* directionMarker(uint32_t frameKind) {
  return frameKind < kDirectionMarkers.size() ? kDirectionMarkers[frameKind] : kDirectionMarkers[0];
}

const char* errorText(uint32_t errorKind) {
  return errorKind < kErrorTexts.size() ? kErrorTexts[errorKind] : kUnknownErrorText;
}

void writeClock(int64_t secondOfDay, char* out) {
  const int fields[3] = {static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                         static_cast<int>(secondOfDay % 60)};
  for (int i = 0; i < 3; ++i) {
    out[i * 3] = static_cast<char>('0' + fields[i] / 10 % 10);
    out[i * 3 + 1] = static_cast<char>('0' + fields[i] % 10);
    out[i * 3 + 2] = i < 2 ? ':' : '\0';
  }
}

bool localTime(int64_t time, std::tm& out) {
  const std::time_t t = static_cast<std::time_t>(time);
  return localtime_r(&t, &out) != nullptr;
}

bool sameKey(const PartnerRecord& partner, const char* station, const char* protoAddr) {
  return std::strncmp(partner.station, station, kStationTextSize) == 0 &&
         std::strncmp(partner.protoAddr, protoAddr, kProtoAddrTextSize) == 0;
}

// Detail records of one ring, in slot order.
template <size_t Capacity>
void appendRingDetails(const NicArea& nic, int adapterIndex, const SeqRing<PacketRecord, Capacity>& ring,
                       uint32_t sinceSequence, std::string& body) {
  AddressLists addresses;
  const decode::DecodeContext context = decode::decodeContextFor(nic, addresses);
  PacketRecord entry;
  DetailRecord record;
  for (size_t slot = 0; slot < Capacity; ++slot) {
    // A slot never written reads like one being rewritten. Slots fill from 0
    // upwards, so skipping it ends the walk just as stopping would.
    if (!ring.read(slot, entry)) continue;
    const uint32_t sequence = entry.sequence.get();
    if (sequence == 0) break;
    if (sequence <= sinceSequence || entry.complete == 0) continue;
    buildDetailRecord(nic, adapterIndex, context, entry, record);
    body.append(reinterpret_cast<const char*>(&record), sizeof record);
  }
}

template <typename RingOf>
void appendAllAdapters(const GlobalArea& global, uint32_t sinceSequence, std::string& body, RingOf ringOf) {
  for (int i = 0; i < global.adapterCount && i < kMaxAdapters; ++i) {
    const NicArea* nic = global.nics[i].get();
    if (nic != nullptr) appendRingDetails(*nic, i, ringOf(*nic), sinceSequence, body);
  }
}

}  // namespace

void copyTextBytes(char* field, size_t width, const char* source, size_t sourceWidth) {
  const size_t n = strnlen(source, width < sourceWidth ? width : sourceWidth);
  std::memcpy(field, source, n);
  std::memset(field + n, 0, width - n);
}

void formatLocalClock(int64_t time, char* out) {
  std::tm local{};
  if (!localTime(time, local)) {
    writeClock(((time % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay, out);
    return;
  }
  writeClock(int64_t{local.tm_hour} * 3600 + local.tm_min * 60 + local.tm_sec, out);
}

WindowClock::WindowClock(int64_t start, int64_t end) : start_(start), end_(end) {
  std::tm first{};
  std::tm last{};
  if (localTime(start, first) && localTime(end, last) && first.tm_gmtoff == last.tm_gmtoff) {
    offset_ = first.tm_gmtoff;
    fixedOffset_ = true;
  }
}

void WindowClock::format(int64_t time, char* out) const {
  if (!fixedOffset_ || time < start_ || time > end_) {
    formatLocalClock(time, out);
    return;
  }
  writeClock(((time + offset_) % kSecondsPerDay + kSecondsPerDay) % kSecondsPerDay, out);
}

SourceNames sourceNamesFor(const NicArea& nic, uint32_t partnerRef, const char (&station)[kStationTextSize],
                           const char (&protoAddr)[kProtoAddrTextSize]) {
  SourceNames names;
  std::lock_guard lock(nic.tableMutex);
  if (partnerRef != 0 && partnerRef <= static_cast<uint32_t>(nic.partnerCount)) {
    const PartnerRecord& partner = nic.partners[partnerRef - 1].record;
    if (sameKey(partner, station, protoAddr)) {
      std::memcpy(names.roleLabel, partner.roleLabel, sizeof names.roleLabel);
      copyTextBytes(names.hostName, sizeof names.hostName, partner.hostName, sizeof partner.hostName);
      return names;
    }
  }
  lookupStationName(nic, station, protoAddr, names.hostName, sizeof names.hostName);
  return names;
}

void buildDetailRecord(const NicArea& nic, int adapterIndex, const decode::DecodeContext& context,
                       const PacketRecord& entry, DetailRecord& out) {
  std::memset(&out, 0, sizeof out);
  std::memcpy(out.tag, kDetailTag, sizeof out.tag);
  out.adapter = static_cast<uint32_t>(adapterIndex + 1);
  out.sequence = entry.sequence.get();
  out.length = entry.length.get();
  formatLocalClock(entry.time.get(), out.time);
  copyTextBytes(out.station, sizeof out.station, entry.station, sizeof entry.station);
  copyTextBytes(out.protoAddr, sizeof out.protoAddr, entry.protoAddr, sizeof entry.protoAddr);

  const SourceNames names = sourceNamesFor(nic, entry.partner.get(), entry.station, entry.protoAddr);
  std::memcpy(out.roleLabel, names.roleLabel, sizeof out.roleLabel);
  std::memcpy(out.hostName, names.hostName, sizeof out.hostName);
  std::memcpy(out.direction, directionMarker(entry.frameKind.get()), sizeof out.direction);

  // Token Ring MAC frames may overwrite the station, protocol and direction fields.
  decode::prepareDecodedFields(out);
  decode::describeFrame(context, std::span<const uint8_t>(entry.frame), out);
  out.mediaType = static_cast<uint32_t>(context.mediaType);
  std::memcpy(out.errorText, errorText(entry.errorKind.get()), sizeof out.errorText);
}

void appendDetails(const GlobalArea& global, uint32_t sinceSequence, std::string& body) {
  appendAllAdapters(global, sinceSequence, body, [](const NicArea& nic) -> const auto& { return nic.packets; });
}

void appendErrors(const GlobalArea& global, uint32_t sinceSequence, std::string& body) {
  appendAllAdapters(global, sinceSequence, body, [](const NicArea& nic) -> const auto& { return nic.errors; });
}

}  // namespace veltris::agent
