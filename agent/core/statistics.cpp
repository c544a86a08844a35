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
  {
    FilingPeers& peers = global_.filers;
    std::lock_guard lock(peers.mutex);
    peers.areas.push_back(&nic_);
    if (peers.areas.size() > 1 && !peers.shared.load(kRelaxed)) {
      peers.shared.store(true, kRelaxed);
      // Every frame a peer files from now on sees the switch; the ones it is
      // filing with plain additions are done before this filer adds anything.
      for (NicArea* area : peers.areas) std::lock_guard barrier(area->tableMutex);
    }
  }
  std::lock_guard lock(nic_.tableMutex);
  knownPartnerCount_ = nic_.partnerCount;
  tcp_.rebuild(nic_);
}

FrameFiler::~FrameFiler() {
  FilingPeers& peers = global_.filers;
  std::lock_guard lock(peers.mutex);
  peers.areas.erase(std::find(peers.areas.begin(), peers.areas.end(), &nic_));
  // The last filer left goes back to plain additions, after all of ours.
  if (peers.areas.size() <= 1) peers.shared.store(false, std::memory_order_release);
}

void FrameFiler::noticeTableReset() {
  // Someone emptied the partner table since the last frame: the old
  // partners' connection lists are gone with them.
  if (nic_.partnerCount == 0) nic_.partnerIndex->clear();
  tcp_.rebuild(nic_);
}

void FrameFiler::file(const FrameSummary& s, const uint8_t* bytes, uint32_t stored, uint32_t ringSlot) {
  sharedTotals_ = global_.filers.shared.load(std::memory_order_acquire);
  begin(s, bytes, stored);
  nic_.counters.familyFrames[static_cast<int>(s.family)].add(1);
  if (s.counted) {
    int source = lookupPartner(s, s.sourceMac, s.source, entry_.station, entry_.protoAddr);
    entry_.partner = static_cast<uint32_t>(source + 1);
    if (s.broadcast)
      recordBroadcast(s, source);
    else
      recordSession(s, source);
  }
  finish(ringSlot);
}

void FrameFiler::begin(const FrameSummary& s, const uint8_t* bytes, uint32_t stored) {
  if (nic_.partnerCount < knownPartnerCount_) noticeTableReset();
  knownPartnerCount_ = nic_.partnerCount;

  sequence_ = addToTotal(global_.totals.sequence, 1u);
  bytes_ = bytes;
  stored_ = std::min<uint32_t>(stored, kStoredFrameBytes);
  std::memset(&entry_, 0, offsetof(PacketRecord, frame));
  entry_.time = s.time;
  entry_.sequence = sequence_;
  entry_.length = s.length;
  entry_.errorKind = s.errorKind;
}

void FrameFiler::finish(uint32_t ringSlot) {
  entry_.complete = 1;
  if (const uint32_t kind = entry_.errorKind.get(); kind != kNoError) {
    if (kind < kErrorKindCount) nic_.counters.errorKinds[kind].add(1);
    uint32_t errors = nic_.errorCount.load(kRelaxed);
    nic_.errors.publish(errors % kErrorRingSize, entry_, offsetof(PacketRecord, frame), bytes_, stored_);
    nic_.errorCount.store(errors + 1, std::memory_order_release);
  }
  nic_.packets.publish(ringSlot % kPacketRingSize, entry_, offsetof(PacketRecord, frame), bytes_, stored_);
  nic_.packets.prefetch((ringSlot + 1) % kPacketRingSize);
  knownPartnerCount_ = nic_.partnerCount;
}

StationClass FrameFiler::stationClass(const uint8_t mac[6]) const {
  bool wan = nic_.wan.load(kRelaxed);
  bool self = std::memcmp(mac, nic_.station, 6) == 0 || (wan && std::memcmp(mac, capture::kSendMarker.data(), 6) == 0);
  if (wan) return self ? StationClass::LocalModem : StationClass::RemoteModem;
  return self ? StationClass::Self : StationClass::Other;
}

