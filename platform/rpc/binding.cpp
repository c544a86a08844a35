#include "platform/rpc/binding.h"

#include <array>
#include <cstdlib>

#include "platform/rpc/status.h"

namespace veltris::rpc {
namespace {

struct ProtseqEntry {
  const char* name;
  bool supported;
  Protseq protseq;
};

// Protocol sequences that an NT client or server may name.
constexpr std::array<ProtseqEntry, 9> kProtseqs = {{
    {"ncacn_ip_tcp", true, Protseq::Tcp},
    {"ncalrpc", true, Protseq::Local},
    {"ncacn_nb_nb", false, Protseq::Tcp},
    {"ncacn_spx", false, Protseq::Tcp},
    {"ncacn_np", false, Protseq::Tcp},
    {"ncadg_ip_udp", false, Protseq::Tcp},
    {"ncadg_ipx", false, Protseq::Tcp},
    {"ncacn_nb_tcp", false, Protseq::Tcp},
    {"ncacn_http", false, Protseq::Tcp},
}};

constexpr size_t kMaxLocalEndpoint = 64;
constexpr uint16_t kDefaultEndpointMapperPort = 135;

bool isHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

// Host names, dotted IPv4 and IPv6 literals with a zone ("fe80::1%eth0").
bool isNetworkAddressCharacter(char c) { return isHostCharacter(c) || c == ':' || c == '%'; }

}  // namespace

uint32_t protseqFromName(std::string_view name, Protseq& protseq) {
  for (const ProtseqEntry& entry : kProtseqs) {
    if (name != entry.name) continue;
    if (!entry.supported) return status::kProtseqNotSupported;
    protseq = entry.protseq;
    return status::kOk;
  }
  return status::kInvalidRpcProtseq;
}

const char* protseqName(Protseq protseq) {
  return protseq == Protseq::Local ? "ncalrpc" : "ncacn_ip_tcp";
}

bool isValidLocalEndpoint(std::string_view name) {
  if (name.empty() || name.size() > kMaxLocalEndpoint || name[0] == '.') return false;
  for (char c : name) {
    if (!isHostCharacter(c)) return false;
  }
  return true;
}

bool parsePort(std::string_view text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

uint32_t parseBinding(std::string_view text, Binding& binding) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return status::kInvalidStringBinding;
  Binding parsed;
  if (uint32_t st = protseqFromName(text.substr(0, colon), parsed.protseq); st != status::kOk) {
    return st;
  }
  std::string_view rest = text.substr(colon + 1);
  size_t open = rest.find('[');
  std::string_view host = rest.substr(0, open);
  if (open != std::string_view::npos) {
    if (rest.back() != ']') return status::kInvalidStringBinding;
    std::string_view endpoint = rest.substr(open + 1, rest.size() - open - 2);
    endpoint = endpoint.substr(0, endpoint.find(','));  // network options are not used
    parsed.endpoint = std::string(endpoint);
  }
  for (char c : host) {
    if (!isNetworkAddressCharacter(c)) return status::kInvalidStringBinding;
  }
  if (parsed.protseq == Protseq::Local) {
    if (!host.empty()) return status::kInvalidStringBinding;
    if (!parsed.endpoint.empty() && !isValidLocalEndpoint(parsed.endpoint)) {
      return status::kInvalidEndpointFormat;
    }
  } else {
    uint16_t port = 0;
    if (!parsed.endpoint.empty() && !parsePort(parsed.endpoint, port)) {
      return status::kInvalidEndpointFormat;
    }
    parsed.host = std::string(host);
  }
  binding = std::move(parsed);
  return status::kOk;
}

std::string toString(const Binding& binding) {
  std::string text = protseqName(binding.protseq);
  text += ':';
  text += binding.host;
  if (!binding.endpoint.empty()) text += '[' + binding.endpoint + ']';
  return text;
}

uint16_t endpointMapperPort() {
  const char* value = std::getenv("VELTRIS_EPM_PORT");
  if (value == nullptr || *value == '\0') return kDefaultEndpointMapperPort;
  if (std::string_view(value) == "0") return 0;
  uint16_t port = 0;
  return parsePort(value, port) ? port : kDefaultEndpointMapperPort;
}

}  // namespace veltris::rpc
