#include "agent/requests/listen_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "common/registry_names.h"
#include "platform/registry/registry.h"

namespace veltris::agent {
namespace {

std::vector<std::string> words(std::string_view value) {
  std::vector<std::string> out;
  std::string word;
  for (char c : value) {
    if (c == ' ' || c == ',' || c == '\t' || c == ';') {
      if (!word.empty()) out.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) out.push_back(std::move(word));
  return out;
}

std::vector<rpc::ListenAddress> loopback(const InterfaceAddresses& interfaces) {
  std::vector<rpc::ListenAddress> out(1);
  rpc::parseListenAddress("127.0.0.1", out[0]);
  bool ipv6 = false;
  for (const auto& [name, addresses] : interfaces) {
    for (const rpc::ListenAddress& a : addresses) ipv6 |= a.text == "::1";
  }
  if (ipv6) {
    out.emplace_back();
    rpc::parseListenAddress("::1", out.back());
  }
  return out;
}

std::string joined(const std::vector<rpc::ListenAddress>& addresses) {
  std::string text;
  for (const rpc::ListenAddress& a : addresses) text += (text.empty() ? "" : ", ") + a.text;
  return text;
}

void addUnique(std::vector<rpc::ListenAddress>& to, const rpc::ListenAddress& address) {
  for (const rpc::ListenAddress& known : to) {
    if (known.text == address.text) return;
  }
  to.push_back(address);
}

}  // namespace

ListenChoice resolveListenAddresses(std::string_view value, const InterfaceAddresses& interfaces) {
  ListenChoice choice;
  const std::vector<std::string> list = words(value);
  if (list.empty() || (list.size() == 1 && (strcasecmp(list[0].c_str(), "all") == 0 || list[0] == "*"))) {
    return choice;
  }
  std::string refused;
  for (const std::string& word : list) {
    rpc::ListenAddress literal;
    if (strcasecmp(word.c_str(), "loopback") == 0) {
      for (const auto& a : loopback(interfaces)) addUnique(choice.addresses, a);
    } else if (auto found = interfaces.find(word); found != interfaces.end()) {
      if (found->second.empty()) refused += (refused.empty() ? "" : ", ") + word + " (no address)";
      for (const auto& a : found->second) addUnique(choice.addresses, a);
    } else if (rpc::parseListenAddress(word, literal)) {
      addUnique(choice.addresses, literal);
    } else {
      refused += (refused.empty() ? "" : ", ") + word;
    }
  }
  if (choice.addresses.empty()) {
    choice.addresses = loopback(interfaces);
    choice.note = "ListenAddress '" + std::string(value) + "' names no address here (" + refused +
                  "); listening on loopback only: " + joined(choice.addresses);
    return choice;
  }
  choice.note = "Listening on " + joined(choice.addresses) + " (ListenAddress '" + std::string(value) + "')";
  if (!refused.empty()) choice.note += "; ignored: " + refused;
  return choice;
}

InterfaceAddresses hostInterfaceAddresses() {
  InterfaceAddresses result;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return result;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    std::vector<rpc::ListenAddress>& addresses = result[i->ifa_name];
    if (i->ifa_addr == nullptr) continue;
    int family = i->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    rpc::ListenAddress a;
    std::memcpy(&a.address, i->ifa_addr, family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = family == AF_INET ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr)
                                        : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr);
    ::inet_ntop(family, raw, text, sizeof text);
    a.text = text;
    if (family == AF_INET6 && reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_scope_id != 0) {
      a.text += std::string("%") + i->ifa_name;
    }
    addresses.push_back(a);
  }
  ::freeifaddrs(list);
  return result;
}

ListenChoice configuredListenAddresses() {
  reg::Registry registry = reg::Registry::system();
  std::string value;
  if (registry.queryString(kParametersKey, kListenAddressValue, value) != reg::kSuccess) value.clear();
  return resolveListenAddresses(value, hostInterfaceAddresses());
}

}  // namespace veltris::agent
