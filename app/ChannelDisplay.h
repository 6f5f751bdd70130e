// A block's values and the update lamps in the channel frames.
#pragma once

#include "acquisition/BlockReading.h"

class TMainForm;
class TMeasurementCycle;

// User-interface thread, once the module is set up: each measuring channel's
// digit face for the whole run, from its range and decimals.
void ChooseValueFaces(TMainForm& window, const TMeasurementCycle& cycle);

// User-interface thread: the reading in millivolts or ohms, all lamps off; a
// reading beyond its range is shown in its own colour.
void ShowChannelValues(TMainForm& window, const TBlockReading& reading);

// User-interface thread: the active channels' lamps green again, red for a
// reading beyond its range.
void ShowFrameLeds(TMainForm& window, const TBlockReading& reading);
