// Opening a module when another client may be testing it at that moment.
#pragma once

#include "km808api.h"

#include <cstdint>

// KM808_Open with the program's address and port; a module that another
// client holds is tried again a few times within about a second, since
// every detection opens each module briefly to test it. Returns the last
// KM808_Open result.
int32_t OpenModule(KM808_CONTROL& module, const char* crateSerial, uint16_t slot);

// Opens, reads the configuration of and closes one module on its own record:
// the test a detection makes of each KM808 slot. serial gets the module's
// serial (16 bytes) on success.
int32_t ProbeModule(const char* crateSerial, uint16_t slot, char serial[16]);
