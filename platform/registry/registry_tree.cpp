#include "platform/registry/registry_tree.h"

#include <algorithm>
#include <array>

#include "platform/registry/registry_text.h"

namespace veltris::reg::detail {
namespace {

struct RootKey {
  std::string_view name;
  std::string_view shortName;
};

constexpr std::array<RootKey, 5> kRootKeys{{
    {"HKEY_CLASSES_ROOT", "HKCR"},
    {"HKEY_CURRENT_USER", "HKCU"},
    {"HKEY_LOCAL_MACHINE", "HKLM"},
    {"HKEY_USERS", "HKU"},
    {"HKEY_CURRENT_CONFIG", "HKCC"},
}};

char foldChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool hasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos;
}

bool validKeyName(std::string_view name, std::string& why) {
  if (name.empty()) {
    why = "empty key name in path";
  } else if (hasLineBreakOrNul(name)) {
    why = "key name contains a line break or NUL";
  } else if (!validUtf8(name)) {
    why = "key name is not valid UTF-8";
  } else if (countUtf8Chars(name) > kMaxKeyNameChars) {
    why = "key name longer than 255 characters";
  } else {
    return true;
  }
  return false;
}

}  // namespace

std::string foldCase(std::string_view name) {
  std::string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(), foldChar);
  return folded;
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return foldChar(x) == foldChar(y); });
}

const RegValue* RegKey::findValue(std::string_view name) const {
  const auto found = values_.find(foldCase(name));
  return found == values_.end() ? nullptr : &found->second.value;
}

std::vector<const RegValue*> RegKey::values() const {
  std::vector<const Slot*> slots;
  slots.reserve(values_.size());
  for (const auto& [folded, slot] : values_) slots.push_back(&slot);
  std::sort(slots.begin(), slots.end(), [](const Slot* a, const Slot* b) { return a->order < b->order; });
  std::vector<const RegValue*> list;
  list.reserve(slots.size());
  for (const Slot* slot : slots) list.push_back(&slot->value);
  return list;
}

bool RegKey::setValue(std::string_view name, uint32_t type, std::vector<uint8_t> data) {
  const auto [found, inserted] =
      values_.try_emplace(foldCase(name), Slot{nextOrder_, RegValue{std::string(name), type, {}}});
  RegValue& value = found->second.value;
  if (inserted) ++nextOrder_;
  if (!inserted && value.type == type && value.data == data) return false;
  value.type = type;
  value.data = std::move(data);
  return true;
}

bool RegKey::eraseValue(std::string_view name) { return values_.erase(foldCase(name)) > 0; }

RegKey* RegKey::findChild(std::string_view name) const {
  const auto found = children_.find(foldCase(name));
  return found == children_.end() ? nullptr : found->second.get();
}

RegKey& RegKey::ensureChild(std::string_view name) {
  auto& slot = children_[foldCase(name)];
  if (!slot) slot = std::make_unique<RegKey>(std::string(name));
  return *slot;
}

bool RegKey::eraseChild(std::string_view name) { return children_.erase(foldCase(name)) > 0; }

std::vector<const RegKey*> RegKey::children() const {
  std::vector<const RegKey*> list;
  list.reserve(children_.size());
  for (const auto& [folded, child] : children_) list.push_back(child.get());
  return list;
}

std::string KeyPath::text() const {
  std::string joined;
  for (const std::string& part : parts) {
    if (!joined.empty()) joined += '\\';
    joined += part;
  }
  return joined;
}

bool parseKeyPath(std::string_view text, KeyPath& path, std::string& why) {
  path.parts.clear();
  size_t start = 0;
  while (true) {
    const size_t end = text.find('\\', start);
    path.parts.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (path.parts.size() > kMaxKeyDepth) {
      why = "key path deeper than 512 levels";
      return false;
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  const auto root = std::find_if(kRootKeys.begin(), kRootKeys.end(), [&](const RootKey& key) {
    return sameName(key.name, path.parts[0]) || sameName(key.shortName, path.parts[0]);
  });
  if (root == kRootKeys.end()) {
    why = "key path \"" + std::string(text.substr(0, 80)) + "\" does not start with a root key";
    return false;
  }
  path.parts[0] = root->name;
  for (size_t i = 1; i < path.parts.size(); ++i) {
    if (!validKeyName(path.parts[i], why)) return false;
  }
  return true;
}

bool validValueName(std::string_view name, std::string& why) {
  if (hasLineBreakOrNul(name)) {
    why = "value name contains a line break or NUL";
  } else if (!validUtf8(name)) {
    why = "value name is not valid UTF-8";
  } else if (countUtf8Chars(name) > kMaxValueNameChars) {
    why = "value name longer than 16383 characters";
  } else {
    return true;
  }
  return false;
}

RegTree::RegTree() {
  for (const RootKey& root : kRootKeys) top_.ensureChild(root.name);
}

RegKey* RegTree::find(const KeyPath& path) const {
  const RegKey* parent = &top_;
  RegKey* key = nullptr;
  for (const std::string& part : path.parts) {
    key = parent->findChild(part);
    if (key == nullptr) return nullptr;
    parent = key;
  }
  return key;
}

RegKey& RegTree::ensure(const KeyPath& path) {
  RegKey* key = &top_;
  for (const std::string& part : path.parts) key = &key->ensureChild(part);
  return *key;
}

bool RegTree::erase(const KeyPath& path) {
  if (path.parts.size() < 2) return false;
  KeyPath parentPath{std::vector<std::string>(path.parts.begin(), path.parts.end() - 1)};
  RegKey* parent = find(parentPath);
  return parent != nullptr && parent->eraseChild(path.parts.back());
}

}  // namespace veltris::reg::detail
