#include "desktop/agent_facts.h"

#include "common/registry_names.h"
#include "platform/registry/registry.h"
#include "platform/service/agent_installation.h"

namespace veltris::desktop {
namespace {

constexpr int kValueLimit = 256;

QString readValue(const char* key, const char* name) {
  std::string text;
  if (reg::Registry::system().queryString(key, name, text) != reg::kSuccess) return {};
  if (text.size() > kValueLimit) text.resize(kValueLimit);
  return QString::fromStdString(text);
}

}  // namespace

QString agentOpenKey() { return readValue(kParametersKey, kOpenKeyValue); }
QString agentDataPath() { return readValue(kParametersKey, kDataPathValue); }
bool agentInstalledHere() { return service::agentInstalledHere(); }

bool agentKeyReadable() {
  std::string text;
  return reg::Registry::system().queryString(kParametersKey, kOpenKeyValue, text) != reg::kAccessDenied;
}

}  // namespace veltris::desktop
