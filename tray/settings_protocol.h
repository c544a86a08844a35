#pragma once
// Exit codes of veltris-settings-helper, shared with the tray that runs it.
#include <cstddef>

namespace veltris::tray::helper {

constexpr int kDone = 0;
constexpr int kUsage = 2;
constexpr int kFolderMissing = 3;
constexpr int kCreateFailed = 4;
constexpr int kKeyFailed = 5;
constexpr int kWriteFailed = 6;
// pkexec's own: the user dismissed or failed the authentication.
constexpr int kNotAuthorised = 126;
constexpr int kAuthFailed = 127;

constexpr size_t kMaxValueLength = 255;

}  // namespace veltris::tray::helper
