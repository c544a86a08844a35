#include "agent/core/names.h"

#include <cstring>

#include "common/text_field.h"

namespace veltris::agent {
namespace {

constexpr size_t kMaxNameChars = 32;

bool sameKey(const StationName& entry, const char* station, const char* protoAddr) {
  return std::strncmp(entry.station, station, kStationTextSize) == 0 &&
         std::strncmp(entry.protoAddr, protoAddr, kProtoAddrTextSize) == 0;
}

void copyName(char* out, size_t size, const char* name) {
  std::memset(out, 0, size);
  std::memcpy(out, name, size < kHostNameSize ? size : kHostNameSize);
}

// The examined head of a DNS message; bytes past the capture are zero.
constexpr uint16_t kTypeA = 1;
constexpr uint16_t kTypeAaaa = 28;

struct DnsMessage {
  uint8_t bytes[kDnsHarvestBytes];
  ByteView view{bytes, kDnsHarvestBytes};

  explicit DnsMessage(FrameView message) { message.copy(0, kDnsHarvestBytes, bytes); }
  DnsMessage(const DnsMessage&) = delete;
  uint8_t at(size_t i) const { return view.u8(i); }
  uint16_t be16(size_t i) const { return view.be16(i); }
};

// Offset after the name at pos: labels up to the zero label, or up to and including a pointer.
size_t skipName(const DnsMessage& m, size_t pos) {
  while (pos < kDnsHarvestBytes) {
    uint8_t length = m.at(pos);
    if (length >= 0xC0) return pos + 2;
    pos += 1 + length;
    if (length == 0) break;
  }
  return pos;
}

// The labels at pos joined by dots, whole labels only, within 32 characters.
void nameText(const DnsMessage& m, size_t pos, char out[kHostNameSize]) {
  size_t n = 0;
  while (pos < kDnsHarvestBytes) {
    uint8_t length = m.at(pos);
    if (length == 0 || length >= 0xC0) break;
    size_t needed = n == 0 ? length : n + 1 + length;
    if (needed > kMaxNameChars) break;
    if (n != 0) out[n++] = '.';
    for (size_t i = 0; i < length; ++i) out[n++] = static_cast<char>(m.at(pos + 1 + i));
    pos += 1 + length;
  }
  std::memset(out + n, 0, kHostNameSize - n);
}

void storeDnsName(NicArea& nic, const DnsMessage& m, size_t namePos, size_t dataPos) {
  DnsName& slot = nic.dnsCache[nic.dnsCount % kDnsCacheSize];
  nic.dnsCount += 1;
  for (int i = 0; i < 4; ++i) slot.address[i] = m.at(dataPos + i);
  nameText(m, namePos, slot.name);
}

void storeIpv6DnsName(NicArea& nic, const DnsMessage& m, size_t namePos, size_t dataPos) {
  Ipv6DnsName& slot = nic.ipv6DnsCache[nic.ipv6DnsCount % kDnsCacheSize];
  nic.ipv6DnsCount += 1;
  for (int i = 0; i < 16; ++i) slot.address[i] = m.at(dataPos + i);
  nameText(m, namePos, slot.name);
}

template <typename Cache>
void lookupIn(const Cache& cache, const uint8_t* address, size_t length, char* out, size_t size) {
  for (const auto& e : cache) {
    if (e.name[0] == '\0') break;
    if (std::memcmp(e.address, address, length) == 0) {
      copyName(out, size, e.name);
      return;
    }
  }
  std::memset(out, 0, size);
}

bool inList(const uint32_t* list, uint32_t address) {
  for (int i = 0; i < kAddressListSize && list[i] != 0; ++i)
    if (list[i] == address) return true;
  return false;
}

}  // namespace

void updateStationName(NicArea& nic, const char* station, const char* protoAddr, const char* name, uint32_t now) {
  int chosen = -1;
  int oldest = 0;  // when every entry is from this second (or later): the oldest one
  for (int i = 0; i < kStationNameCount; ++i) {
    StationName& e = nic.stationNames[i];
    if (e.time == 0) {
      chosen = i;
      break;
    }
    if (sameKey(e, station, protoAddr)) {
      e.time = now;
      copyText(e.name, kHostNameSize, name);
      return;
    }
    if (e.time < now && (chosen < 0 || e.time < nic.stationNames[chosen].time)) chosen = i;
    if (e.time < nic.stationNames[oldest].time) oldest = i;
  }
  StationName& e = nic.stationNames[chosen >= 0 ? chosen : oldest];
  e.time = now;
  copyText(e.station, kStationTextSize, station);
  copyText(e.protoAddr, kProtoAddrTextSize, protoAddr);
  copyText(e.name, kHostNameSize, name);
}

void lookupStationName(const NicArea& nic, const char* station, const char* protoAddr, char* out, size_t size) {
  for (const StationName& e : nic.stationNames) {
    if (e.time == 0) break;
    if (sameKey(e, station, protoAddr)) {
      copyName(out, size, e.name);
      return;
    }
  }
  std::memset(out, 0, size);
}

void harvestDnsReply(NicArea& nic, FrameView message) {
  const DnsMessage m(message);
  uint16_t questions = m.be16(4);
  uint16_t answers = m.be16(6);
  size_t pos = 12;
  for (uint16_t q = 0; q < questions && pos < kDnsHarvestBytes; ++q) pos = skipName(m, pos) + 4;
  for (uint16_t a = 0; a < answers && pos < kDnsHarvestBytes; ++a) {
    size_t namePos = pos;
    if (m.at(pos) >= 0xC0) namePos = (m.at(pos) & 0x3Fu) << 8 | m.at(pos + 1);
    pos = skipName(m, pos);
    uint16_t type = m.be16(pos);
    uint16_t dataLength = m.be16(pos + 8);
    size_t dataPos = pos + 10;
    if (type == kTypeA && dataLength == 4 && dataPos + 4 <= kDnsHarvestBytes) storeDnsName(nic, m, namePos, dataPos);
    if (type == kTypeAaaa && dataLength == 16 && dataPos + 16 <= kDnsHarvestBytes)
      storeIpv6DnsName(nic, m, namePos, dataPos);
    pos = dataPos + dataLength;
  }
}

void lookupDnsName(const NicArea& nic, const uint8_t ipv4[4], char* out, size_t size) {
  lookupIn(nic.dnsCache, ipv4, 4, out, size);
}

void lookupIpv6DnsName(const NicArea& nic, const uint8_t ipv6[16], char* out, size_t size) {
  lookupIn(nic.ipv6DnsCache, ipv6, 16, out, size);
}

const char* roleText(const AddressLists& lists, const uint8_t ipv4[4]) {
  uint32_t address;
  std::memcpy(&address, ipv4, 4);
  if (address == 0) return "";
  if (inList(lists.own, address)) return "Self";
  if (inList(lists.gateways, address)) return "GW";
  if (inList(lists.dns, address)) return "DNS";
  if (inList(lists.wins, address)) return "WINS";
  return "";
}

}  // namespace veltris::agent
