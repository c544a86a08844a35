#include "platform/rpc/tapsor_interface.h"

#include <algorithm>

#include "platform/rpc/ndr.h"

namespace veltris::rpc::tapsor {
namespace {

constexpr uint32_t kReplyReferent = 0x00020000;

}  // namespace

const SyntaxId& interfaceId() {
  static const SyntaxId id = syntaxId("cabcbc10-aaae-11d2-a9f7-00104b7babc3", 1, 0);
  return id;
}

std::vector<uint8_t> encodeRequestRpcIn(const RequestRpcIn& in) {
  std::vector<uint8_t> stub;
  stub.reserve(kRequestStubSize);
  stub.insert(stub.end(), in.accessKey.begin(), in.accessKey.end());
  stub.insert(stub.end(), in.request.begin(), in.request.end());
  return stub;
}

bool decodeRequestRpcIn(std::span<const uint8_t> stub, RequestRpcIn& in) {
  if (stub.size() != kRequestStubSize) return false;
  std::copy_n(stub.begin(), kAccessKeySize, in.accessKey.begin());
  std::copy_n(stub.begin() + kAccessKeySize, kRequestSize, in.request.begin());
  return true;
}

void encodeRequestRpcOut(std::span<const uint8_t> reply, bool nullReply, int32_t status,
                         std::vector<uint8_t>& out) {
  out.reserve(out.size() + reply.size() + 16);
  NdrWriter w(out);
  if (nullReply) {
    w.u32(0);
    w.u32(0);  // ReplyLength carries no meaning without a reply
  } else {
    w.u32(kReplyReferent);
    w.u32(static_cast<uint32_t>(reply.size()));
    w.bytes(reply);
    w.align(4);
    w.u32(static_cast<uint32_t>(reply.size()));
  }
  w.u32(static_cast<uint32_t>(status));
}

bool decodeRequestRpcOut(std::span<const uint8_t> stub, RequestRpcOut& out) {
  NdrReader r(stub);
  out.nullReply = r.u32() == 0;
  out.reply.clear();
  if (!out.nullReply) {
    uint32_t count = r.u32();
    if (count > r.remaining()) return false;
    auto bytes = r.bytes(count);
    out.reply.assign(bytes.begin(), bytes.end());
    r.align(4);
  }
  out.replyLength = static_cast<int32_t>(r.u32());
  out.status = static_cast<int32_t>(r.u32());
  if (!r.ok() || !r.atEnd()) return false;
  return out.nullReply || static_cast<size_t>(out.replyLength) == out.reply.size();
}

void encodePingRpcOut(int32_t status, std::vector<uint8_t>& out) {
  NdrWriter w(out);
  w.u32(static_cast<uint32_t>(status));
}

bool decodePingRpcOut(std::span<const uint8_t> stub, int32_t& status) {
  if (stub.size() != 4) return false;
  status = static_cast<int32_t>(loadLe32(stub.data()));
  return true;
}

}  // namespace veltris::rpc::tapsor
