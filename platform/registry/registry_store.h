#pragma once
// The registry file on disk: bounded whole-file reads, and locked read-modify-write
// updates that replace the file atomically (temp file, fsync, rename).
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/registry/registry_tree.h"

namespace veltris::reg::detail {

constexpr size_t kMaxRegistryFileBytes = 16u * 1024 * 1024;

// A missing file is an empty registry. Win32 code; error names the file (and line).
long loadRegistry(const std::filesystem::path& file, RegTree& tree, std::string& error);

// Applies a change to the current tree; sets changed when the file must be rewritten.
using RegistryChange = std::function<long(RegTree& tree, bool& changed, std::string& error)>;

// Holds an exclusive lock on "<file>.lock" while it re-reads the file, applies the
// change and replaces the file. A file that cannot be read or parsed is left untouched.
long updateRegistry(const std::filesystem::path& file, const RegistryChange& change, std::string& error);

}  // namespace veltris::reg::detail
