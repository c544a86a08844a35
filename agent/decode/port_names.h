#pragma once
// Names of TCP and UDP ports from the system's services database, read once
// into a direct-index table so that decoding never asks the database per frame.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltris::agent::decode {

enum class Transport : uint8_t { Tcp, Udp };

class PortNames {
 public:
  struct Entry {
    uint16_t port;
    Transport transport;
    std::string_view name;
  };

  // The services database as getservbyport would answer it; built at first use.
  static const PortNames& system();

  // A table of the given entries; the first entry for a port and transport wins.
  explicit PortNames(std::span<const Entry> entries);

  // The port's name, nullptr when it has none; port 80 is "www-http" by default.
  const char* name(uint16_t port, Transport transport) const;

  size_t count() const { return names_.size(); }

 private:
  PortNames() = default;
  void add(uint16_t port, Transport transport, std::string_view name);

  std::vector<std::string> names_;
  // Per transport and port: index into names_ plus one, 0 = no name.
  std::unique_ptr<uint32_t[]> slots_;
};

}  // namespace veltris::agent::decode
