#include "agent/core/name_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "common/text_field.h"

namespace veltris::agent {

bool resolveHostName(std::span<const uint8_t> address, char* name, size_t size) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (address.size() == 16) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
    v6.sin6_family = AF_INET6;
    std::memcpy(&v6.sin6_addr, address.data(), 16);
    length = sizeof v6;
  } else if (address.size() == 4) {
    auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
    v4.sin_family = AF_INET;
    std::memcpy(&v4.sin_addr.s_addr, address.data(), 4);
    length = sizeof v4;
  } else {
    return false;
  }
  char host[NI_MAXHOST] = {};
  int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, host, sizeof host, nullptr, 0,
                         NI_NAMEREQD);
  if (rc != 0 || host[0] == '\0') return false;
  copyText(name, size, host);
  return true;
}

NameLookupWorker::NameLookupWorker(GlobalArea& global, ReverseResolver resolver)
    : global_(global), resolver_(std::move(resolver)) {}

NameLookupWorker::~NameLookupWorker() { stop(); }

bool NameLookupWorker::request(NicArea& nic, int index) {
  const PartnerRecord& p = nic.partners[index].record;
  std::lock_guard lock(mutex_);
  if (stopping_ || queued_ == kQueueCapacity) {
    ++dropped_;
    return false;
  }
  Request& r = queue_[(head_ + queued_) % kQueueCapacity];
  r.nic = &nic;
  r.index = index;
  // An IPv6 partner carries its address in full; every other one has it zero.
  bool ipv6 = std::any_of(std::begin(p.ipv6), std::end(p.ipv6), [](uint8_t b) { return b != 0; });
  r.addressLength = ipv6 ? 16 : 4;
  std::memcpy(r.address, ipv6 ? p.ipv6 : p.ipv4, r.addressLength);
  std::memcpy(r.station, p.station, kStationTextSize);
  std::memcpy(r.protoAddr, p.protoAddr, kProtoAddrTextSize);
  ++queued_;
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  changed_.notify_all();
  return true;
}

void NameLookupWorker::drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return (queued_ == 0 && !busy_) || stopping_; });
}

void NameLookupWorker::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queued_ = 0;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint32_t NameLookupWorker::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

void NameLookupWorker::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return queued_ != 0 || stopping_; });
    if (stopping_) return;
    Request r = queue_[head_];
    head_ = (head_ + 1) % kQueueCapacity;
    --queued_;
    busy_ = true;
    lock.unlock();
    char name[kHostNameSize] = {};
    bool found = resolver_(std::span<const uint8_t>(r.address, r.addressLength), name, sizeof name);
    writeBack(r, name, found);
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

void NameLookupWorker::writeBack(const Request& r, const char* name, bool found) {
  NicArea& nic = *r.nic;
  std::lock_guard lock(nic.tableMutex);
  // The partner table may have been emptied and refilled meanwhile: write only
  // to an entry that still names the same partner.
  if (r.index >= nic.partnerCount) return;
  PartnerRecord& p = nic.partners[r.index].record;
  if (std::memcmp(p.station, r.station, kStationTextSize) != 0 ||
      std::memcmp(p.protoAddr, r.protoAddr, kProtoAddrTextSize) != 0)
    return;
  if (found) copyText(p.hostName, kHostNameSize, name);
  p.changeStamp = global_.totals.sequence.load(std::memory_order_relaxed);
}

}  // namespace veltris::agent
