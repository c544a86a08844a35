#pragma once
// One JSON object written on one line, members in the order they are added.
#include <cstdint>
#include <string>
#include <string_view>

namespace veltris::cli {

class JsonObject {
 public:
  JsonObject& text(std::string_view key, std::string_view value);  // Latin-1 bytes
  JsonObject& number(std::string_view key, uint64_t value);
  JsonObject& signedNumber(std::string_view key, int64_t value);
  JsonObject& real(std::string_view key, double value);  // null when not finite
  JsonObject& object(std::string_view key, const JsonObject& value);
  std::string str() const { return "{" + members_ + "}"; }

 private:
  JsonObject& member(std::string_view key, const std::string& valueText);
  std::string members_;
};

}  // namespace veltris::cli
