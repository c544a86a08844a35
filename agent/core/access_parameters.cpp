#include "agent/core/access_parameters.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "agent/core/runtime.h"
#include "common/registry_names.h"

namespace veltris::agent {
namespace {

// Four words of 0..32767, last word first, from the system's random source:
// a key nobody can guess until "OpenKey" is configured.
void randomKey(uint8_t key[16]) {
  uint16_t draws[4] = {};
  if (::getrandom(draws, sizeof draws, 0) != static_cast<ssize_t>(sizeof draws)) {
    std::srand(static_cast<unsigned>(std::time(nullptr)) ^ static_cast<unsigned>(::getpid()));
    for (uint16_t& d : draws) d = static_cast<uint16_t>(std::rand());
  }
  for (int word = 3; word >= 0; --word) {
    uint32_t value = draws[3 - word] & 0x7FFF;
    for (int b = 0; b < 4; ++b) key[word * 4 + b] = static_cast<uint8_t>(value >> (8 * b));
  }
  if (key[0] == 0) key[0] = 1;  // a zero first byte would mean "no key"
}

}  // namespace

void reportRegistryError(reg::Registry& registry) {
  consolePrint("ERROR - registry file '%s': %s\n", registry.file().c_str(), registry.lastError().c_str());
}

void readAccessParameters(GlobalArea& global) {
  reg::Registry registry = reg::Registry::system();
  uint8_t key[16] = {};
  std::vector<uint8_t> stored;
  long rc = registry.queryBinary(kParametersKey, "OpenKey", stored);
  if (rc == reg::kSuccess) std::memcpy(key, stored.data(), std::min<size_t>(stored.size(), sizeof key));
  else if (rc != reg::kFileNotFound) reportRegistryError(registry);
  uint32_t autoIpName = 0;
  if (registry.queryNumber(kParametersKey, "AutoIpName", autoIpName) != reg::kSuccess) autoIpName = 0;
  if (key[0] == 0) randomKey(key);
  std::lock_guard lock(global.labelMutex);
  std::memcpy(global.accessKey, key, sizeof key);
  global.autoIpName.store(autoIpName, std::memory_order_relaxed);
}

}  // namespace veltris::agent
