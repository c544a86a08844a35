#pragma once
// The agent's service as the service manager knows it: read by the agent's
// own -install and by the packages, so both write the same unit.
#include <array>

namespace veltris {

constexpr char kServiceName[] = "TapsorSv";
constexpr char kDisplayName[] = "VELTRIS Agent Service";
constexpr char kDriverServiceName[] = "Tapsor";
// The services the agent starts after.
constexpr std::array<const char*, 2> kServiceDependencies = {kDriverServiceName, "RPCSS"};

}  // namespace veltris
