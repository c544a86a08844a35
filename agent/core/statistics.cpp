#include "agent/core/statistics.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>

#include "agent/core/ip_checks.h"
#include "agent/core/name_lookup.h"
#include "agent/core/names.h"
#include "common/text_field.h"
#include "platform/capture/device.h"

namespace veltris::agent {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void addOne(LeU32& counter) { counter = counter.get() + 1; }

// A NetBIOS name is at most 15 characters.
void copyNetbiosName(char hostName[kHostNameSize], const char name[16]) {
  size_t n = strnlen(name, 15);
  std::memset(hostName, 0, kHostNameSize);
  std::memcpy(hostName, name, n);
}

}  // namespace

FrameFiler::FrameFiler(GlobalArea& global, NicArea& nic, NameLookupWorker* names)
    : global_(global), nic_(nic), names_(names) {
  std::lock_guard lock(nic_.tableMutex);
  knownPartnerCount_ = nic_.partnerCount;
  tcp_.rebuild(nic_);
}

void FrameFiler::noticeTableReset() {
  // Someone emptied the partner table since the last frame: the old
  // partners' connection lists are gone with them.
  if (nic_.partnerCount == 0) nic_.partnerIndex->clear();
  tcp_.rebuild(nic_);
}

void FrameFiler::beginFrame(uint32_t time, const uint8_t* bytes, uint32_t stored, uint32_t wireLength) {
  if (nic_.partnerCount < knownPartnerCount_) noticeTableReset();
  knownPartnerCount_ = nic_.partnerCount;

  sequence_ = global_.totals.sequence.fetch_add(1, kRelaxed) + 1;
  stored = std::min<uint32_t>(stored, kStoredFrameBytes);
  CurrentFrame& cur = nic_.current;
  cur.time = time;
  cur.length = std::max(wireLength, stored);
  cur.broadcast = false;
  cur.sent = false;
  cur.networkHeader = -1;
  cur.netbiosName[0] = '\0';

  // Every field before the frame bytes, then the bytes, zero past the stored ones.
  std::memset(&entry_, 0, offsetof(PacketRecord, frame));
  entry_.time = time;
  entry_.sequence = sequence_;
  entry_.length = cur.length;
  std::memcpy(entry_.frame, bytes, stored);
  std::memset(entry_.frame + stored, 0, kStoredFrameBytes - stored);
}

void FrameFiler::finishFrame(uint32_t ringSlot) {
  entry_.complete = 1;
  if (const uint32_t kind = entry_.errorKind.get(); kind != kNoError) {
    if (kind < kErrorKindCount) nic_.counters.errorKinds[kind].add(1);
    uint32_t errors = nic_.errorCount.load(kRelaxed);
    nic_.errors.publish(errors % kErrorRingSize, entry_);
    nic_.errorCount.store(errors + 1, std::memory_order_release);
  }
  nic_.packets.publish(ringSlot % kPacketRingSize, entry_);
  knownPartnerCount_ = nic_.partnerCount;
}

StationClass FrameFiler::stationClass(const uint8_t mac[6]) const {
  bool wan = nic_.wan.load(kRelaxed);
  bool self = std::memcmp(mac, nic_.station, 6) == 0 || (wan && std::memcmp(mac, capture::kSendMarker.data(), 6) == 0);
  if (wan) return self ? StationClass::LocalModem : StationClass::RemoteModem;
  return self ? StationClass::Self : StationClass::Other;
}

int FrameFiler::lookupPartner(NetworkKind kind, const uint8_t mac[6], const NetAddress& address, Protocol protocol,
                              bool wantTexts) {
  CurrentFrame& cur = nic_.current;
  StationClass station = stationClass(mac);
  PartnerKey key = makePartnerKey(station, mac, kind, address, protocol);
  int found = nic_.partnerIndex->find(key);
  if (found >= 0 && found < nic_.partnerCount) {
    if (wantTexts) {
      const PartnerRecord& r = nic_.partners[found].record;
      std::memcpy(cur.station, r.station, kStationTextSize);
      std::memcpy(cur.protoAddr, r.protoAddr, kProtoAddrTextSize);
    }
    return found;
  }
  formatStationText(cur.station, station, mac);
  formatProtoAddrText(cur.protoAddr, kind, address, protocol);
  // Received group-addressed frames never make partners; a full table makes none.
  if (cur.broadcast && !cur.sent) return -1;
  if (nic_.partnerCount >= kMaxPartners) {
    nic_.counters.unfiled.add(1);
    return -1;
  }
  return createPartner(key, station, kind, address);
}

