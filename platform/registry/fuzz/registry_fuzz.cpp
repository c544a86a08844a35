// Arbitrary bytes as a registry file: parsing never crashes, and whatever parses
// is written back in a form that parses to the same text again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry/registry_format.h"

using namespace veltris::reg::detail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegTree tree;
  ParseError error;
  if (!parseRegistryText(text, tree, error)) {
    if (error.line == 0 || error.message.empty()) std::abort();
    return 0;
  }
  std::string first, second, why;
  if (!formatRegistryText(tree, first, why)) std::abort();
  RegTree again;
  if (!parseRegistryText(first, again, error)) std::abort();
  if (!formatRegistryText(again, second, why) || first != second) std::abort();
  return 0;
}
