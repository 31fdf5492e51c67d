// The server's classes and its registration, behind the exported entry
// points. Everything here runs inside the add-in module.
#pragma once

#include <cstdint>

#include "automation/ServerModule.h"

namespace cvn {

// The module with IWavecatch and CScope made creatable (set up on first use).
automation::ServerModule& Server();
// Write or remove this module's entries in the per-user class registry.
// Return 0, or a failure status after reporting the reason on stderr.
int32_t RegisterServer();
int32_t UnregisterServer();

}  // namespace cvn
