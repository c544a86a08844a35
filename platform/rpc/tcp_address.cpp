#include "platform/rpc/tcp_address.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cctype>
#include <cstring>

namespace veltris::rpc {
namespace {

// The interface index a zone names, 0 when none.
uint32_t zoneIndex(const std::string& zone) {
  if (zone.empty()) return 0;
  if (zone.find_first_not_of("0123456789") == std::string::npos) {
    unsigned long number = std::strtoul(zone.c_str(), nullptr, 10);
    return number <= UINT32_MAX ? static_cast<uint32_t>(number) : 0;
  }
  if (uint32_t index = ::if_nametoindex(zone.c_str())) return index;
  std::string lower = zone;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ::if_nametoindex(lower.c_str());
}

bool ipv6WithZone(const std::string& literal, uint16_t port, sockaddr_storage& out, std::string& error) {
  size_t percent = literal.find('%');
  std::string address = literal.substr(0, percent);
  auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
  out = {};
  if (::inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) != 1) {
    error = literal + ": not an IPv6 address";
    return false;
  }
  v6.sin6_family = AF_INET6;
  v6.sin6_port = htons(port);
  if (percent != std::string::npos) {
    std::string zone = literal.substr(percent + 1);
    v6.sin6_scope_id = zoneIndex(zone);
    if (v6.sin6_scope_id == 0) {
      error = literal + ": no interface " + zone;
      return false;
    }
  }
  return true;
}

}  // namespace

std::string withoutBrackets(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
  return host;
}

bool isIpv6Literal(const std::string& host) {
  std::string literal = withoutBrackets(host);
  std::string address = literal.substr(0, literal.find('%'));
  in6_addr parsed{};
  return ::inet_pton(AF_INET6, address.c_str(), &parsed) == 1;
}

bool resolveTcpHost(const std::string& host, uint16_t port, std::vector<sockaddr_storage>& addresses,
                    std::string& error) {
  addresses.clear();
  std::string name = withoutBrackets(host);
  if (isIpv6Literal(name)) {
    sockaddr_storage address{};
    if (!ipv6WithZone(name, port, address, error)) return false;
    addresses.push_back(address);
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found); rc != 0 || found == nullptr) {
    error = name + ": " + ::gai_strerror(rc);
    return false;
  }
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    sockaddr_storage address{};
    std::memcpy(&address, a->ai_addr, a->ai_addrlen);
    if (a->ai_family == AF_INET6) {
      reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
    } else {
      reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
    }
    addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  if (addresses.empty()) error = name + ": no IPv4 or IPv6 address";
  return !addresses.empty();
}

}  // namespace veltris::rpc
