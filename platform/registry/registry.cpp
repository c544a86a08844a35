#include "platform/registry/registry.h"

#include <algorithm>

#include "platform/registry/registry_store.h"
#include "platform/registry/registry_text.h"
#include "platform/registry/registry_tree.h"
#include "platform/system_root.h"

namespace veltris::reg {
namespace {

using detail::KeyPath;
using detail::RegKey;
using detail::RegTree;
using detail::RegValue;

bool isStringType(ValueType type) {
  return type == ValueType::Sz || type == ValueType::ExpandSz || type == ValueType::MultiSz;
}

std::string valueLabel(const KeyPath& path, std::string_view name) {
  return "value \"" + std::string(name) + "\" under " + path.text();
}

// Shared by every call: the file, the caller's key path, and where failures go.
class Call {
 public:
  Call(const std::filesystem::path& file, std::string& lastError) : file_(file), lastError_(lastError) {}

  long fail(long code, const std::string& message) {
    lastError_ = file_.string() + ": " + message;
    return code;
  }

  long resolve(std::string_view key, KeyPath& path) {
    std::string why;
    if (!detail::parseKeyPath(key, path, why)) return fail(kInvalidParameter, why);
    return kSuccess;
  }

  long checkValueName(std::string_view name) {
    std::string why;
    return detail::validValueName(name, why) ? kSuccess : fail(kInvalidParameter, why);
  }

  // Reads the file and finds the key; key is null on failure.
  long findKey(std::string_view keyText, RegTree& tree, KeyPath& path, const RegKey*& key) {
    key = nullptr;
    long result = resolve(keyText, path);
    if (result == kSuccess) result = detail::loadRegistry(file_, tree, lastError_);
    if (result != kSuccess) return result;
    key = tree.find(path);
    return key != nullptr ? kSuccess : fail(kFileNotFound, "key " + path.text() + " not found");
  }

  long findValue(std::string_view keyText, std::string_view name, KeyPath& path, RegValue& out) {
    RegTree tree;
    const RegKey* key = nullptr;
    const long result = findKey(keyText, tree, path, key);
    if (result != kSuccess) return result;
    const RegValue* value = key->findValue(name);
    if (value == nullptr) return fail(kFileNotFound, valueLabel(path, name) + " not found");
    out = *value;
    return kSuccess;
  }

  long update(std::string_view keyText, const std::function<long(RegTree&, const KeyPath&, bool&)>& change) {
    KeyPath path;
    const long result = resolve(keyText, path);
    if (result != kSuccess) return result;
    return detail::updateRegistry(
        file_, [&](RegTree& tree, bool& changed, std::string&) { return change(tree, path, changed); }, lastError_);
  }

  long wrongType(const KeyPath& path, std::string_view name, uint32_t type, std::string_view wanted) {
    return fail(kInvalidData,
                valueLabel(path, name) + " has type " + std::to_string(type) + ", not " + std::string(wanted));
  }

