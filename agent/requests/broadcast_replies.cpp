// "BCASTSENT" and "BCASTERS": the broadcasts of the last 15 minutes, walked
// from the newest back to the oldest and grouped, one "BENT" record a group.
//
// The reply is built in place in a body grown once to its largest size (every
// broadcast of four full rings its own group) and cut at the end. Groups are
// found through an open-addressing index whose keys are the group records'
// own key fields, so a broadcast costs no allocation.
#include <cstring>
#include <span>
#include <vector>

#include "agent/requests/detail_replies.h"
#include "agent/requests/detail_reply_parts.h"
#include "common/broadcast_records.h"

namespace veltris::agent {
namespace {

constexpr int64_t kWindowSeconds = 900;
constexpr int64_t kLastMinuteSeconds = 60;
constexpr size_t kHeaderSize = sizeof(BroadcastHeaderRecord);
constexpr size_t kEntrySize = sizeof(BroadcastEntryRecord);
constexpr size_t kMaxGroups = size_t{kMaxAdapters} * kBroadcastRingSize;
constexpr size_t kMaxBodySize = kHeaderSize + kEntrySize * kMaxGroups;
static_assert(kMaxBodySize == 4392040);

// Index slots: a power of two, at most about a quarter full.
constexpr size_t kIndexSlots = 65536;
static_assert(kIndexSlots >= 3 * kMaxGroups && (kIndexSlots & (kIndexSlots - 1)) == 0);
constexpr size_t kNoGroup = ~size_t{0};

// Keys inside a group record: station and protocol text side by side, or the key text.
constexpr size_t kStationKeyOffset = offsetof(BroadcastEntryRecord, station);
constexpr size_t kStationKeySize = kBroadcastStationSize + kBroadcastProtoAddrSize;
static_assert(offsetof(BroadcastEntryRecord, protoAddr) == kStationKeyOffset + kBroadcastStationSize);
constexpr size_t kContentKeyOffset = offsetof(BroadcastEntryRecord, keyText);
constexpr size_t kContentKeySize = kBroadcastKeyTextSize;
static_assert(kContentKeySize == kDetailDescriptionSize && kContentKeySize == kDetailProtocolSize);

uint64_t mix(uint64_t h, uint64_t word) {
  h = (h ^ word) * 0xFF51AFD7ED558CCDull;
  return h ^ (h >> 32);
}

// Hash of a key's bytes, eight at a time.
uint64_t hashKey(const char* key, size_t size) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ size;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, key + i, 8);
    h = mix(h, word);
  }
  uint64_t tail = 0;
  std::memcpy(&tail, key + i, size - i);
  return mix(mix(h, tail), h >> 17);
}

void addOne(char* field) {
  LeU32 value;
  std::memcpy(&value, field, sizeof value);
  value = value.get() + 1;
  std::memcpy(field, &value, sizeof value);
}

class BroadcastListBuilder {
 public:
  BroadcastListBuilder(const GlobalArea& global, uint32_t now, bool sentOnly, bool lowList, std::string& body)
      : global_(global),
        now_(now),
        windowStart_(int64_t{now} - kWindowSeconds),
        lastMinuteStart_(int64_t{now} - kLastMinuteSeconds),
        sentOnly_(sentOnly),
        lowList_(lowList),
        body_(body),
        clock_(windowStart_, now_),
        index_(kIndexSlots, 0) {}

  void build() {
    // Grown once; a body that cannot be had fails the request as a whole.
    body_.clear();
    body_.resize(kMaxBodySize);
    for (int i = 0; i < global_.adapterCount && i < kMaxAdapters; ++i) {
      const NicArea* nic = global_.nics[i].get();
      if (nic != nullptr) walkAdapter(*nic, i);
    }
    writeHeader();
    body_.resize(kHeaderSize + kEntrySize * groups_);
  }

 private:
  struct Adapter {
    const NicArea& nic;
    int index;
    decode::DecodeContext context;
  };

  // Newest to oldest, until the ring's oldest end or the window's start.
  void walkAdapter(const NicArea& nic, int adapterIndex) {
    const uint32_t count = nic.broadcastCount.load(std::memory_order_acquire);
    if (count == 0) return;
    uint32_t previous = global_.totals.sequence.load(std::memory_order_relaxed);
    const Adapter adapter{nic, adapterIndex, decode::decodeContextFor(nic, addresses_)};
    size_t slot = (count - 1) % kBroadcastRingSize;
    BroadcastRecord entry;
    for (int step = 0; step < kBroadcastRingSize; ++step) {
      // Unreadable: never written, or being overwritten at the oldest end.
      if (!nic.broadcasts.read(slot, entry)) return;
      const uint32_t sequence = entry.sequence.get();
      if (sequence == 0 || sequence > previous || int64_t{entry.time.get()} < windowStart_) return;
      previous = sequence;
      if (!sentOnly_ || entry.station[0] == '*') addBroadcast(adapter, entry);
      slot = slot == 0 ? kBroadcastRingSize - 1 : slot - 1;
    }
  }

