#pragma once
// The registry: a text file in the format of a Windows registry export
// ("Windows Registry Editor Version 5.00"), UTF-8. Key and value names compare
// case-insensitively and keep their case. Results are Win32 codes.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace veltris::reg {

// Win32 result codes used by the layer.
constexpr long kSuccess = 0;
constexpr long kFileNotFound = 2;    // key or value absent
constexpr long kAccessDenied = 5;    // file not readable / writable
constexpr long kInvalidData = 13;    // malformed registry file, or value of another type
constexpr long kInvalidParameter = 87;  // malformed key path, value name or string data
constexpr long kMoreData = 234;      // value longer than the caller's buffer
constexpr long kNoMoreItems = 259;   // enumeration index past the end

enum class ValueType : uint32_t { None = 0, Sz = 1, ExpandSz = 2, Binary = 3, Dword = 4, MultiSz = 7 };

// Paths name the root hive first: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters"
// ("HKLM\\..." accepted too). Every call reads the file afresh (it is small) so a value
// written by another process is seen at once; writers replace the file atomically
// under an advisory lock, so concurrent writers never lose each other's values.
// A malformed file answers kInvalidData to every call and is never rewritten.
// In the file, "[-KEY]" deletes a key with its subkeys and "Name"=- deletes a value, as
// in an import; a rewrite leaves them out. The default value is the name "" ("@").
class Registry {
 public:
  explicit Registry(std::filesystem::path file);
  static Registry system();  // the file at platform::registryFile()

  const std::filesystem::path& file() const { return file_; }
  // Text of the last failure: which file, which line, what was wrong. Kept across successes.
  const std::string& lastError() const { return lastError_; }

  long keyExists(std::string_view key);  // kSuccess or kFileNotFound
  long createKey(std::string_view key);  // creates parents as needed
  long deleteKey(std::string_view key);  // with its subkeys
  long enumSubkey(std::string_view key, uint32_t index, std::string& name);  // kNoMoreItems at end
  long enumSubkeys(std::string_view key, std::vector<std::string>& names);

  // Raw value as Win32 would store it (REG_SZ: UTF-8 text plus NUL; REG_DWORD: 4 bytes LE;
  // REG_MULTI_SZ: strings each with NUL plus a final NUL).
  long queryValue(std::string_view key, std::string_view name, ValueType& type, std::vector<uint8_t>& data);
  long queryString(std::string_view key, std::string_view name, std::string& out);  // Sz or ExpandSz
  long queryNumber(std::string_view key, std::string_view name, uint32_t& out);     // Dword
  long queryMultiString(std::string_view key, std::string_view name, std::vector<std::string>& out);
  long queryBinary(std::string_view key, std::string_view name, std::vector<uint8_t>& out);  // any type, raw bytes

  long setValue(std::string_view key, std::string_view name, ValueType type, const std::vector<uint8_t>& data);
  long setString(std::string_view key, std::string_view name, std::string_view value);
  long setNumber(std::string_view key, std::string_view name, uint32_t value);
  long setMultiString(std::string_view key, std::string_view name, const std::vector<std::string>& values);
  long setBinary(std::string_view key, std::string_view name, const std::vector<uint8_t>& value);
  long deleteValue(std::string_view key, std::string_view name);

 private:
  std::filesystem::path file_;
  std::string lastError_;
};

}  // namespace veltris::reg
