#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/capture/capture_names.h"
#include "platform/capture/device.h"
#include "platform/capture/file_device.h"
#include "platform/capture/live_device.h"

namespace veltris::capture {

std::unique_ptr<Device> openDevice(std::string_view adapterName, std::string& error) {
  if (isCaptureFileName(adapterName)) return FileDevice::open(adapterName, error);
  return LiveDevice::open(std::string(adapterName), error);
}

// Interfaces that are administratively up and not loopback, by interface index.
std::vector<std::string> hostInterfaces() {
  std::vector<std::pair<unsigned, std::string>> found;
  struct if_nameindex* names = ::if_nameindex();
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  for (struct if_nameindex* entry = names; names != nullptr && fd >= 0 && entry->if_index != 0; ++entry) {
    ifreq request{};
    std::strncpy(request.ifr_name, entry->if_name, sizeof request.ifr_name - 1);
    if (::ioctl(fd, SIOCGIFFLAGS, &request) != 0) continue;
    if ((request.ifr_flags & IFF_UP) == 0 || (request.ifr_flags & IFF_LOOPBACK) != 0) continue;
    found.emplace_back(entry->if_index, entry->if_name);
  }
  if (fd >= 0) ::close(fd);
  if (names != nullptr) ::if_freenameindex(names);
  std::sort(found.begin(), found.end());
  std::vector<std::string> interfaces;
  for (auto& [index, name] : found) interfaces.push_back(std::move(name));
  return interfaces;
}

std::vector<InterfaceSummary> captureInterfaces() {
  std::vector<std::pair<unsigned, InterfaceSummary>> found;
  struct if_nameindex* names = ::if_nameindex();
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  for (struct if_nameindex* entry = names; names != nullptr && fd >= 0 && entry->if_index != 0; ++entry) {
    ifreq request{};
    std::strncpy(request.ifr_name, entry->if_name, sizeof request.ifr_name - 1);
    if (::ioctl(fd, SIOCGIFFLAGS, &request) != 0 || (request.ifr_flags & IFF_LOOPBACK) != 0) continue;
    InterfaceSummary summary;
    summary.name = entry->if_name;
    summary.up = (request.ifr_flags & IFF_UP) != 0;
    if (::ioctl(fd, SIOCGIFHWADDR, &request) == 0 && request.ifr_hwaddr.sa_family == ARPHRD_ETHER) {
      summary.ethernet = true;
      summary.address = macText(reinterpret_cast<const uint8_t*>(request.ifr_hwaddr.sa_data));
    }
    found.emplace_back(entry->if_index, std::move(summary));
  }
  if (fd >= 0) ::close(fd);
  if (names != nullptr) ::if_freenameindex(names);
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<InterfaceSummary> interfaces;
  for (auto& [index, summary] : found) interfaces.push_back(std::move(summary));
  return interfaces;
}

}  // namespace veltris::capture
