#include "platform/rpc/status.h"

#include <array>
#include <utility>

namespace veltris::rpc {
namespace {

// Fault codes that NT reports to a caller as a Win32 RPC status.
constexpr std::array<std::pair<uint32_t, uint32_t>, 7> kFaultStatus = {{
    {fault::kOpRangeError, status::kProcnumOutOfRange},
    {fault::kUnknownInterface, status::kUnknownIf},
    {fault::kProtocolError, status::kProtocolError},
    {fault::kServerTooBusy, status::kServerTooBusy},
    {fault::kRemoteNoMemory, status::kOutOfMemory},
    {fault::kNdr, status::kBadStubData},
    {fault::kEndpointNotRegistered, status::kEndpointNotRegistered},
}};

}  // namespace

uint32_t statusFromFault(uint32_t faultCode) {
  for (auto [code, win32] : kFaultStatus) {
    if (code == faultCode) return win32;
  }
  return faultCode;
}

}  // namespace veltris::rpc
