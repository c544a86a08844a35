#pragma once
#include "common/frame_view.h"

namespace veltris::agent {
using veltris::FrameView;
}