  void addBroadcast(const Adapter& adapter, const BroadcastRecord& entry) {
    uint32_t* freeSlot = nullptr;
    size_t group;
    if (sentOnly_) {
      const char* key = decodeKey(adapter, entry);
      group = findGroup(key, kContentKeyOffset, kContentKeySize, freeSlot);
      if (group == kNoGroup) group = addGroup(adapter, entry, freeSlot);
    } else {
      char key[kStationKeySize];
      copyTextBytes(key, kBroadcastStationSize, entry.station, sizeof entry.station);
      copyTextBytes(key + kBroadcastStationSize, kBroadcastProtoAddrSize, entry.protoAddr, sizeof entry.protoAddr);
      group = findGroup(key, kStationKeyOffset, kStationKeySize, freeSlot);
      if (group == kNoGroup) {
        decodeKey(adapter, entry);
        group = addGroup(adapter, entry, freeSlot);
      }
    }
    countIn(group, entry.time.get());
  }

  // Decodes the frame into the scratch record; answers the list's key text.
  const char* decodeKey(const Adapter& adapter, const BroadcastRecord& entry) {
    decode::prepareDecodedFields(scratch_);
    decode::describeFrame(adapter.context, std::span<const uint8_t>(entry.frame), scratch_);
    return lowList_ ? scratch_.description : scratch_.protocol;
  }

  char* groupAt(size_t group) { return body_.data() + kHeaderSize + kEntrySize * group; }

  // The group whose key at `keyOffset` equals `key`, or kNoGroup with
  // `freeSlot` set to the index slot where a new group with that key goes.
  size_t findGroup(const char* key, size_t keyOffset, size_t keySize, uint32_t*& freeSlot) {
    const size_t mask = index_.size() - 1;
    for (size_t i = hashKey(key, keySize) & mask;; i = (i + 1) & mask) {
      const uint32_t held = index_[i];
      if (held == 0) {
        freeSlot = &index_[i];
        return kNoGroup;
      }
      if (std::memcmp(groupAt(held - 1) + keyOffset, key, keySize) == 0) return held - 1;
    }
  }

  // A group described by its newest broadcast; the scratch record holds its decoding.
  size_t addGroup(const Adapter& adapter, const BroadcastRecord& entry, uint32_t* freeSlot) {
    BroadcastEntryRecord record{};
    std::memcpy(record.tag, kBroadcastEntryTag, sizeof record.tag);
    record.adapter = static_cast<uint32_t>(adapter.index + 1);
    copyTextBytes(record.station, sizeof record.station, entry.station, sizeof entry.station);
    copyTextBytes(record.protoAddr, sizeof record.protoAddr, entry.protoAddr, sizeof entry.protoAddr);
    const SourceNames names = sourceNamesFor(adapter.nic, entry.partner.get(), entry.station, entry.protoAddr);
    std::memcpy(record.roleLabel, names.roleLabel, sizeof record.roleLabel);
    std::memcpy(record.hostName, names.hostName, sizeof record.hostName);
    record.sequence = entry.sequence.get();
    clock_.format(entry.time.get(), record.time);
    std::memcpy(record.keyText, lowList_ ? scratch_.description : scratch_.protocol, sizeof record.keyText);
    std::memcpy(record.destination, scratch_.destination, sizeof record.destination);

    const size_t group = groups_++;
    std::memcpy(groupAt(group), &record, sizeof record);
    *freeSlot = static_cast<uint32_t>(group + 1);
    return group;
  }

  void countIn(size_t group, uint32_t time) {
    char* record = groupAt(group);
    addOne(record + offsetof(BroadcastEntryRecord, windowCount));
    ++windowCount_;
    if (int64_t{time} >= lastMinuteStart_) {
      addOne(record + offsetof(BroadcastEntryRecord, lastMinuteCount));
      ++lastMinuteCount_;
    }
  }

  void writeHeader() {
    BroadcastHeaderRecord header{};
    std::memcpy(header.tag, kBroadcastHeaderTag, sizeof header.tag);
    clock_.format(now_, header.now);
    clock_.format(windowStart_, header.windowStart);
    header.windowCount = windowCount_;
    header.lastMinuteCount = lastMinuteCount_;
    header.entryCount = static_cast<uint32_t>(groups_);
    std::memcpy(body_.data(), &header, sizeof header);
  }

  const GlobalArea& global_;
  const int64_t now_;
  const int64_t windowStart_;
  const int64_t lastMinuteStart_;
  const bool sentOnly_;
  const bool lowList_;
  std::string& body_;
  const WindowClock clock_;
  std::vector<uint32_t> index_;  // group + 1 by hash slot, 0 = free
  AddressLists addresses_;       // the walked adapter's, for its decode context
  DetailRecord scratch_{};
  size_t groups_ = 0;
  uint32_t windowCount_ = 0;
  uint32_t lastMinuteCount_ = 0;
};

}  // namespace

void buildBroadcastsSent(const GlobalArea& global, uint32_t now, bool lowList, std::string& body) {
  BroadcastListBuilder(global, now, true, lowList, body).build();
}

void buildBroadcasters(const GlobalArea& global, uint32_t now, bool lowList, std::string& body) {
  BroadcastListBuilder(global, now, false, lowList, body).build();
}

}  // namespace veltris::agent
