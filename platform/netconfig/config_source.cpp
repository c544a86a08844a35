#include "platform/netconfig/config_source.h"

#include <cstdio>
#include <ctime>

namespace veltris::netconfig {

std::string driverText(const CardInfo& card) {
  if (card.driverFile.empty()) return {};
  const time_t t = static_cast<time_t>(card.driverTime);
  struct tm local{};
  if (localtime_r(&t, &local) == nullptr) return {};
  char date[32];
  std::strftime(date, sizeof date, "%d-%b-%Y", &local);
  const std::string file = std::filesystem::path(card.driverFile).filename().string();
  char text[320];
  std::snprintf(text, sizeof text, "%-12s %s", file.c_str(), date);
  return text;
}

std::string withoutTitleMarker(std::string title) {
  if (title.size() >= 4 && title[0] == '[' && title[2] == ']' && title[3] == ' ') title.erase(0, 4);
  return title;
}

std::string dottedQuad(uint32_t address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

}  // namespace veltris::netconfig
