#pragma once
// Status values of the RPC runtime: the Win32 codes its functions return and
// the DCE fault codes carried in fault PDUs.
#include <cstdint>

namespace veltris::rpc {

namespace status {
inline constexpr uint32_t kOk = 0;
inline constexpr uint32_t kOutOfMemory = 14;                // ERROR_OUTOFMEMORY
inline constexpr uint32_t kTimeout = 1460;                  // ERROR_TIMEOUT
inline constexpr uint32_t kInvalidStringBinding = 1700;
inline constexpr uint32_t kWrongKindOfBinding = 1701;
inline constexpr uint32_t kInvalidBinding = 1702;
inline constexpr uint32_t kProtseqNotSupported = 1703;
inline constexpr uint32_t kInvalidRpcProtseq = 1704;
inline constexpr uint32_t kInvalidEndpointFormat = 1706;
inline constexpr uint32_t kTypeAlreadyRegistered = 1712;
inline constexpr uint32_t kAlreadyListening = 1713;
inline constexpr uint32_t kNoProtseqsRegistered = 1714;
inline constexpr uint32_t kNotListening = 1715;
inline constexpr uint32_t kUnknownIf = 1717;
inline constexpr uint32_t kNoBindings = 1718;
inline constexpr uint32_t kCantCreateEndpoint = 1720;
inline constexpr uint32_t kServerUnavailable = 1722;
inline constexpr uint32_t kServerTooBusy = 1723;
inline constexpr uint32_t kCallFailed = 1726;
inline constexpr uint32_t kCallFailedDne = 1727;
inline constexpr uint32_t kProtocolError = 1728;
inline constexpr uint32_t kUnsupportedTransferSyntax = 1730;
inline constexpr uint32_t kDuplicateEndpoint = 1740;
inline constexpr uint32_t kProcnumOutOfRange = 1745;
inline constexpr uint32_t kEndpointNotRegistered = 1753;    // EPT_S_NOT_REGISTERED
inline constexpr uint32_t kBadStubData = 1783;              // RPC_X_BAD_STUB_DATA
}  // namespace status

namespace fault {
inline constexpr uint32_t kOpRangeError = 0x1c010002;       // nca_s_op_rng_error
inline constexpr uint32_t kUnknownInterface = 0x1c010003;   // nca_s_unk_if
inline constexpr uint32_t kProtocolError = 0x1c01000b;      // nca_s_proto_error
inline constexpr uint32_t kOutArgsTooBig = 0x1c010013;      // nca_s_out_args_too_big
inline constexpr uint32_t kServerTooBusy = 0x1c010014;      // nca_s_server_too_busy
inline constexpr uint32_t kUnsupportedType = 0x1c010017;    // nca_s_unsupported_type
inline constexpr uint32_t kUnspecified = 0x1c000012;        // nca_s_fault_unspec
inline constexpr uint32_t kRemoteNoMemory = 0x1c00001b;     // nca_s_fault_remote_no_memory
inline constexpr uint32_t kNdr = 0x000006f7;                // nca_s_fault_ndr
inline constexpr uint32_t kEndpointNotRegistered = 0x16c9a0d6;  // ept_s_not_registered
}  // namespace fault

// The status a client call reports for a fault PDU's code.
uint32_t statusFromFault(uint32_t faultCode);

}  // namespace veltris::rpc
