#pragma once
// Names from the PCI and USB id databases, and module files from modules.dep.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace veltris::capture {

// The vendor's and the device's names in a pci.ids or usb.ids file.
struct HardwareNames {
  std::string vendor;
  std::string device;  // empty when only the vendor is listed
};
// True when the vendor is listed (the device may not be).
bool lookUpHardwareNames(const std::filesystem::path& idsFile, uint16_t vendor, uint16_t device, HardwareNames& names);

// "Vendor Device" from a pci.ids or usb.ids file ("Device" alone when both would
// not fit a 64-byte title); empty when the file or the pair is unknown.
std::string hardwareTitle(const std::filesystem::path& idsFile, uint16_t vendor, uint16_t device);
std::string hardwareTitle(const HardwareNames& names);

// The file of a loadable module named in <modulesDir>/modules.dep ('-' and '_'
// count as equal); empty when the module is built in or not listed.
std::filesystem::path moduleFile(const std::filesystem::path& modulesDir, std::string_view module);

// Whole small text files (sysfs attributes), at most `limit` bytes, trailing
// white space removed; false when unreadable.
bool readSmallFile(const std::filesystem::path& file, std::string& text, size_t limit = 4096);

}  // namespace veltris::capture
