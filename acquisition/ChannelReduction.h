// Each block reduced to one value per active channel.
#pragma once

class TMeasurementCycle;

// Window-weighted means ("sum") or the DC term of the spectrum ("fft") into
// VoltageValues / ResistanceValues, with the over-range marks, for the
// channels of active that took part in the module set-up.
void ReduceChannels(TMeasurementCycle& cycle, const bool active[16]);