int FrameFiler::lookupPartner(const FrameSummary& s, const uint8_t mac[6], const NetAddress& address, char* stationText,
                              char* protoAddrText) {
  StationClass station = stationClass(mac);
  PartnerKey key = makePartnerKey(station, mac, s.kind, address, s.protocol);
  int found = nic_.partnerIndex->find(key);
  if (found >= 0 && found < nic_.partnerCount) {
    if (stationText != nullptr) {
      const PartnerRecord& r = nic_.partners[found].record;
      std::memcpy(stationText, r.station, kStationTextSize);
      std::memcpy(protoAddrText, r.protoAddr, kProtoAddrTextSize);
    }
    return found;
  }
  char ownStation[kStationTextSize], ownProtoAddr[kProtoAddrTextSize];
  if (stationText == nullptr) stationText = ownStation, protoAddrText = ownProtoAddr;
  formatStationText(stationText, station, mac);
  formatProtoAddrText(protoAddrText, s.kind, address, s.protocol);
  // Received group-addressed frames never make partners; a full table makes none.
  if (s.broadcast && !s.sent) return -1;
  if (nic_.partnerCount >= kMaxPartners) {
    nic_.counters.unfiled.add(1);
    return -1;
  }
  return createPartner(key, station, s, address, stationText, protoAddrText);
}

int FrameFiler::createPartner(const PartnerKey& key, StationClass station, const FrameSummary& s,
                              const NetAddress& address, const char* stationText, const char* protoAddrText) {
  int index = nic_.partnerCount++;
  knownPartnerCount_ = nic_.partnerCount;
  Partner& p = nic_.partners[index];
  std::memset(&p.record, 0, sizeof p.record);
  p.bytesSent = 0;
  p.bytesReceived = 0;
  PartnerRecord& r = p.record;
  std::memcpy(r.station, stationText, kStationTextSize);
  std::memcpy(r.protoAddr, protoAddrText, kProtoAddrTextSize);
  r.owner = static_cast<uint32_t>(nic_.index + 1);
  r.firstSeen = s.time;
  // The full IPv6 address, which the text may show cut, in the reserved bytes.
  if (s.kind == NetworkKind::Ipv6) std::memcpy(r.ipv6, address.bytes, sizeof r.ipv6);
  nic_.partnerIndex->insert(key, index);

  if (station == StationClass::Self || station == StationClass::LocalModem) {
    r.self = 1;
    copyText(r.hostName, kHostNameSize, global_.hostName);
    copyText(r.roleLabel, sizeof r.roleLabel, "Self");
    return index;
  }
  lookupStationName(nic_, r.station, r.protoAddr, r.hostName, kHostNameSize);
  if (s.kind == NetworkKind::Ipv6) {
    // Named as IPv4 partners are: by the AAAA answers seen, else by "AutoIpName".
    if (r.hostName[0] == '\0') lookupIpv6DnsName(nic_, r.ipv6, r.hostName, kHostNameSize);
    if (r.hostName[0] == '\0' && names_ != nullptr && global_.autoIpName.load(kRelaxed) != 0)
      names_->request(nic_, index);
    return index;
  }
  if (s.kind != NetworkKind::Ip) return index;
  std::memcpy(r.ipv4, address.bytes, 4);
  copyText(r.roleLabel, sizeof r.roleLabel, roleText(nic_.addresses, r.ipv4));
  if (r.hostName[0] == '\0') lookupDnsName(nic_, r.ipv4, r.hostName, kHostNameSize);
  if (r.hostName[0] == '\0' && names_ != nullptr && global_.autoIpName.load(kRelaxed) != 0)
    names_->request(nic_, index);
  return index;
}

