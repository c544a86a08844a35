#pragma once
// The traffic statistics model: how one captured frame changes the partner
// table, the rings and the GLOBAL traffic counters.
//
// A FrameFiler belongs to one NetMonitor thread. The link-layer handlers sum
// a frame up (FrameSummary); file() then does all the rest in one call while
// the thread holds the NIC area's tableMutex: packet sequence number, packet
// ring entry, partners, IP error checks, broadcast ring, counters, error ring.
// Partners are found through a hash index over their binary keys; their texts
// are formatted once, when made.
#include <cstdint>
#include <vector>

#include "agent/core/frame_summary.h"
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
  ~FrameFiler();
  FrameFiler(const FrameFiler&) = delete;
  FrameFiler& operator=(const FrameFiler&) = delete;

  GlobalArea& global() { return global_; }
  NicArea& nic() { return nic_; }
  // The frame being filed, as the packet ring entry keeps it.
  FrameView frame() const { return FrameView(bytes_, stored_); }
  uint32_t sequence() const { return sequence_; }
  TcpTracker& tcp() { return tcp_; }
  void setError(ErrorKind kind) { entry_.errorKind = kind; }

  // Files one frame of `stored` bytes, summed up in `s`, into packet ring slot `ringSlot`.
  void file(const FrameSummary& s, const uint8_t* bytes, uint32_t stored, uint32_t ringSlot);

 private:
  void begin(const FrameSummary& s, const uint8_t* bytes, uint32_t stored);
  void finish(uint32_t ringSlot);
  StationClass stationClass(const uint8_t mac[6]) const;
  // Partner lookup: index of the partner, made when new (unless the table is
  // full or the frame is a received group-addressed one), or -1; the side's
  // station and protocol texts go to the two areas when they are given.
  int lookupPartner(const FrameSummary& s, const uint8_t mac[6], const NetAddress& address, char* stationText,
                    char* protoAddrText);
  int createPartner(const PartnerKey& key, StationClass station, const FrameSummary& s, const NetAddress& address,
                    const char* stationText, const char* protoAddrText);
  void recordBroadcast(const FrameSummary& s, int source);
  void recordSession(const FrameSummary& s, int source);
  void noticeTableReset();
  // Adds to a GLOBAL total, plainly while this is the only filer, else locked; answers the sum.
  template <typename T>
  T addToTotal(std::atomic<T>& total, T n) {
    if (sharedTotals_) return total.fetch_add(n, std::memory_order_relaxed) + n;
    const T sum = total.load(std::memory_order_relaxed) + n;
    total.store(sum, std::memory_order_relaxed);
    return sum;
  }

  GlobalArea& global_;
  NicArea& nic_;
  NameLookupWorker* names_;
  uint32_t sequence_ = 0;
  bool sharedTotals_ = true;  // other filers add to the same totals
  int knownPartnerCount_ = 0;
  TcpTracker tcp_;
  // The ring entries' fields; their frame bytes go into the rings straight from the capture buffer.
  PacketRecord entry_{};
  BroadcastRecord broadcast_{};
  const uint8_t* bytes_ = nullptr;
  uint32_t stored_ = 0;
};

// Midnight reset: empties the partner table (the TCP connection table stays).
void resetPartnerTable(GlobalArea& global, NicArea& nic);

// The partner table as files and replies carry it, taken under the lock.
std::vector<PartnerRecord> copyPartners(const NicArea& nic);

}  // namespace veltris::agent
