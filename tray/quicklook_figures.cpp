#include "tray/quicklook_figures.h"

namespace veltris::tray {

uint32_t percentOf(uint32_t x, uint32_t total) {
  if (total == 0) return 0;
  // Rounded as (T + 200x) / 2T, in 64 bits so that large counters do not wrap.
  const uint64_t t = total;
  return static_cast<uint32_t>((t + 200u * uint64_t{x}) / (2u * t));
}

QString figureText(uint32_t value) {
  if (value == 0) return "-";
  QString digits = QString::number(value);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, ',');
  return digits;
}

std::array<FigureRow, 4> figureRows(const AgentReading& now, const AgentReading& before) {
  const uint32_t current[4] = {now.errorsSent + now.errorsReceived, now.broadcastsSent,
                               now.framesReceived + now.framesSent, now.broadcastsReceived};
  const uint32_t previous[4] = {before.errorsSent + before.errorsReceived, before.broadcastsSent,
                                before.framesReceived + before.framesSent, before.broadcastsReceived};
  std::array<FigureRow, 4> rows{};
  for (size_t i = 0; i < rows.size(); ++i)
    rows[i] = {percentOf(current[i], now.sequence), current[i], current[i] - previous[i]};
  return rows;
}

}  // namespace veltris::tray
