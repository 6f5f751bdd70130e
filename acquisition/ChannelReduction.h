// Each block reduced to one value per active channel, and the values and the
// update lamps shown in the channel frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "acquisition/ReadingLimits.h"

class TMainThread;

// Worker: window-weighted means ("sum") or the DC term of the spectrum ("fft")
// into VoltageValues / ResistanceValues.
void ReduceChannels(TMainThread* worker);

// User-interface thread: values in millivolts or ohms, all lamps off; a
// reading beyond its range is shown in its own colour.
void ShowChannelValues(TMainThread* worker);

// User-interface thread: the active channels' lamps green again, red for a
// reading beyond its range.
void ShowFrameLeds(TMainThread* worker);
