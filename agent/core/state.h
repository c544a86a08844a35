#pragma once
// The agent's shared state: one GLOBAL area and one NIC area per monitored
// adapter, allocated once at start-up and alive until the process ends.
//
// Threads: each NIC area is written by its own NetMonitor thread. The few
// writers from other threads (midnight reset, role labels, name lookups) and
// every reader of the partner table take that NIC area's tableMutex, which the
// NetMonitor thread holds while it files a frame. Counters that other threads
// read without the lock are atomics; rings are SeqRings.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "agent/core/agent_counters.h"
#include "agent/core/seq_ring.h"
#include "common/records.h"
#include "platform/capture/device.h"

namespace veltris::agent {

constexpr int kMaxAdapters = 4;
constexpr int kMaxPartners = 500;
constexpr int kMaxTcpConnections = 1000;
constexpr int kPacketRingSize = 300;
constexpr int kErrorRingSize = 100;
constexpr int kBroadcastRingSize = 4500;
constexpr int kStationNameCount = 200;
constexpr int kDnsCacheSize = 20;
constexpr int kAddressListSize = 50;
constexpr int kDnsQueryCopy = 214;
constexpr int kArpRequestCopy = 242;

// The traffic totals as plain values. Byte counters are kept as 64-bit
// integers and turned into the 32-bit floats of the records when written out,
// so long runs do not lose small frames to float rounding.
struct TrafficTotals {
  uint32_t sequence = 0;
  uint64_t bytesSent = 0;
  uint32_t framesSent = 0;
  uint32_t broadcastsSent = 0;
  uint32_t errorsSent = 0;
  uint64_t bytesReceived = 0;
  uint32_t framesReceived = 0;
  uint32_t broadcastsReceived = 0;
  uint32_t errorsReceived = 0;
  uint32_t resetCount = 0;
  uint32_t lastReceived = 0;
  uint32_t lastSent = 0;
  uint32_t lastSessionReceived = 0;
  uint32_t lastBroadcastReceived = 0;
  uint32_t lastSessionSent = 0;
  uint32_t lastBroadcastSent = 0;
};

// The same totals, written by every NetMonitor thread and read by anyone.
struct LiveTotals {
  std::atomic<uint32_t> sequence{0};
  std::atomic<uint64_t> bytesSent{0};
  std::atomic<uint32_t> framesSent{0};
  std::atomic<uint32_t> broadcastsSent{0};
  std::atomic<uint32_t> errorsSent{0};
  std::atomic<uint64_t> bytesReceived{0};
  std::atomic<uint32_t> framesReceived{0};
  std::atomic<uint32_t> broadcastsReceived{0};
  std::atomic<uint32_t> errorsReceived{0};
  std::atomic<uint32_t> resetCount{0};
  std::atomic<uint32_t> lastReceived{0};
  std::atomic<uint32_t> lastSent{0};
  std::atomic<uint32_t> lastSessionReceived{0};
  std::atomic<uint32_t> lastBroadcastReceived{0};
  std::atomic<uint32_t> lastSessionSent{0};
  std::atomic<uint32_t> lastBroadcastSent{0};

  TrafficTotals load() const;
};

// A partner in memory: its record plus exact byte counters.
struct Partner {
  PartnerRecord record;
  uint64_t bytesSent = 0;
  uint64_t bytesReceived = 0;

  // The record with the byte counters filled in, as files and replies carry it.
  PartnerRecord snapshot() const;
};

// The connection key: source address, source port, destination address,
// destination port as they stand in the frame; 12 bytes for IPv4, 36 for IPv6.
constexpr int kTcpKeyBytes = 36;

struct TcpConnection {
  uint32_t next = 0;  // next entry of the same partner (index + 1), 0 = none
  uint8_t key[kTcpKeyBytes] = {};
  uint32_t lastSequence = 0;
};

struct StationName {
  uint32_t time = 0;  // 0 = never used
  char station[kStationTextSize] = {};
  char protoAddr[kProtoAddrTextSize] = {};
  char name[kHostNameSize] = {};
};

struct DnsName {
  uint8_t address[4] = {};
  char name[kHostNameSize] = {};
};

// A host name from a DNS AAAA answer, beside the A answers' cache.
struct Ipv6DnsName {
  uint8_t address[16] = {};
  char name[kHostNameSize] = {};
};

// IPv4 address lists of an adapter, written by the configuration report.
struct AddressLists {
  uint32_t own[kAddressListSize] = {};
  uint32_t masks[kAddressListSize] = {};
  uint32_t gateways[kAddressListSize] = {};
  uint32_t dns[kAddressListSize] = {};
  uint32_t wins[kAddressListSize] = {};
};

// The last neighbour solicitation this station sent (NetMonitor thread only).
struct NeighbourSolicitation {
  uint32_t time = 0;
  uint8_t target[16] = {};
  bool answered = false;  // an advertisement for the target came since
};

class PartnerIndex;  // hash index over partner keys (statistics.cpp)

struct NicArea {
  NicArea();
  ~NicArea();

