#pragma once
// Reading and writing the text of a registry export ("Windows Registry Editor Version 5.00").
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/registry/registry_tree.h"

namespace veltris::reg::detail {

constexpr std::string_view kRegistryHeader = "Windows Registry Editor Version 5.00";

struct ParseError {
  size_t line = 0;  // 1-based
  std::string message;
};

// Applies the file's key and value lines to tree in order, as an import would:
// later lines win, "[-KEY]" deletes a key with its subkeys, "Name"=- deletes a value.
// Text without any line but blanks and comments is an empty registry.
bool parseRegistryText(std::string_view text, RegTree& tree, ParseError& error);

// The whole file: header, then each key line followed by its values, parents
// before subkeys, subkeys in name order. False (with why) when a string value
// cannot be written as text.
bool formatRegistryText(const RegTree& tree, std::string& out, std::string& why);

}  // namespace veltris::reg::detail
