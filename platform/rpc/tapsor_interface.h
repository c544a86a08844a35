#pragma once
// The agent's RPC interface cabcbc10-aaae-11d2-a9f7-00104b7babc3 v1.0 and the NDR
// stubs of its two procedures, shared by the agent's server thread and the
// client access library.
//
//   op 0 PingRpc():    in: nothing; out: status (4 bytes)
//   op 1 RequestRpc(): in: AccessKey[16], Request[256] (272 bytes, no counts)
//                      out: unique pointer referent id (0 = null), then if not
//                      null the conformance count and the reply bytes, padding
//                      to 4, ReplyLength (4), status (4)
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/rpc/uuid.h"

namespace veltris::rpc::tapsor {

const SyntaxId& interfaceId();

inline constexpr uint16_t kPingRpc = 0;
inline constexpr uint16_t kRequestRpc = 1;
inline constexpr size_t kAccessKeySize = 16;
inline constexpr size_t kRequestSize = 256;
inline constexpr size_t kRequestStubSize = kAccessKeySize + kRequestSize;
inline constexpr int32_t kKeyMismatch = -2;

struct RequestRpcIn {
  std::array<uint8_t, kAccessKeySize> accessKey{};
  std::array<uint8_t, kRequestSize> request{};
};

struct RequestRpcOut {
  bool nullReply = true;
  std::vector<uint8_t> reply;
  int32_t replyLength = 0;
  int32_t status = 0;
};

std::vector<uint8_t> encodeRequestRpcIn(const RequestRpcIn& in);
bool decodeRequestRpcIn(std::span<const uint8_t> stub, RequestRpcIn& in);  // exactly 272 bytes

void encodeRequestRpcOut(std::span<const uint8_t> reply, bool nullReply, int32_t status,
                         std::vector<uint8_t>& out);
bool decodeRequestRpcOut(std::span<const uint8_t> stub, RequestRpcOut& out);

void encodePingRpcOut(int32_t status, std::vector<uint8_t>& out);
bool decodePingRpcOut(std::span<const uint8_t> stub, int32_t& status);

}  // namespace veltris::rpc::tapsor
