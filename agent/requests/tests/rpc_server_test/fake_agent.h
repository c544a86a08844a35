#pragma once
// A stand-in request handler for the ServerRPC thread's tests, test server and
// benchmark. Key "SECRET"; replies start with a 32-byte "TASK" header.
//   "BIG n"  -> header + n pattern bytes
//   "STOP"   -> header, after calling the stop action
//   other    -> header + the request text
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "agent/requests/rpc_server.h"

namespace veltris::agent::testing {

inline constexpr char kFakeKey[] = "SECRET";
inline constexpr size_t kFakeHeaderSize = 32;

std::vector<uint8_t> fakePattern(size_t size);
std::array<uint8_t, 16> keyBytes(const std::string& text);
std::array<uint8_t, 256> requestBytes(const std::string& text);

RpcServerHooks fakeAgentHooks(std::function<void()> onStop = {});

}  // namespace veltris::agent::testing
