#include "agent/requests/tests/rpc_server_test/fake_agent.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace veltris::agent::testing {

std::vector<uint8_t> fakePattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
  return bytes;
}

std::array<uint8_t, 16> keyBytes(const std::string& text) {
  std::array<uint8_t, 16> key{};
  std::copy_n(text.begin(), std::min<size_t>(text.size(), key.size()), key.begin());
  return key;
}

std::array<uint8_t, 256> requestBytes(const std::string& text) {
  std::array<uint8_t, 256> request{};
  std::copy_n(text.begin(), std::min<size_t>(text.size(), 255), request.begin());
  return request;
}

RpcServerHooks fakeAgentHooks(std::function<void()> onStop) {
  RpcServerHooks hooks;
  hooks.request = [onStop](const uint8_t key[16], const uint8_t request[256],
                           std::vector<uint8_t>& reply, bool& nullReply) -> int32_t {
    if (std::memcmp(key, keyBytes(kFakeKey).data(), 16) != 0) {
      nullReply = true;
      return -2;
    }
    std::string text(reinterpret_cast<const char*>(request), strnlen(reinterpret_cast<const char*>(request), 256));
    const char header[] = "TASK199904152024010112:00:00";
    reply.assign(header, header + 28);
    reply.resize(kFakeHeaderSize, 0);  // traffic state 0
    if (text.rfind("BIG ", 0) == 0) {
      auto body = fakePattern(std::strtoul(text.c_str() + 4, nullptr, 10));
      reply.insert(reply.end(), body.begin(), body.end());
    } else {
      if (text == "STOP" && onStop) onStop();
      reply.insert(reply.end(), text.begin(), text.end());
    }
    return 0;
  };
  hooks.startTaskbar = [] {};
  hooks.messageBox = [](const char* caption, const char* text) {
    std::fprintf(stderr, "[%s] %s\n", caption, text);
  };
  return hooks;
}

}  // namespace veltris::agent::testing
