#pragma once
// Where the agent keeps its settings in the registry and how it names capture
// devices: read by the agent and by the programs that talk to it.
#include <cstddef>

namespace veltris {

constexpr char kParametersKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters";
constexpr char kOpenKeyValue[] = "OpenKey";    // the access key of "OPEN"
constexpr char kDataPathValue[] = "DataPath";  // folder of history and snapshot files
// Written by SETUP when it puts the capture side in place ("Title", "MajorVersion", "MinorVersion").
constexpr char kTapsorVersionKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\Tapsor\\CurrentVersion";
constexpr char kTapsorTitleValue[] = "Title";  // set once the agent is installed here
constexpr char kLinkageKey[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tapsor\\Linkage";
constexpr char kDevicePrefix[] = "\\Device\\Tapsor_";
constexpr size_t kDevicePrefixLength = sizeof kDevicePrefix - 1;
static_assert(kDevicePrefixLength == 15);

}  // namespace veltris
