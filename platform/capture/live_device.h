#pragma once
// Live capture on a Linux interface through libpcap (TPACKET_V3 ring).
#include <pcap/pcap.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/capture/device.h"
#include "platform/capture/linux_interface.h"

namespace veltris::capture {

class LiveDevice final : public Device {
 public:
  static std::unique_ptr<Device> open(const std::string& interfaceName, std::string& error);
  ~LiveDevice() override;

  bool query(uint32_t oid, void* data, uint32_t len) override;
  bool set(uint32_t oid, const void* data, uint32_t len) override;
  ReadResult read(uint8_t* buffer, FrameRead& frame, std::chrono::milliseconds maxWait) override;
  uint64_t kernelDrops() const override;
  const std::string& error() const override { return error_; }
  std::string describe() const override;

 private:
  struct FrameSink;
  LiveDevice() = default;
  bool activate(std::string& error);
  bool installKernelFilter(bool deliver, bool promiscuous);
  bool setPromiscuous(bool on);
  ReadResult idle();
  ReadResult gone(const std::string& why);
  static void onFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

  LinuxInterface interface_;
  pcap_t* pcap_ = nullptr;
  int fd_ = -1;
  bool wan_ = false;             // cooked capture on "any", kept to this interface by index
  bpf_program wanProgram_{};     // "ifindex N"
  std::mutex pcapMutex_;         // the pcap handle is used by read() and set()
  std::atomic<uint32_t> filter_{0};
  bool kernelDelivers_ = false;  // the socket filter lets frames through
  bool kernelPromiscuous_ = false;  // ... frames between other stations too
  bool promiscuous_ = false;
  std::atomic<bool> gone_{false};
  std::string error_;
  mutable std::mutex dropsMutex_;
  mutable uint64_t drops_ = 0;
};

}  // namespace veltris::capture
