#pragma once
// The figures of QuickLook's traffic table.
#include <array>
#include <cstdint>

#include <QString>

#include "tray/agent_link.h"

namespace veltris::tray {

// x·100/T rounded half up; 0 when T is 0.
uint32_t percentOf(uint32_t x, uint32_t total);
// 0 as a hyphen, anything else with commas between groups of three digits.
QString figureText(uint32_t value);

struct FigureRow {
  uint32_t percent;
  uint32_t total;
  uint32_t perSecond;
};

// Rows 0 to 3 (errors, broadcasts sent, session traffic, broadcasts received)
// from this second's reading and the previous one.
std::array<FigureRow, 4> figureRows(const AgentReading& now, const AgentReading& before);

}  // namespace veltris::tray
