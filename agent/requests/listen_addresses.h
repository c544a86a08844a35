#pragma once
// The registry value "ListenAddress" under Parameters: where the endpoint
// mapper and the agent's TCP endpoint listen. Words separated by blanks or
// commas: "all" (or no value) for every address, IPv6 and IPv4; "loopback";
// an interface name for that interface's addresses; or literal addresses.
// The local socket is not affected.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rpc/socket.h"

namespace veltris::agent {

constexpr char kListenAddressValue[] = "ListenAddress";

struct ListenChoice {
  std::vector<rpc::ListenAddress> addresses;  // empty: every address
  std::string note;                           // a console line, empty when nothing to say
};

using InterfaceAddresses = std::map<std::string, std::vector<rpc::ListenAddress>>;

// A value that names nothing usable falls back to loopback, never to every address.
ListenChoice resolveListenAddresses(std::string_view value, const InterfaceAddresses& interfaces);

InterfaceAddresses hostInterfaceAddresses();

// Reads the value from this PC's registry and resolves it against its interfaces.
ListenChoice configuredListenAddresses();

}  // namespace veltris::agent
