// libFuzzer target: resolver and Samba configuration text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/netconfig/resolver_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  veltris::netconfig::resolverNameServers(text);
  veltris::netconfig::sambaWinsServers(text);
  return 0;
}
