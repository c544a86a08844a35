#pragma once
#include "common/frame_view.h"

namespace veltris::decode {
using veltris::FrameView;
using veltris::kStoredFrameBytes;
}
