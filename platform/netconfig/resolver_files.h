#pragma once
// The text files that hold a Linux machine's name servers: the resolver's
// configuration (resolv.conf) and Samba's (smb.conf, for WINS).
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace veltris::netconfig {

constexpr size_t kConfigFileLimit = 1024 * 1024;

// The first kConfigFileLimit bytes of a file; false when it cannot be read.
bool readConfigFile(const std::filesystem::path& file, std::string& text);

// The IPv4 addresses of the "nameserver" lines, in order.
std::vector<std::string> resolverNameServers(std::string_view text);

// The IPv4 addresses of "wins server" in the global section ("tag:address"
// entries give their address), in order; the last setting wins.
std::vector<std::string> sambaWinsServers(std::string_view text);

}  // namespace veltris::netconfig
