#pragma once
// The agent's access key as this PC's registry holds it.
#include <string>

namespace veltris::cli {

constexpr size_t kAccessKeyLength = 16;

// "OpenKey" under the agent's Parameters key: its text up to the first zero
// byte, at most 16 characters. False with the reason when there is none.
bool accessKeyFromRegistry(std::string& key, std::string& error);

}  // namespace veltris::cli
