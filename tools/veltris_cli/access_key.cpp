#include "tools/veltris_cli/access_key.h"

#include <algorithm>
#include <vector>

#include "common/registry_names.h"
#include "platform/registry/registry.h"

namespace veltris::cli {

bool accessKeyFromRegistry(std::string& key, std::string& error) {
  reg::Registry registry = reg::Registry::system();
  std::vector<uint8_t> stored;
  long rc = registry.queryBinary(kParametersKey, "OpenKey", stored);
  if (rc == reg::kFileNotFound) {
    error = "no access key: \"OpenKey\" is not set under " + std::string(kParametersKey) + " in " +
            registry.file().string() + "; give the key with --key KEY";
    return false;
  }
  if (rc != reg::kSuccess) {
    error = "cannot read the access key from the registry (error " + std::to_string(rc) + "): " + registry.lastError() +
            "; give the key with --key KEY";
    return false;
  }
  auto end = std::find(stored.begin(), stored.end(), uint8_t{0});
  key.assign(stored.begin(), end);
  if (key.size() > kAccessKeyLength) key.resize(kAccessKeyLength);
  if (key.empty()) {
    error = "no access key: \"OpenKey\" in " + registry.file().string() +
            " is empty, so the agent accepts no client; give the key with --key KEY";
    return false;
  }
  return true;
}

}  // namespace veltris::cli
