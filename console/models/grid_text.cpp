#include "console/models/grid_text.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace veltris::console {

namespace {

QLatin1StringView fieldView(const char* field, size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  size_t end = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - field) : width;
  while (end > 0 && (field[end - 1] == ' ' || field[end - 1] == '\t')) --end;
  return QLatin1StringView(field, static_cast<qsizetype>(end));
}

}  // namespace

QString fieldText(const char* field, size_t width) { return QString(fieldView(field, width)); }

bool setFieldText(QString& text, const char* field, size_t width) {
  const QLatin1StringView now = fieldView(field, width);
  if (text == now) return false;
  text.resize(now.size());  // keeps the buffer when it is not shared and large enough
  QChar* out = text.data();
  for (qsizetype i = 0; i < now.size(); ++i) out[i] = QChar(now[i]);
  return true;
}

QString counterText(double value) {
  const double rounded = std::round(value);
  if (rounded == 0 || !std::isfinite(rounded)) return {};
  const bool negative = rounded < 0;
  QString digits = QString::number(std::fabs(rounded), 'f', 0);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, ',');
  return negative ? "-" + digits : digits;
}

namespace {

double relativeLuminance(const QColor& c) {
  auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
  double la = relativeLuminance(a), lb = relativeLuminance(b);
  if (la < lb) std::swap(la, lb);
  return (la + 0.05) / (lb + 0.05);
}

QColor readableTextOn(const QColor& background) {
  const QColor white(255, 255, 255), black(0, 0, 0);
  return contrastRatio(white, background) >= 4.5 ? white : black;
}

const QStringList& leadingHeaders() {
  static const char* const kHeaders[] = {
      QT_TRANSLATE_NOOP("veltris::console::Grid", "NIC"),    QT_TRANSLATE_NOOP("veltris::console::Grid", "Adapter"),
      QT_TRANSLATE_NOOP("veltris::console::Grid", "Protocol"), QT_TRANSLATE_NOOP("veltris::console::Grid", "Config"),
      QT_TRANSLATE_NOOP("veltris::console::Grid", "Name"),   QT_TRANSLATE_NOOP("veltris::console::Grid", "Time")};
  static const QStringList headers = [] {
    QStringList texts;
    for (const char* header : kHeaders) texts << GridTexts::tr(header);
    return texts;
  }();
  return headers;
}

}  // namespace veltris::console
