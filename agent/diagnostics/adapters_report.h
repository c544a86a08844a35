#pragma once
// The installed adapters report ("CFG "): the platform, then each network card
// with its product, maker, interface (service) name and driver file.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/capture/adapter_info.h"

namespace veltris::agent {

constexpr int kMaxInstalledCards = 15;
constexpr size_t kMinReportCapacity = 1000;
constexpr size_t kMinDriverTextCapacity = 100;

struct InstalledCard {
  std::string productName;
  std::string description;
  std::string manufacturer;
  std::string serviceName;      // the interface name
  std::string driverImagePath;  // the driver's file; empty when there is none
};

// Where the cards come from; tests supply their own.
class InstalledCardSource {
 public:
  virtual ~InstalledCardSource() = default;
  // Kernel release and build text for the platform line.
  virtual void platform(std::string& release, std::string& version) const = 0;
  // False when the list of cards cannot be read at all.
  virtual bool openCards() = 0;
  // Card `number`, counted from 1; false when there is no such card.
  virtual bool card(int number, InstalledCard& card) const = 0;
};

// The cards of this machine: the interfaces under sys/class/net of `root` that
// are devices (have a device entry; lo, bridges, veth and tunnels do not), in
// the order of their interface index. Names come from the PCI and USB id
// databases, the driver file from the modules list, all below `root`.
class SysfsCardSource final : public InstalledCardSource {
 public:
  explicit SysfsCardSource(const std::filesystem::path& root);
  void platform(std::string& release, std::string& version) const override;
  bool openCards() override;
  bool card(int number, InstalledCard& card) const override;

 private:
  capture::AdapterInfoSources sources_;
  std::vector<std::string> interfaces_;
};

// Writes the report; below kMinReportCapacity the area stays empty. Returns
// the characters written.
size_t writeAdaptersReport(InstalledCardSource& source, char* area, size_t capacity);
size_t writeAdaptersReport(char* area, size_t capacity);  // this machine, below the system root

// "name  size  time  date" of a driver file, "?" without a path, the path when
// no file is there. A path starting "\SystemRoot\" is looked up below the
// Windows directory. Below kMinDriverTextCapacity nothing is written.
void writeDriverText(std::string_view imagePath, char* text, size_t capacity);

}  // namespace veltris::agent
