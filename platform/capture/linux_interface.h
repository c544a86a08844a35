#pragma once
// OID answers for a live interface, from what Linux keeps about it: the hardware
// address by ioctl, state, speed and error counters from sysfs. The interface's
// sysfs directory is held open, so answers come from the interface's own network
// namespace whichever thread asks, and no query allocates.
#include <cstdint>
#include <string>

namespace veltris::capture {

class LinuxInterface {
 public:
  LinuxInterface() = default;
  LinuxInterface(const LinuxInterface&) = delete;
  LinuxInterface& operator=(const LinuxInterface&) = delete;
  ~LinuxInterface();

  bool open(const std::string& name, std::string& error);
  const std::string& name() const { return name_; }
  int index() const { return index_; }
  bool isEthernet() const { return ethernet_; }  // an Ethernet-type hardware address
  bool stillExists() const;

  // Answers an NDIS query; `wan` marks a WAN adapter.
  bool answer(uint32_t oid, bool wan, void* data, uint32_t len) const;

 private:
  bool readAttribute(const char* relativePath, char* text, size_t capacity) const;
  bool readNumber(const char* relativePath, int64_t& value) const;
  bool statistic(uint32_t oid, uint64_t& value) const;
  bool hardwareAddress(uint8_t address[6]) const;
  bool adminUp() const;
  uint32_t hardwareStatus() const;
  bool mediaConnectStatus(uint32_t& status) const;
  bool linkSpeed(uint32_t& speed) const;

  std::string name_;
  int index_ = 0;
  int socket_ = -1;     // for interface ioctls
  int sysfsDir_ = -1;   // /sys/class/net/<name>
  bool ethernet_ = false;
  bool versionKnown_ = false;
  uint32_t versionMajor_ = 0, versionMinor_ = 0;
};

}  // namespace veltris::capture