void FrameFiler::recordBroadcast(const FrameSummary& s, int source) {
  LiveTotals& g = global_.totals;
  const uint32_t t = s.time;
  const bool error = entry_.errorKind.get() != kNoError;
  uint32_t count = nic_.broadcastCount.load(kRelaxed);
  uint32_t slot = count % kBroadcastRingSize;
  nic_.broadcastIndex.store(slot, kRelaxed);

  BroadcastRecord& b = broadcast_;
  std::memset(&b, 0, offsetof(BroadcastRecord, frame));
  b.time = t;
  b.sequence = sequence_;
  b.partner = static_cast<uint32_t>(source + 1);
  std::memcpy(b.station, entry_.station, kStationTextSize);
  std::memcpy(b.protoAddr, entry_.protoAddr, kProtoAddrTextSize);

  if (s.sent) {
    g.lastSent.store(t, kRelaxed);
    if (!error) g.lastBroadcastSent.store(t, kRelaxed);
    addToTotal(error ? g.errorsSent : g.broadcastsSent, 1u);
    (error ? nic_.counters.errorFrames : nic_.counters.broadcasts)[kSent].add(1);
    entry_.frameKind = error ? kErrorSent : kBroadcastSent;
  } else {
    g.lastReceived.store(t, kRelaxed);
    if (!error) g.lastBroadcastReceived.store(t, kRelaxed);
    addToTotal(error ? g.errorsReceived : g.broadcastsReceived, 1u);
    (error ? nic_.counters.errorFrames : nic_.counters.broadcasts)[kReceived].add(1);
    entry_.frameKind = error ? kErrorReceived : kBroadcastReceived;
    if (s.networkHeader >= 0 && s.kind == NetworkKind::Ip && s.destination.bytes[0] < 224)
      std::memcpy(b.ipDestination, s.destination.bytes, 4);
  }

  if (source >= 0) {
    PartnerRecord& r = nic_.partners[source].record;
    r.lastSeen = t;
    r.changeStamp = sequence_;
    addOne(error ? r.errors : r.broadcasts);
    if (r.hostName[0] == '\0' && s.netbiosName[0] != '\0') copyNetbiosName(r.hostName, s.netbiosName);
  } else if (s.netbiosName[0] != '\0') {
    updateStationName(nic_, entry_.station, entry_.protoAddr, s.netbiosName, t);
  }

  nic_.broadcasts.publish(slot, b, offsetof(BroadcastRecord, frame), bytes_, stored_);
  nic_.broadcasts.prefetch((slot + 1) % kBroadcastRingSize);
  nic_.broadcastCount.store(count + 1, std::memory_order_release);
}

void FrameFiler::recordSession(const FrameSummary& s, int source) {
  if (source < 0) return;  // no partner: the frame stays in the packet ring only
  if (s.networkHeader >= 0) checkIpErrors(*this, s, source);

  LiveTotals& g = global_.totals;
  AdapterCounters& c = nic_.counters;
  const uint32_t t = s.time;
  const uint32_t length = s.length;
  const bool error = entry_.errorKind.get() != kNoError;
  const Direction d = s.sent ? kSent : kReceived;
  if (s.sent) {
    g.lastSent.store(t, kRelaxed);
    g.lastSessionSent.store(t, kRelaxed);
    if (error) {
      addToTotal(g.errorsSent, 1u);
    } else {
      addToTotal(g.bytesSent, uint64_t{length});
      addToTotal(g.framesSent, 1u);
    }
    entry_.frameKind = error ? kErrorSent : kSessionSent;
  } else {
    g.lastReceived.store(t, kRelaxed);
    g.lastSessionReceived.store(t, kRelaxed);
    if (error) {
      addToTotal(g.errorsReceived, 1u);
    } else {
      addToTotal(g.bytesReceived, uint64_t{length});
      addToTotal(g.framesReceived, 1u);
    }
    entry_.frameKind = error ? kErrorReceived : kSessionReceived;
  }
  if (error) {
    c.errorFrames[d].add(1);
  } else {
    c.sessionBytes[d].add(length);
    c.sessionFrames[d].add(1);
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

  int target = lookupPartner(s, s.destinationMac, s.destination, nullptr, nullptr);
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
