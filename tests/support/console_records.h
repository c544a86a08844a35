#pragma once
// Builders of the agent's reply records for the console's tests.
#include <cstring>
#include <string>

#include "common/broadcast_records.h"
#include "common/detail_record.h"
#include "common/reply_records.h"

namespace veltris::console::testing {

// Blank-padded, unterminated, as the agent sends session texts.
template <size_t N>
void padded(char (&field)[N], const std::string& text) {
  std::memset(field, ' ', N);
  std::memcpy(field, text.data(), std::min(N, text.size()));
}
template <size_t N>
void terminated(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(N - 1, text.size()));
}

struct Counters {
  float bytesSent = 0;
  uint32_t pktsSent = 0, broadcasts = 0, errors = 0;
  float bytesRecv = 0;
  uint32_t pktsRecv = 0;
};

inline PartnerStatRecord statRecord(uint32_t adapter, const std::string& station, const std::string& proto,
                                    const std::string& name, const std::string& time, Counters c) {
  PartnerStatRecord r{};
  std::memcpy(r.tag, kPartnerStatTag, 4);
  r.adapterNumber = adapter;
  padded(r.station, station);
  padded(r.protoAddr, proto);
  padded(r.roleLabel, "");
  padded(r.hostName, name);
  padded(r.lastSeen, time);
  r.bytesSent = c.bytesSent;
  r.framesSent = c.pktsSent;
  r.broadcasts = c.broadcasts;
  r.errors = c.errors;
  r.bytesReceived = c.bytesRecv;
  r.framesReceived = c.pktsRecv;
  return r;
}

inline DetailRecord detailRecord(uint32_t sequence, const std::string& direction, const std::string& protocol = "TCP",
                                 uint32_t adapter = 1) {
  DetailRecord r{};
  std::memcpy(r.tag, kDetailTag, 4);
  r.adapter = adapter;
  r.sequence = sequence;
  r.length = 60 + sequence % 1400;
  terminated(r.time, "10:11:12");
  terminated(r.station, "02:00:00:00:00:05");
  terminated(r.protoAddr, "IP 192.168.7.5");
  terminated(r.hostName, "PEER");
  std::memcpy(r.direction, direction.data(), 4);
  terminated(r.destination, "IP 192.168.7.1");
  terminated(r.description, "low level " + std::to_string(sequence));
  terminated(r.protocol, protocol + " " + std::to_string(sequence));
  padded(r.errorText, "");
  return r;
}

inline BroadcastEntryRecord broadcastEntry(uint32_t adapter, const std::string& station, const std::string& time,
                                           uint32_t last15, uint32_t last1) {
  BroadcastEntryRecord r{};
  std::memcpy(r.tag, kBroadcastEntryTag, 4);
  r.adapter = adapter;
  terminated(r.station, station);
  terminated(r.protoAddr, "IP " + station);
  terminated(r.hostName, station);
  terminated(r.time, time);
  r.windowCount = last15;
  r.lastMinuteCount = last1;
  terminated(r.keyText, "ARP request");
  terminated(r.destination, "FF:FF:FF:FF:FF:FF");
  return r;
}

}  // namespace veltris::console::testing
