// The start and the end of a measurement on the user-interface thread: the
// snapshot of the window's settings, the module set-up that fixes every block
// size, and the idle look afterwards.
#pragma once

class TMainForm;
class TMeasurementCycle;

// In this order; a report from either ends the start.
void CaptureConfiguration(TMainForm& window, TMeasurementCycle& cycle);
void ConfigureModule(TMainForm& window, TMeasurementCycle& cycle);

// The idle look of the button and labels, the cycle's buffers freed; after a
// failure the last values look stale and the module lamp tells the link.
void FinishMeasurement(TMainForm& window, TMeasurementCycle& cycle);
