#include "agent/decode/port_names.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

namespace veltris::agent::decode {
namespace {

constexpr size_t kPortCount = 65536;
constexpr uint16_t kWebPort = 80;
constexpr char kWebFallback[] = "www-http";

size_t slotOf(uint16_t port, Transport transport) {
  return (transport == Transport::Udp ? kPortCount : 0) + port;
}

}  // namespace

PortNames::PortNames(std::span<const Entry> entries) : slots_(new uint32_t[2 * kPortCount]()) {
  for (const Entry& entry : entries) add(entry.port, entry.transport, entry.name);
}

void PortNames::add(uint16_t port, Transport transport, std::string_view name) {
  uint32_t& slot = slots_[slotOf(port, transport)];
  if (slot != 0 || name.empty()) return;
  names_.emplace_back(name);
  slot = static_cast<uint32_t>(names_.size());
}

const PortNames& PortNames::system() {
  static const PortNames table = [] {
    PortNames built;
    built.slots_.reset(new uint32_t[2 * kPortCount]());
    built.names_.reserve(1024);
    setservent(0);
    servent entry{};
    servent* found = nullptr;
    char buffer[4096];
    while (getservent_r(&entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
      uint16_t port = ntohs(static_cast<uint16_t>(found->s_port));
      if (found->s_proto == nullptr || found->s_name == nullptr) continue;
      if (std::strcmp(found->s_proto, "tcp") == 0) built.add(port, Transport::Tcp, found->s_name);
      if (std::strcmp(found->s_proto, "udp") == 0) built.add(port, Transport::Udp, found->s_name);
    }
    endservent();
    return built;
  }();
  return table;
}

const char* PortNames::name(uint16_t port, Transport transport) const {
  uint32_t slot = slots_[slotOf(port, transport)];
  if (slot != 0) return names_[slot - 1].c_str();
  return port == kWebPort ? kWebFallback : nullptr;
}

}  // namespace veltris::agent::decode
