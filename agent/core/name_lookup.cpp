#include "agent/core/name_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "common/text_field.h"

namespace veltris::agent {

bool resolveHostName(const uint8_t ipv4[4], char* name, size_t size) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  std::memcpy(&address.sin_addr.s_addr, ipv4, 4);
  char host[NI_MAXHOST] = {};
  int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host, nullptr, 0,
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
  std::memcpy(r.ipv4, p.ipv4, 4);
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
    bool found = resolver_(r.ipv4, name, sizeof name);
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
