// A block's values and the update lamps in the channel frames.
#pragma once

class TMainThread;

// User-interface thread, once the module is set up: each measuring channel's
// digit face for the whole run, from its range and decimals.
void ChooseValueFaces(TMainThread* worker);

// User-interface thread: the worker's last reading in millivolts or ohms, all
// lamps off; a reading beyond its range is shown in its own colour.
void ShowChannelValues(TMainThread* worker);

// User-interface thread: the active channels' lamps green again, red for a
// reading beyond its range.
void ShowFrameLeds(TMainThread* worker);
