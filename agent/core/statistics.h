#pragma once
// The traffic statistics model: how one captured frame changes the partner
// table, the rings and the GLOBAL traffic counters.
//
// A FrameFiler belongs to one NetMonitor thread. Per frame it runs beginFrame,
// the link-layer handlers (which call recordFrame), then finishFrame, all while
// the thread holds the NIC area's tableMutex. Partners are found through a hash
// index over their binary keys; their texts are formatted once, when made.
#include <cstdint>
#include <vector>

#include "agent/core/partner_keys.h"
#include "agent/core/state.h"
#include "agent/core/tcp_connections.h"
#include "common/frame_view.h"

namespace veltris::agent {

class NameLookupWorker;

class FrameFiler {
 public:
  // `names` serves "AutoIpName" lookups; null leaves new partners' names to other sources.
  FrameFiler(GlobalArea& global, NicArea& nic, NameLookupWorker* names = nullptr);

  GlobalArea& global() { return global_; }
  NicArea& nic() { return nic_; }
  CurrentFrame& current() { return nic_.current; }
  PacketRecord& entry() { return entry_; }
  FrameView frame() const { return FrameView(entry_.frame, kStoredFrameBytes); }
  uint32_t sequence() const { return sequence_; }
  TcpTracker& tcp() { return tcp_; }
  void setError(ErrorKind kind) { entry_.errorKind = kind; }

  // Starts a frame: packet sequence number + 1, per-frame fields cleared, the
  // packet ring entry prepared with time, sequence, wire length and stored bytes.
  void beginFrame(uint32_t time, const uint8_t* bytes, uint32_t stored, uint32_t wireLength);

  // Files the current frame (source and destination as the handler found them).
  void recordFrame(NetworkKind kind, const NetAddress& destination, const NetAddress& source, Protocol protocol);

  // Ends the frame: error ring copy when it has an error kind, then the entry
  // goes complete into packet ring slot `ringSlot`.
  void finishFrame(uint32_t ringSlot);

  // Partner lookup: index of the partner, made when new (unless the table is
  // full or the frame is a received group-addressed one), or -1. With
  // `wantTexts` its station and protocol texts are left in current().
  int lookupPartner(NetworkKind kind, const uint8_t mac[6], const NetAddress& address, Protocol protocol,
                    bool wantTexts);

 private:
  StationClass stationClass(const uint8_t mac[6]) const;
  int createPartner(const PartnerKey& key, StationClass station, NetworkKind kind, const NetAddress& address);
  void recordBroadcast(int source, NetworkKind kind, const NetAddress& destination);
  void recordSession(int source, NetworkKind kind, const NetAddress& destination, Protocol protocol);
  void noticeTableReset();

  GlobalArea& global_;
  NicArea& nic_;
  NameLookupWorker* names_;
  uint32_t sequence_ = 0;
  int knownPartnerCount_ = 0;
  TcpTracker tcp_;
  PacketRecord entry_{};
  BroadcastRecord broadcast_{};
};

// Midnight reset: empties the partner table (the TCP connection table stays).
void resetPartnerTable(GlobalArea& global, NicArea& nic);

// The partner table as files and replies carry it, taken under the lock.
std::vector<PartnerRecord> copyPartners(const NicArea& nic);

}  // namespace veltris::agent
