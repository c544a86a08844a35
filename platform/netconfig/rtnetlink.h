#pragma once
// What the kernel's routing socket tells of IPv4 links, addresses and default
// routes. Each call opens its own socket, so it answers for the network
// namespace of the calling thread and may run on any number of threads.
#include <cstdint>
#include <string>
#include <vector>

namespace veltris::netconfig {

struct LinkEntry {
  int index = 0;
  std::string name;
  uint16_t type = 0;  // ARPHRD_*
  std::string kind;   // IFLA_INFO_KIND: "veth", "wireguard", "tun"...; empty for hardware
};

struct AddressEntry {
  int index = 0;
  uint32_t address = 0;  // in_addr.s_addr
  uint8_t prefixLength = 0;
  bool permanent = true;            // false for an address with a finite lifetime
  uint32_t validLifetime = 0;       // seconds left; 0xFFFFFFFF = forever
  uint32_t updatedHundredths = 0;   // last update, hundredths of a second since boot
};

struct DefaultRoute {
  int index = 0;         // outgoing interface
  uint32_t gateway = 0;  // in_addr.s_addr; 0 for a point-to-point route
  uint32_t metric = 0;
};

constexpr uint32_t kForever = 0xFFFFFFFF;

// Each answers false with `error` set when the kernel cannot be asked.
bool dumpLinks(std::vector<LinkEntry>& links, std::string& error);
bool dumpAddresses(std::vector<AddressEntry>& addresses, std::string& error);
// Default routes of the main table, lowest metric first, kernel order otherwise.
bool dumpDefaultRoutes(std::vector<DefaultRoute>& routes, std::string& error);

}  // namespace veltris::netconfig
