#include "agent/core/state.h"

#include "agent/core/partner_index.h"

namespace veltris::agent {

TrafficTotals LiveTotals::load() const {
  constexpr auto r = std::memory_order_relaxed;
  TrafficTotals t;
  t.sequence = sequence.load(r);
  t.bytesSent = bytesSent.load(r);
  t.framesSent = framesSent.load(r);
  t.broadcastsSent = broadcastsSent.load(r);
  t.errorsSent = errorsSent.load(r);
  t.bytesReceived = bytesReceived.load(r);
  t.framesReceived = framesReceived.load(r);
  t.broadcastsReceived = broadcastsReceived.load(r);
  t.errorsReceived = errorsReceived.load(r);
  t.resetCount = resetCount.load(r);
  t.lastReceived = lastReceived.load(r);
  t.lastSent = lastSent.load(r);
  t.lastSessionReceived = lastSessionReceived.load(r);
  t.lastBroadcastReceived = lastBroadcastReceived.load(r);
  t.lastSessionSent = lastSessionSent.load(r);
  t.lastBroadcastSent = lastBroadcastSent.load(r);
  return t;
}

PartnerRecord Partner::snapshot() const {
  PartnerRecord r = record;
  r.bytesSent = static_cast<float>(bytesSent);
  r.bytesReceived = static_cast<float>(bytesReceived);
  return r;
}

NicArea::NicArea() : partnerIndex(std::make_unique<PartnerIndex>()) {}
NicArea::~NicArea() = default;

std::shared_ptr<capture::Device> NicArea::device() const {
  std::lock_guard lock(deviceMutex_);
  return device_;
}

void NicArea::setDevice(std::shared_ptr<capture::Device> device) {
  std::lock_guard lock(deviceMutex_);
  device_ = std::move(device);
}

}  // namespace veltris::agent
