#include "tools/veltris_cli/json_object.h"

#include <cmath>
#include <cstdio>

#include "tools/veltris_cli/text_fields.h"

namespace veltris::cli {

JsonObject& JsonObject::member(std::string_view key, const std::string& valueText) {
  if (!members_.empty()) members_ += ", ";
  members_ += jsonString(key) + ": " + valueText;
  return *this;
}

JsonObject& JsonObject::text(std::string_view key, std::string_view value) { return member(key, jsonString(value)); }

JsonObject& JsonObject::number(std::string_view key, uint64_t value) { return member(key, std::to_string(value)); }

JsonObject& JsonObject::signedNumber(std::string_view key, int64_t value) { return member(key, std::to_string(value)); }

JsonObject& JsonObject::real(std::string_view key, double value) {
  if (!std::isfinite(value)) return member(key, "null");
  char text[48];
  if (value == std::floor(value) && std::fabs(value) < 1e15)
    std::snprintf(text, sizeof text, "%.0f", value);
  else
    std::snprintf(text, sizeof text, "%.9g", value);
  return member(key, text);
}

JsonObject& JsonObject::object(std::string_view key, const JsonObject& value) { return member(key, value.str()); }

}  // namespace veltris::cli
