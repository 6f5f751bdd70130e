// The start of a measurement on the user-interface thread: the snapshot of the
// window's settings and the module set-up that fixes every block size.
#pragma once

#include <cstdint>

#include "acquisition/BlockPlan.h"

class TMainThread;

// User-interface thread, in this order; a report from either ends the start.
void CaptureConfiguration(TMainThread* worker);
void ConfigureModule(TMainThread* worker);
