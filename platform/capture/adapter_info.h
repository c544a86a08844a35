#pragma once
// What the machine says about a network adapter: the card's title, its driver and
// the driver's file, as the NetworkCards and Services keys of the registry said
// on NT. Built from sysfs, the PCI and USB id databases and the modules list.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/capture/hardware_ids.h"

namespace veltris::capture {

struct AdapterInfo {
  std::string title;           // "Intel Corporation 82540EM Gigabit Ethernet Controller", "veth", ...
  std::string driverName;      // kernel driver or module name; the interface kind when virtual
  std::string driverFile;      // the module file, empty when built in or not found
  int64_t driverFileTime = 0;  // its last-write time, seconds since 1970; 0 without a file
};

// Where the descriptions come from. underRoot() places them all beneath one
// system root, so a test can provide a tree of its own.
struct AdapterInfoSources {
  std::filesystem::path netClass;     // /sys/class/net
  std::filesystem::path moduleClass;  // /sys/module
  std::filesystem::path pciIds[2];    // /usr/share/misc/pci.ids, /usr/share/hwdata/pci.ids
  std::filesystem::path usbIds[2];    // /usr/share/misc/usb.ids, /usr/share/hwdata/usb.ids
  std::filesystem::path modulesDir;   // /lib/modules/<release>
  bool askKernel = true;              // ask rtnetlink for the kind of a virtual interface
  static AdapterInfoSources underRoot(const std::filesystem::path& root);
};

// For a live interface name or a capture file name (the agent's adapter name).
AdapterInfo describeAdapter(std::string_view adapterName);
AdapterInfo describeAdapter(std::string_view adapterName, const AdapterInfoSources& sources);

// Vendor and device names of the PCI or USB card behind an interface directory
// (<netClass>/<name>); empty names when it has none or the ids are unknown.
HardwareNames hardwareNamesOf(const std::filesystem::path& interfaceDir, const AdapterInfoSources& sources);

// The kernel module that drives an interface ("e1000e", "veth", "virtio_net"),
// empty when unknown.
std::string driverModuleOf(std::string_view interfaceName, const AdapterInfoSources& sources);

// "major.minor" of /sys/module/<module>/version; false when absent or not numeric.
bool moduleVersion(std::string_view module, const AdapterInfoSources& sources, uint32_t& major,
                   uint32_t& minor);

}  // namespace veltris::capture
