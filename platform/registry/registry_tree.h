#pragma once
// In-memory form of a registry file: a tree of keys under the five root keys.
// Names compare case-insensitively (ASCII folding) and keep the case first written.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace veltris::reg::detail {

constexpr size_t kMaxKeyDepth = 512;      // components, root key included
constexpr size_t kMaxKeyNameChars = 255;  // one component
constexpr size_t kMaxValueNameChars = 16383;

std::string foldCase(std::string_view name);
bool sameName(std::string_view a, std::string_view b);

struct RegValue {
  std::string name;  // "" is the default value ("@" in the file)
  uint32_t type = 0;
  std::vector<uint8_t> data;  // string types hold UTF-8
};

class RegKey {
 public:
  explicit RegKey(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  // A key written as its own line (or created on purpose) rather than implied by a subkey.
  bool isExplicit() const { return explicit_; }
  void markExplicit() { explicit_ = true; }

  // Values in order of creation.
  std::vector<const RegValue*> values() const;
  bool hasValues() const { return !values_.empty(); }
  const RegValue* findValue(std::string_view name) const;
  // Returns true when the stored value changed.
  bool setValue(std::string_view name, uint32_t type, std::vector<uint8_t> data);
  bool eraseValue(std::string_view name);

  RegKey* findChild(std::string_view name) const;
  RegKey& ensureChild(std::string_view name);
  bool eraseChild(std::string_view name);
  // Subkeys in case-insensitive name order.
  std::vector<const RegKey*> children() const;
  bool hasChildren() const { return !children_.empty(); }

 private:
  std::string name_;
  bool explicit_ = false;
  struct Slot {
    uint64_t order;  // creation sequence
    RegValue value;
  };
  std::map<std::string, Slot> values_;  // by folded name
  uint64_t nextOrder_ = 0;
  std::map<std::string, std::unique_ptr<RegKey>> children_;  // by folded name
};

// A key path split into components; parts[0] is the canonical root key name.
struct KeyPath {
  std::vector<std::string> parts;
  std::string text() const;  // joined with backslashes
};

// Splits "HKEY_LOCAL_MACHINE\\A\\B" (or "HKLM\\A\\B"); false with a reason when malformed.
bool parseKeyPath(std::string_view text, KeyPath& path, std::string& why);
bool validValueName(std::string_view name, std::string& why);

class RegTree {
 public:
  RegTree();
  RegKey* find(const KeyPath& path) const;
  RegKey& ensure(const KeyPath& path);        // creates missing parents
  bool erase(const KeyPath& path);            // the key with its subkeys; never a root key
  const RegKey& top() const { return top_; }  // holds the root keys as children

 private:
  RegKey top_{""};
};

}  // namespace veltris::reg::detail
