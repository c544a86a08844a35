#pragma once
// Registers the console's pictures (":/veltris/...") held in its static library.
namespace veltris::console {
void loadConsoleResources();
}
