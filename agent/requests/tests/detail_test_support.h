#pragma once
// Shared by the detail and broadcast reply tests: an agent state with rings
// filled directly, crafted frames, and readers for the reply records.
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/core/names.h"
#include "agent/core/state.h"
#include "common/broadcast_records.h"
#include "common/detail_record.h"

namespace veltris::agent::testing {

using Bytes = std::vector<uint8_t>;

// A broadcast ARP request from `senderMac` / `senderIp` looking for `targetIp`.
inline Bytes arpRequest(const uint8_t (&senderMac)[6], const uint8_t (&senderIp)[4], const uint8_t (&targetIp)[4]) {
  Bytes f(6, 0xFF);
  f.insert(f.end(), senderMac, senderMac + 6);
  f.insert(f.end(), {0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x01});
  f.insert(f.end(), senderMac, senderMac + 6);
  f.insert(f.end(), senderIp, senderIp + 4);
  f.insert(f.end(), 6, 0);
  f.insert(f.end(), targetIp, targetIp + 4);
  return f;
}

// An Ethernet II frame of an unknown type: decodes to a generic text.
inline Bytes otherFrame(uint16_t type) {
  Bytes f = {0x00, 0x60, 0x08, 0x01, 0x02, 0x03, 0x00, 0xA0, 0x24, 0x04, 0x05, 0x06};
  f.push_back(static_cast<uint8_t>(type >> 8));
  f.push_back(static_cast<uint8_t>(type));
  f.resize(60, 0);
  return f;
}

inline void setText(char* field, size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

inline std::string fieldText(const char* field, size_t width) { return std::string(field, strnlen(field, width)); }

inline PacketRecord packet(uint32_t sequence, const Bytes& frame, uint32_t time = 1000000) {
  PacketRecord r{};
  r.complete = 1;
  r.time = time;
  r.sequence = sequence;
  r.length = static_cast<uint32_t>(frame.size());
  setText(r.station, sizeof r.station, "00A024040506");
  setText(r.protoAddr, sizeof r.protoAddr, "<misc>");
  std::memcpy(r.frame, frame.data(), std::min(frame.size(), sizeof r.frame));
  return r;
}

inline BroadcastRecord broadcast(uint32_t sequence, uint32_t time, const std::string& station,
                                 const std::string& protoAddr, const Bytes& frame) {
  BroadcastRecord r{};
  r.time = time;
  r.sequence = sequence;
  setText(r.station, sizeof r.station, station);
  setText(r.protoAddr, sizeof r.protoAddr, protoAddr);
  std::memcpy(r.frame, frame.data(), std::min(frame.size(), sizeof r.frame));
  return r;
}

// "hh:mm:ss" of a time, as the local clock shows it.
inline std::string localClock(time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

// An agent state with `adapters` NIC areas whose rings the tests fill.
struct RingAgent {
  explicit RingAgent(int adapters = 1) {
    global.adapterCount = adapters;
    for (int i = 0; i < adapters; ++i) {
      global.nics[i] = std::make_unique<NicArea>();
      global.nics[i]->index = i;
    }
  }
  NicArea& nic(int i = 0) { return *global.nics[i]; }

  // Appends a broadcast to an adapter's ring as the capture thread does.
  void addBroadcast(int adapter, const BroadcastRecord& record) {
    NicArea& n = nic(adapter);
    uint32_t count = n.broadcastCount.load();
    n.broadcasts.publish(count % kBroadcastRingSize, record);
    n.broadcastCount.store(count + 1);
    if (record.sequence.get() > global.totals.sequence.load()) global.totals.sequence.store(record.sequence.get());
  }

  int addPartner(int adapter, const std::string& station, const std::string& protoAddr, const std::string& host,
                 const std::string& role) {
    NicArea& n = nic(adapter);
    std::lock_guard lock(n.tableMutex);
    PartnerRecord& p = n.partners[n.partnerCount].record;
    p = PartnerRecord{};
    setText(p.station, sizeof p.station, station);
    setText(p.protoAddr, sizeof p.protoAddr, protoAddr);
    setText(p.hostName, sizeof p.hostName, host);
    setText(p.roleLabel, sizeof p.roleLabel, role);
    return ++n.partnerCount;  // the reference rings keep: index + 1
  }

  void addStationName(int adapter, const std::string& station, const std::string& protoAddr, const std::string& name) {
    NicArea& n = nic(adapter);
    std::lock_guard lock(n.tableMutex);
    char s[kStationTextSize] = {};
    char p[kProtoAddrTextSize] = {};
    setText(s, sizeof s, station);
    setText(p, sizeof p, protoAddr);
    updateStationName(n, s, p, name.c_str(), 1000);
  }

  GlobalArea global;
};

inline std::vector<DetailRecord> detailRecords(const std::string& body) {
  std::vector<DetailRecord> out(body.size() / sizeof(DetailRecord));
  if (!out.empty()) std::memcpy(out.data(), body.data(), out.size() * sizeof(DetailRecord));
  return out;
}

struct BroadcastReply {
  BroadcastHeaderRecord header{};
  std::vector<BroadcastEntryRecord> entries;
};

inline BroadcastReply broadcastReply(const std::string& body) {
  BroadcastReply reply;
  if (body.size() < sizeof reply.header) return reply;
  std::memcpy(&reply.header, body.data(), sizeof reply.header);
  reply.entries.resize((body.size() - sizeof reply.header) / sizeof(BroadcastEntryRecord));
  if (!reply.entries.empty())
    std::memcpy(reply.entries.data(), body.data() + sizeof reply.header,
                reply.entries.size() * sizeof(BroadcastEntryRecord));
  return reply;
}

}  // namespace veltris::agent::testing
