#include "desktop/agent_facts.h"

#include <filesystem>

#include "common/registry_names.h"
#include "platform/registry/registry.h"
#include "platform/service/agent_installation.h"
#include "platform/system_root.h"

namespace veltris::desktop {
namespace {

constexpr int kValueLimit = 256;

QString readValue(const char* key, const char* name) {
  std::string text;
  if (reg::Registry::system().queryString(key, name, text) != reg::kSuccess) return {};
  if (text.size() > kValueLimit) text.resize(kValueLimit);
  return QString::fromStdString(text);
}

// An agent that runs here has made its local sockets.
bool agentSocketsPresent() {
  std::error_code ec;
  std::filesystem::directory_iterator it(platform::rpcSocketDirectory(), ec);
  return !ec && it != std::filesystem::directory_iterator();
}

}  // namespace

QString agentOpenKey() { return readValue(kParametersKey, kOpenKeyValue); }
QString agentDataPath() { return readValue(kParametersKey, kDataPathValue); }
bool agentInstalledHere() { return service::agentInstalledHere() || agentSocketsPresent(); }

bool agentKeyReadable() {
  std::string text;
  return reg::Registry::system().queryString(kParametersKey, kOpenKeyValue, text) != reg::kAccessDenied;
}

}  // namespace veltris::desktop