 private:
  const std::filesystem::path& file_;
  std::string& lastError_;
};

std::vector<uint8_t> textBytes(std::string_view text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

}  // namespace

Registry::Registry(std::filesystem::path file) : file_(std::move(file)) {}

Registry Registry::system() { return Registry(platform::registryFile()); }

long Registry::keyExists(std::string_view key) {
  RegTree tree;
  KeyPath path;
  const RegKey* found = nullptr;
  return Call(file_, lastError_).findKey(key, tree, path, found);
}

long Registry::createKey(std::string_view key) {
  return Call(file_, lastError_).update(key, [](RegTree& tree, const KeyPath& path, bool& changed) {
    changed = tree.find(path) == nullptr;
    tree.ensure(path).markExplicit();
    return kSuccess;
  });
}

long Registry::deleteKey(std::string_view key) {
  Call call(file_, lastError_);
  return call.update(key, [&](RegTree& tree, const KeyPath& path, bool& changed) {
    if (path.parts.size() < 2) return call.fail(kAccessDenied, "root key " + path.text() + " cannot be deleted");
    changed = tree.erase(path);
    return changed ? kSuccess : call.fail(kFileNotFound, "key " + path.text() + " not found");
  });
}

long Registry::enumSubkey(std::string_view key, uint32_t index, std::string& name) {
  std::vector<std::string> names;
  const long result = enumSubkeys(key, names);
  if (result != kSuccess) return result;
  if (index >= names.size()) return Call(file_, lastError_).fail(kNoMoreItems, "no more subkeys");
  name = names[index];
  return kSuccess;
}

long Registry::enumSubkeys(std::string_view key, std::vector<std::string>& names) {
  RegTree tree;
  KeyPath path;
  const RegKey* found = nullptr;
  const long result = Call(file_, lastError_).findKey(key, tree, path, found);
  if (result != kSuccess) return result;
  names.clear();
  for (const RegKey* child : found->children()) names.push_back(child->name());
  return kSuccess;
}

long Registry::queryValue(std::string_view key, std::string_view name, ValueType& type, std::vector<uint8_t>& data) {
  KeyPath path;
  RegValue value;
  const long result = Call(file_, lastError_).findValue(key, name, path, value);
  if (result != kSuccess) return result;
  type = static_cast<ValueType>(value.type);
  data = std::move(value.data);
  return kSuccess;
}

long Registry::queryString(std::string_view key, std::string_view name, std::string& out) {
  Call call(file_, lastError_);
  KeyPath path;
  RegValue value;
  const long result = call.findValue(key, name, path, value);
  if (result != kSuccess) return result;
  const auto type = static_cast<ValueType>(value.type);
  if (type != ValueType::Sz && type != ValueType::ExpandSz) {
    return call.wrongType(path, name, value.type, "a string");
  }
  const std::string_view text = detail::asText(value.data);
  out = std::string(text.substr(0, text.find('\0')));
  return kSuccess;
}

long Registry::queryNumber(std::string_view key, std::string_view name, uint32_t& out) {
  Call call(file_, lastError_);
  KeyPath path;
  RegValue value;
  const long result = call.findValue(key, name, path, value);
  if (result != kSuccess) return result;
  if (static_cast<ValueType>(value.type) != ValueType::Dword || value.data.size() != 4) {
    return call.wrongType(path, name, value.type, "a 4-byte dword");
  }
  out = detail::dwordOf(value.data);
  return kSuccess;
}

long Registry::queryMultiString(std::string_view key, std::string_view name, std::vector<std::string>& out) {
  Call call(file_, lastError_);
  KeyPath path;
  RegValue value;
  const long result = call.findValue(key, name, path, value);
  if (result != kSuccess) return result;
  if (static_cast<ValueType>(value.type) != ValueType::MultiSz) {
    return call.wrongType(path, name, value.type, "a multi-string");
  }
  // Strings end at each NUL; an empty string (two NULs) ends the list.
  out.clear();
  std::string_view rest = detail::asText(value.data);
  while (!rest.empty()) {
    const size_t end = std::min(rest.find('\0'), rest.size());
    if (end == 0) break;
    out.emplace_back(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return kSuccess;
}

long Registry::queryBinary(std::string_view key, std::string_view name, std::vector<uint8_t>& out) {
  KeyPath path;
  RegValue value;
  const long result = Call(file_, lastError_).findValue(key, name, path, value);
  if (result != kSuccess) return result;
  out = std::move(value.data);
  return kSuccess;
}

long Registry::setValue(std::string_view key, std::string_view name, ValueType type, const std::vector<uint8_t>& data) {
  Call call(file_, lastError_);
  long result = call.checkValueName(name);
  if (result != kSuccess) return result;
  if (isStringType(type) && !detail::validUtf8(detail::asText(data))) {
    return call.fail(kInvalidParameter, "string data for value \"" + std::string(name) + "\" is not valid UTF-8");
  }
  return call.update(key, [&](RegTree& tree, const KeyPath& path, bool& changed) {
    const bool created = tree.find(path) == nullptr;
    RegKey& target = tree.ensure(path);
    const bool valueChanged = target.setValue(name, static_cast<uint32_t>(type), data);
    changed = created || valueChanged;
    return kSuccess;
  });
}

long Registry::setString(std::string_view key, std::string_view name, std::string_view value) {
  if (value.find('\0') != std::string_view::npos) {
    return Call(file_, lastError_)
        .fail(kInvalidParameter, "string for value \"" + std::string(name) + "\" contains NUL");
  }
  return setValue(key, name, ValueType::Sz, textBytes(value));
}

long Registry::setNumber(std::string_view key, std::string_view name, uint32_t value) {
  return setValue(key, name, ValueType::Dword, detail::dwordBytes(value));
}

long Registry::setMultiString(std::string_view key, std::string_view name, const std::vector<std::string>& values) {
  std::vector<uint8_t> bytes;
  for (const std::string& text : values) {
    if (text.empty() || text.find('\0') != std::string::npos) {
      return Call(file_, lastError_)
          .fail(kInvalidParameter, "multi-string \"" + std::string(name) + "\" has an empty string or one with NUL");
    }
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return setValue(key, name, ValueType::MultiSz, bytes);
}

long Registry::setBinary(std::string_view key, std::string_view name, const std::vector<uint8_t>& value) {
  return setValue(key, name, ValueType::Binary, value);
}

long Registry::deleteValue(std::string_view key, std::string_view name) {
  Call call(file_, lastError_);
  return call.update(key, [&](RegTree& tree, const KeyPath& path, bool& changed) {
    RegKey* target = tree.find(path);
    if (target == nullptr) return call.fail(kFileNotFound, "key " + path.text() + " not found");
    changed = target->eraseValue(name);
    return changed ? kSuccess : call.fail(kFileNotFound, valueLabel(path, name) + " not found");
  });
}

}  // namespace veltris::reg
