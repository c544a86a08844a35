#pragma once
// Protocol sequences and string bindings: "ncacn_ip_tcp:HOST[PORT]",
// "ncacn_ip_tcp:HOST" (port from the endpoint mapper), "ncalrpc:[ENDPOINT]" and
// "ncalrpc:" (endpoint from the local endpoint mapper).
#include <cstdint>
#include <string>
#include <string_view>

namespace veltris::rpc {

enum class Protseq { Tcp, Local };

struct Binding {
  Protseq protseq = Protseq::Tcp;
  std::string host;      // empty: this machine (TCP) or always empty (local)
  std::string endpoint;  // TCP port in decimal or local endpoint name; empty: ask the mapper
};

// Status 0, kProtseqNotSupported for a known protocol sequence this runtime
// lacks ("ncacn_nb_nb", "ncacn_spx", ...), kInvalidRpcProtseq otherwise.
uint32_t protseqFromName(std::string_view name, Protseq& protseq);
const char* protseqName(Protseq protseq);

// Status 0 or the reason the text is not a usable binding.
uint32_t parseBinding(std::string_view text, Binding& binding);
std::string toString(const Binding& binding);

bool isValidLocalEndpoint(std::string_view name);
bool parsePort(std::string_view text, uint16_t& port);  // 1..65535, digits only

// The endpoint mapper: TCP port 135, or VELTRIS_EPM_PORT when set ("0" asks the
// server for a dynamic port, for tests); the local one is "ncalrpc:[epmapper]".
uint16_t endpointMapperPort();
inline constexpr const char* kLocalEndpointMapper = "epmapper";

}  // namespace veltris::rpc
