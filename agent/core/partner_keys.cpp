#include "agent/core/partner_keys.h"

#include <cstring>
#include <string_view>


namespace veltris::agent {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

char* putHex(char* out, uint8_t byte) {
  out[0] = kHexDigits[byte >> 4];
  out[1] = kHexDigits[byte & 0x0F];
  return out + 2;
}

char* putDecimal(char* out, uint8_t byte) {
  if (byte >= 100) *out++ = static_cast<char>('0' + byte / 100);
  if (byte >= 10) *out++ = static_cast<char>('0' + byte / 10 % 10);
  *out++ = static_cast<char>('0' + byte % 10);
  return out;
}

std::string_view protocolWordView(Protocol protocol) {
  switch (protocol) {
    case Protocol::Ip: return "IP";
    case Protocol::Ipx: return "IPX";
    case Protocol::Appletalk: return "Appletalk";
    case Protocol::NetBEUI: return "NetBEUI";
    case Protocol::Sna: return "SNA";
    case Protocol::Ipv6: return "";
    case Protocol::Misc: break;
  }
  return "<misc>";
}

}  // namespace

const char* protocolWord(Protocol protocol) { return protocolWordView(protocol).data(); }

PartnerKey makePartnerKey(StationClass station, const uint8_t mac[6], NetworkKind kind, const NetAddress& address,
                          Protocol protocol) {
  // The modem texts carry no MAC address, so every address of a side is one key.
  // Loads as wide as the handlers' stores were, so each comes straight from its store.
  uint64_t macBits = 0;
  if (station == StationClass::Other || station == StationClass::Self) {
    uint32_t first;
    uint16_t last;
    std::memcpy(&first, mac, 4);
    std::memcpy(&last, mac + 4, 2);
    macBits = first | uint64_t{last} << 32;
  }
  PartnerKey key;
  key.words[0] = macBits | uint64_t{static_cast<uint8_t>(station)} << 48 | uint64_t{static_cast<uint8_t>(protocol)} << 56;
  if (kind == NetworkKind::Ipv6) {
    // The protocol byte tells IPv6 keys apart; the address takes both other words.
    std::memcpy(&key.words[1], address.bytes, 8);
    std::memcpy(&key.words[2], address.bytes + 8, 8);
    return key;
  }
  // Only the bytes the texts show: 4 for IP, 10 for IPX, none otherwise.
  uint64_t low = 0;
  uint16_t high = 0;
  if (kind == NetworkKind::Ip) {
    uint32_t ip;
    std::memcpy(&ip, address.bytes, 4);
    low = ip;
  } else if (kind == NetworkKind::Ipx) {
    std::memcpy(&low, address.bytes, 8);
    std::memcpy(&high, address.bytes + 8, 2);
  }
  key.words[1] = low;
  key.words[2] = uint64_t{high} | uint64_t{static_cast<uint8_t>(kind)} << 16;
  return key;
}

void formatStationText(char out[kStationTextSize], StationClass station, const uint8_t mac[6]) {
  std::memset(out, 0, kStationTextSize);
  if (station == StationClass::LocalModem) {
    std::memcpy(out, "*LOCAL_MODEM", 12);
    return;
  }
  if (station == StationClass::RemoteModem) {
    std::memcpy(out, "REMOTE_MODEM", 12);
    return;
  }
  char* p = out;
  if (station == StationClass::Self) *p++ = '*';
  for (int i = 0; i < 6; ++i) p = putHex(p, mac[i]);
}

size_t formatIpv6(char out[kIpv6TextSize], const uint8_t address[16]) {
  uint16_t groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = static_cast<uint16_t>(address[2 * i] << 8 | address[2 * i + 1]);
  int bestStart = -1, bestLength = 1;  // a single zero group is written out
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLength) bestStart = i, bestLength = j - i;
    i = j;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  char* p = out;
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      *p++ = ':';
      if (i == 0) *p++ = ':';
      i += bestLength - 1;
      continue;
    }
    bool leading = true;
    for (int shift = 12; shift >= 0; shift -= 4) {
      int digit = groups[i] >> shift & 0x0F;
      if (leading && digit == 0 && shift != 0) continue;
      leading = false;
      *p++ = kDigits[digit];
    }
    if (i != 7) *p++ = ':';
  }
  *p = '\0';
  return static_cast<size_t>(p - out);
}

size_t fitIpv6Text(char* out, size_t room, const char* full, size_t n) {
  if (n <= room) {
    std::memcpy(out, full, n);
    out[n] = '\0';
    return n;
  }
  const size_t head = room / 2, tail = room - head - 1;
  std::memcpy(out, full, head);
  out[head] = '~';
  std::memcpy(out + head + 1, full + n - tail, tail);
  out[room] = '\0';
  return room;
}

void formatProtoAddrText(char out[kProtoAddrTextSize], NetworkKind kind, const NetAddress& address, Protocol protocol) {
  if (kind == NetworkKind::Ipv6) {
    char full[kIpv6TextSize];
    size_t n = formatIpv6(full, address.bytes);
    std::memset(out, 0, kProtoAddrTextSize);
    fitIpv6Text(out, kProtoAddrTextSize - 1, full, n);
    return;
  }
  // Every IP and IPX text fits the field ("IPX " and 21 characters at most).
  std::memset(out, 0, kProtoAddrTextSize);
  std::string_view word = protocolWordView(protocol);
  std::memcpy(out, word.data(), word.size());
  char* p = out + word.size();
  const uint8_t* a = address.bytes;
  if (kind == NetworkKind::Ip) {
    *p++ = ' ';
    for (int i = 0; i < 4; ++i) {
      if (i != 0) *p++ = '.';
      p = putDecimal(p, a[i]);
    }
  } else if (kind == NetworkKind::Ipx) {
    *p++ = ' ';
    for (int i = 0; i < 4; ++i) p = putHex(p, a[i]);
    *p++ = ':';
    for (int i = 4; i < 10; ++i) p = putHex(p, a[i]);
  }
}

}  // namespace veltris::agent
