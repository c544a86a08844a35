#pragma once
// The addresses a TCP client tries for a host text: a dotted IPv4 address, an
// IPv6 literal (bare or in brackets, with an optional zone: "fe80::1%eth0"),
// or a host name with A and/or AAAA records.
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

namespace veltris::rpc {

// The host part of a bracketed literal ("[::1]" gives "::1"); other texts as they are.
std::string withoutBrackets(const std::string& host);

// True for an IPv6 literal, with or without brackets and zone.
bool isIpv6Literal(const std::string& host);

// Fills `addresses` with `port` set, in the order the resolver prefers them;
// false with the reason in `error` when the host has none. A zone is an
// interface name, matched as given and then in lower case (consoles upper-case
// the computer name), or an interface number.
bool resolveTcpHost(const std::string& host, uint16_t port, std::vector<sockaddr_storage>& addresses,
                    std::string& error);

}  // namespace veltris::rpc
