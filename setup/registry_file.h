#pragma once
// The registry file as SETUP creates it: readable by root only, since it
// holds the access key.
#include "common/registry_names.h"

namespace veltris::setup {

// Creates the registry file (mode 0600, with its header line) when it does
// not exist yet. False when it can be neither found nor made.
bool prepareRegistryFile();

}  // namespace veltris::setup
