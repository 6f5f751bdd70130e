// The measurement run of the acquisition worker: start (configuration, module
// set-up, buffers, window), one block per pass of the loop, stop. The window
// is reached only through the worker's view.
#pragma once

class TMainThread;

// The worker's processing function.
void MeasurementBody(TMainThread* worker);

// Worker: configuration and module set-up on the user-interface thread, then
// the buffers and the window. Any report ends the start.
void StartMeasurement(TMainThread* worker);
