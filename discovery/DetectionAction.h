// What a detection run does, as carried in the private message's two
// parameters: the action, and whether the selection stored in the settings
// file is wanted (only the run at start-up wants it).
#pragma once

#include <cstdint>

namespace Detection {

enum TAction : uint32_t { ModuleChanged = 1, CrateChanged = 2, FullDetection = 3 };
enum TSelection : uint32_t { OperatorSelection = 0, StoredSelection = 1 };

} // namespace Detection
