#pragma once
// Replay of a capture file (pcap or pcapng), frames as fast as they are read.
#include <pcap/pcap.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/capture/capture_names.h"
#include "platform/capture/device.h"
#include "platform/capture/link_framing.h"
#include "platform/capture/pcap_blocks.h"

namespace veltris::capture {

class FileDevice final : public Device {
 public:
  static constexpr int kSurveyFrames = 1000;  // frames looked at to choose the station

  static std::unique_ptr<Device> open(std::string_view adapterName, std::string& error);
  ~FileDevice() override;

  bool query(uint32_t oid, void* data, uint32_t len) override;
  bool set(uint32_t oid, const void* data, uint32_t len) override;
  ReadResult read(uint8_t* buffer, FrameRead& frame, std::chrono::milliseconds maxWait) override;
  const std::string& error() const override { return error_; }
  bool replaysFile() const override { return true; }
  std::string describe() const override;

 private:
  FileDevice() = default;
  bool openFile(std::string& error);
  void surveyStation();
  void surveyLocalAddress();
  bool waitForFilter(std::chrono::milliseconds maxWait);
  bool passesFilter(const u_char* bytes, uint32_t captured) const;
  ReadResult gone(const std::string& why);
  ReadResult deliver(const u_char* bytes, uint32_t captured, uint32_t wireLength, uint32_t seconds, uint8_t* buffer,
                     FrameRead& frame);
  ReadResult readFromBlocks(uint8_t* buffer, FrameRead& frame);

  CaptureFileName name_;
  pcap_t* pcap_ = nullptr;
  std::unique_ptr<PcapBlockReader> blocks_;  // classic pcap files are read without libpcap
  int dlt_ = 0;
  bool wan_ = false;
  bool tokenRing_ = false;
  std::array<uint8_t, 6> station_{};
  LocalAddress local_;
  std::string choice_;  // how the station or the local side was chosen
  uint64_t delivered_ = 0;
  bool ended_ = false;
  bool gone_ = false;
  std::string error_;
  std::mutex filterMutex_;
  std::condition_variable filterSet_;
  std::atomic<uint32_t> filter_{0};
};

}  // namespace veltris::capture
