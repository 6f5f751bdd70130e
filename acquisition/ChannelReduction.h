// Each block reduced to one value per active channel, and the values and the
// update lamps shown in the channel frames.
#pragma once

#include <cstddef>
#include <cstdint>

class TMainThread;

// Marks each channel-table entry one of whose words in the block carries a
// code at the converter's limit (+2^23 - 1 or -2^23): the input was clipped,
// so the entry's value is not a measurement. clipped holds tableLength flags.
void FindClippedEntries(const uint32_t* words, size_t count, uint32_t tableLength, bool* clipped);

// A reading at or beyond its range's full scale (either sign) lies outside
// the range the reading is specified for.
bool BeyondRangeLimit(double value, double limit);

// Worker: window-weighted means ("sum") or the DC term of the spectrum ("fft")
// into VoltageValues / ResistanceValues.
void ReduceChannels(TMainThread* worker);

// User-interface thread: values in millivolts or ohms, all lamps off; a
// reading beyond its range is shown in its own colour.
void ShowChannelValues(TMainThread* worker);

// User-interface thread: the active channels' lamps green again, red for a
// reading beyond its range.
void ShowFrameLeds(TMainThread* worker);
