#pragma once
// Helpers shared by the RPC tests: a private system root, a test interface and
// PDU builders.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/rpc/interface.h"
#include "platform/rpc/ndr.h"
#include "platform/rpc/pdu.h"
#include "platform/rpc/status.h"

namespace veltris::rpc::testing {

// A fresh VELTRIS_ROOT for the test's lifetime (local sockets live under it).
class TempRoot {
 public:
  TempRoot() {
    char pattern[] = "/tmp/vrpcXXXXXX";
    path_ = ::mkdtemp(pattern);
    ::setenv("VELTRIS_ROOT", path_.c_str(), 1);
  }
  ~TempRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    ::unsetenv("VELTRIS_ROOT");
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline const SyntaxId& testInterfaceId() {
  static const SyntaxId id = syntaxId("0a1b2c3d-1111-2222-3333-444455556666", 1, 2);
  return id;
}

inline std::vector<uint8_t> pattern(size_t size, uint8_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return bytes;
}

namespace test_op {
inline constexpr uint16_t kEcho = 0;      // out = in
inline constexpr uint16_t kSized = 1;     // in: u32 size; out: pattern(size)
inline constexpr uint16_t kBadStub = 2;   // always fault::kNdr
inline constexpr uint16_t kThrows = 3;    // throws
}  // namespace test_op

inline Interface testInterface() {
  Interface iface{testInterfaceId(), "test", {}};
  // Echo and sized work from memory: the server's reader answers them itself.
  auto brief = [](std::span<const uint8_t>) { return true; };
  iface.operations.push_back({test_op::kEcho, "echo",
                              [](const CallContext&, std::span<const uint8_t> in,
                                 std::vector<uint8_t>& out) {
                                out.assign(in.begin(), in.end());
                                return 0u;
                              },
                              brief});
  iface.operations.push_back({test_op::kSized, "sized",
                              [](const CallContext&, std::span<const uint8_t> in,
                                 std::vector<uint8_t>& out) {
                                if (in.size() != 4) return fault::kNdr;
                                out = pattern(loadLe32(in.data()));
                                return 0u;
                              },
                              brief});
  iface.operations.push_back({test_op::kBadStub, "bad",
                              [](const CallContext&, std::span<const uint8_t>,
                                 std::vector<uint8_t>&) { return fault::kNdr; }});
  iface.operations.push_back({test_op::kThrows, "throws",
                              [](const CallContext&, std::span<const uint8_t>,
                                 std::vector<uint8_t>&) -> uint32_t {
                                throw std::runtime_error("handler failed");
                              }});
  return iface;
}

inline std::vector<uint8_t> sizeStub(uint32_t size) {
  std::vector<uint8_t> stub;
  NdrWriter(stub).u32(size);
  return stub;
}

inline std::vector<uint8_t> bindPdu(const SyntaxId& iface, const SyntaxId& transfer,
                                    uint16_t maxXmit = 4280, uint16_t maxRecv = 4280,
                                    uint32_t callId = 1, PduType type = PduType::Bind) {
  std::vector<uint8_t> out;
  encodeBind(out, type, callId, BindPdu{maxXmit, maxRecv, 0, {{0, iface, {transfer}}}});
  return out;
}

inline std::vector<uint8_t> requestPdu(uint32_t callId, uint16_t opnum,
                                       std::span<const uint8_t> stub,
                                       uint8_t flags = pfc::kFirstFrag | pfc::kLastFrag,
                                       uint16_t contextId = 0) {
  std::vector<uint8_t> out;
  CallFragment fragment{PduType::Request, callId, flags, static_cast<uint32_t>(stub.size()),
                        contextId, opnum};
  encodeCallFragment(out, fragment, stub);
  return out;
}

}  // namespace veltris::rpc::testing
