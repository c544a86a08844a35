#include "console/core/agent_registry.h"

#include "platform/registry/registry.h"

namespace veltris::console {
namespace {

constexpr char kParameters[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters";
constexpr char kCurrentVersion[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\Tapsor\\CurrentVersion";
constexpr int kValueLimit = 256;

QString readValue(const char* key, const char* name) {
  std::string text;
  if (reg::Registry::system().queryString(key, name, text) != reg::kSuccess) return {};
  if (text.size() > kValueLimit) text.resize(kValueLimit);
  return QString::fromStdString(text);
}

}  // namespace

QString agentOpenKey() { return readValue(kParameters, "OpenKey"); }
QString agentDataPath() { return readValue(kParameters, "DataPath"); }
bool agentInstalledHere() { return !readValue(kCurrentVersion, "Title").isEmpty(); }

}  // namespace veltris::console