  // Identity, set at start-up and discovery, then read-only.
  int index = 0;                 // adapter index, from 0
  char deviceName[128] = {};     // "\\Device\\Tapsor_" + adapter name
  char adapterName[32] = {};
  char title[64] = {};
  char driverText[32] = {};
  int64_t driverFileTime = 0;

  enum class Opening : uint8_t { Trying, Opened, Failed };
  std::atomic<Opening> opening{Opening::Trying};

  // The open device, shared with the adapter status builder on RPC threads.
  std::shared_ptr<capture::Device> device() const;
  void setDevice(std::shared_ptr<capture::Device> device);

  // What every frame touches, side by side: medium and station (set while the
  // adapter opens; the station is learnt from traffic on WAN adapters), the
  // read and ring counts, the partner count and the metrics counters.
  alignas(64) std::atomic<int32_t> mediaType{capture::kMedium8023};  // capture::Medium
  std::atomic<bool> wan{false};
  uint8_t station[6] = {};
  std::atomic<uint32_t> readsCompleted{0};
  std::atomic<uint32_t> packetIndex{0};
  std::atomic<uint32_t> broadcastCount{0};
  std::atomic<uint32_t> broadcastIndex{0};
  std::atomic<uint32_t> errorCount{0};
  int partnerCount = 0;  // guarded by tableMutex
  AdapterCounters counters;

  // Partner table, TCP table, station names, DNS cache, address lists.
  alignas(64) mutable std::mutex tableMutex;
  Partner partners[kMaxPartners];
  std::unique_ptr<PartnerIndex> partnerIndex;
  int tcpCount = 0;
  TcpConnection tcp[kMaxTcpConnections];
  StationName stationNames[kStationNameCount];
  uint32_t dnsCount = 0;
  DnsName dnsCache[kDnsCacheSize];
  uint32_t ipv6DnsCount = 0;
  Ipv6DnsName ipv6DnsCache[kDnsCacheSize];
  AddressLists addresses;

  // Rings.
  SeqRing<PacketRecord, kPacketRingSize> packets;
  SeqRing<BroadcastRecord, kBroadcastRingSize> broadcasts;
  SeqRing<PacketRecord, kErrorRingSize> errors;

  // Re-transmit checks (NetMonitor thread only).
  uint32_t lastDnsQueryTime = 0;
  uint8_t lastDnsQuery[kDnsQueryCopy] = {};
  uint32_t lastArpRequestTime = 0;
  uint8_t lastArpRequest[kArpRequestCopy] = {};
  NeighbourSolicitation lastSolicitation;

 private:
  mutable std::mutex deviceMutex_;
  std::shared_ptr<capture::Device> device_;
};

// The frame filers at work on a GLOBAL area's adapters. A lone filer adds to
// the totals with plain loads and stores; once a second one joins, every
// filer uses locked additions. The switch is made under the filers' table
// locks, so no frame is filed half in one way, half in the other.
struct FilingPeers {
  std::mutex mutex;
  std::vector<NicArea*> areas;  // one entry per filer
  std::atomic<bool> shared{false};
};

struct GlobalArea {
  char hostName[33] = {};
  char ipSummary[20] = {};     // guarded by labelMutex
  uint8_t accessKey[16] = {};  // guarded by labelMutex
  std::atomic<uint32_t> autoIpName{0};
  mutable std::mutex labelMutex;

  LiveTotals totals;
  FilingPeers filers;
  // The totals at the last ten-minute mark: written by the history timer loop,
  // read by replies on other threads.
  TrafficTotals periodSnapshot() const {
    std::lock_guard lock(snapshotMutex_);
    return periodSnapshot_;
  }
  void setPeriodSnapshot(const TrafficTotals& totals) {
    std::lock_guard lock(snapshotMutex_);
    periodSnapshot_ = totals;
  }

  int adapterCount = 0;
  std::unique_ptr<NicArea> nics[kMaxAdapters];

  std::atomic<uint32_t> trafficState{0};
  RequestCounters requests;
  uint32_t startTime = 0;  // when the agent main began

 private:
  mutable std::mutex snapshotMutex_;
  TrafficTotals periodSnapshot_;
};

}  // namespace veltris::agent