int FrameFiler::createPartner(const PartnerKey& key, StationClass station, NetworkKind kind,
                              const NetAddress& address) {
  const CurrentFrame& cur = nic_.current;
  int index = nic_.partnerCount++;
  knownPartnerCount_ = nic_.partnerCount;
  Partner& p = nic_.partners[index];
  std::memset(&p.record, 0, sizeof p.record);
  p.bytesSent = 0;
  p.bytesReceived = 0;
  PartnerRecord& r = p.record;
  std::memcpy(r.station, cur.station, kStationTextSize);
  std::memcpy(r.protoAddr, cur.protoAddr, kProtoAddrTextSize);
  r.owner = static_cast<uint32_t>(nic_.index + 1);
  r.firstSeen = cur.time;
  nic_.partnerIndex->insert(key, index);

  if (station == StationClass::Self || station == StationClass::LocalModem) {
    r.self = 1;
    copyText(r.hostName, kHostNameSize, global_.hostName);
    copyText(r.roleLabel, sizeof r.roleLabel, "Self");
    return index;
  }
  lookupStationName(nic_, r.station, r.protoAddr, r.hostName, kHostNameSize);
  if (kind != NetworkKind::Ip) return index;
  std::memcpy(r.ipv4, address.bytes, 4);
  copyText(r.roleLabel, sizeof r.roleLabel, roleText(nic_.addresses, r.ipv4));
  if (r.hostName[0] == '\0') lookupDnsName(nic_, r.ipv4, r.hostName, kHostNameSize);
  if (r.hostName[0] == '\0' && names_ != nullptr && global_.autoIpName.load(kRelaxed) != 0)
    names_->request(nic_, index);
  return index;
}

void FrameFiler::recordFrame(NetworkKind kind, const NetAddress& destination, const NetAddress& source,
                             Protocol protocol) {
  CurrentFrame& cur = nic_.current;
  int partner = lookupPartner(kind, cur.source, source, protocol, true);
  std::memcpy(entry_.station, cur.station, kStationTextSize);
  std::memcpy(entry_.protoAddr, cur.protoAddr, kProtoAddrTextSize);
  entry_.partner = static_cast<uint32_t>(partner + 1);
  if (cur.broadcast)
    recordBroadcast(partner, kind, destination);
  else
    recordSession(partner, kind, destination, protocol);
}

void FrameFiler::recordBroadcast(int source, NetworkKind kind, const NetAddress& destination) {
  const CurrentFrame& cur = nic_.current;
  LiveTotals& g = global_.totals;
  const uint32_t t = cur.time;
  const bool error = entry_.errorKind.get() != kNoError;
  uint32_t count = nic_.broadcastCount.load(kRelaxed);
  uint32_t slot = count % kBroadcastRingSize;
  nic_.broadcastIndex.store(slot, kRelaxed);

  BroadcastRecord& b = broadcast_;
  std::memset(&b, 0, offsetof(BroadcastRecord, frame));
  b.time = t;
  b.sequence = sequence_;
  b.partner = static_cast<uint32_t>(source + 1);
  std::memcpy(b.station, cur.station, kStationTextSize);
  std::memcpy(b.protoAddr, cur.protoAddr, kProtoAddrTextSize);
  std::memcpy(b.frame, entry_.frame, kStoredFrameBytes);

  if (cur.sent) {
    g.lastSent.store(t, kRelaxed);
    if (!error) g.lastBroadcastSent.store(t, kRelaxed);
    (error ? g.errorsSent : g.broadcastsSent).fetch_add(1, kRelaxed);
    (error ? nic_.counters.errorFrames : nic_.counters.broadcasts)[kSent].add(1);
    entry_.frameKind = error ? kErrorSent : kBroadcastSent;
  } else {
    g.lastReceived.store(t, kRelaxed);
    if (!error) g.lastBroadcastReceived.store(t, kRelaxed);
    (error ? g.errorsReceived : g.broadcastsReceived).fetch_add(1, kRelaxed);
    (error ? nic_.counters.errorFrames : nic_.counters.broadcasts)[kReceived].add(1);
    entry_.frameKind = error ? kErrorReceived : kBroadcastReceived;
    if (cur.networkHeader >= 0 && kind == NetworkKind::Ip && destination.bytes[0] < 224)
      std::memcpy(b.ipDestination, destination.bytes, 4);
  }

  if (source >= 0) {
    PartnerRecord& r = nic_.partners[source].record;
    r.lastSeen = t;
    r.changeStamp = sequence_;
    addOne(error ? r.errors : r.broadcasts);
    if (r.hostName[0] == '\0' && cur.netbiosName[0] != '\0') copyNetbiosName(r.hostName, cur.netbiosName);
  } else if (cur.netbiosName[0] != '\0') {
    updateStationName(nic_, cur.station, cur.protoAddr, cur.netbiosName, t);
  }

  nic_.broadcasts.publish(slot, b);
  nic_.broadcastCount.store(count + 1, std::memory_order_release);
}

