#include "console/core/resources.h"

#include <QtGlobal>

static void initConsoleResources() { Q_INIT_RESOURCE(resources); }

namespace veltris::console {
void loadConsoleResources() {
  static const bool loaded = (initConsoleResources(), true);
  (void)loaded;
}
}  // namespace veltris::console
