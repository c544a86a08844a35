#include "console/models/grid_text.h"

#include <cmath>
#include <cstring>

namespace veltris::console {

QString fieldText(const char* field, size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - field) : width;
  size_t end = length;
  while (end > 0 && (field[end - 1] == ' ' || field[end - 1] == '\t')) --end;
  return QString::fromLatin1(field, static_cast<qsizetype>(end));
}

QString counterText(double value) {
  const double rounded = std::round(value);
  if (rounded == 0 || !std::isfinite(rounded)) return {};
  const bool negative = rounded < 0;
  QString digits = QString::number(std::fabs(rounded), 'f', 0);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, ',');
  return negative ? "-" + digits : digits;
}

const QStringList& leadingHeaders() {
  static const QStringList headers = {"NIC", "Adapter", "Protocol", "Config", "Name", "Time"};
  return headers;
}

}  // namespace veltris::console