void FrameFiler::recordSession(int source, NetworkKind kind, const NetAddress& destination, Protocol protocol) {
  if (source < 0) return;  // no partner: the frame stays in the packet ring only
  const CurrentFrame& cur = nic_.current;
  if (cur.networkHeader >= 0) checkIpErrors(*this, source);

  LiveTotals& g = global_.totals;
  const uint32_t t = cur.time;
  const uint32_t length = cur.length;
  const bool error = entry_.errorKind.get() != kNoError;
  if (cur.sent) {
    g.lastSent.store(t, kRelaxed);
    g.lastSessionSent.store(t, kRelaxed);
    AdapterCounters& c = nic_.counters;
    if (error) {
      g.errorsSent.fetch_add(1, kRelaxed);
      c.errorFrames[kSent].add(1);
    } else {
      g.bytesSent.fetch_add(length, kRelaxed);
      g.framesSent.fetch_add(1, kRelaxed);
      c.sessionBytes[kSent].add(length);
      c.sessionFrames[kSent].add(1);
    }
    entry_.frameKind = error ? kErrorSent : kSessionSent;
  } else {
    g.lastReceived.store(t, kRelaxed);
    g.lastSessionReceived.store(t, kRelaxed);
    AdapterCounters& c = nic_.counters;
    if (error) {
      g.errorsReceived.fetch_add(1, kRelaxed);
      c.errorFrames[kReceived].add(1);
    } else {
      g.bytesReceived.fetch_add(length, kRelaxed);
      g.framesReceived.fetch_add(1, kRelaxed);
      c.sessionBytes[kReceived].add(length);
      c.sessionFrames[kReceived].add(1);
    }
    entry_.frameKind = error ? kErrorReceived : kSessionReceived;
  }

  Partner& from = nic_.partners[source];
  from.record.lastSeen = t;
  from.record.changeStamp = sequence_;
  if (error) {
    addOne(from.record.errors);
    return;
  }
  addOne(from.record.framesSent);
  from.bytesSent += length;

  int target = lookupPartner(kind, cur.destination, destination, protocol, false);
  if (target < 0) return;
  Partner& to = nic_.partners[target];
  to.record.lastSeen = t;
  to.record.changeStamp = sequence_;
  addOne(to.record.framesReceived);
  to.bytesReceived += length;
}

void resetPartnerTable(GlobalArea& global, NicArea& nic) {
  std::lock_guard lock(nic.tableMutex);
  nic.partnerCount = 0;
  nic.partnerIndex->clear();
  global.totals.resetCount.fetch_add(1, kRelaxed);
}

std::vector<PartnerRecord> copyPartners(const NicArea& nic) {
  std::vector<PartnerRecord> out;
  out.reserve(kMaxPartners);
  std::lock_guard lock(nic.tableMutex);
  for (int i = 0; i < nic.partnerCount; ++i) out.push_back(nic.partners[i].snapshot());
  return out;
}

}  // namespace veltris::agent
