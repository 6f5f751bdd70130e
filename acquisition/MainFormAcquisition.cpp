// Placeholder definitions until the acquisition worker lands.
#include "app/TMainForm.h"
#include "ui/TKm808AdcChannelFrame.h"

void TMainForm::StartThread() {}
void TMainForm::OnStartMainThread() { WorkerGate = true; }
void TMainForm::StopThread() {}
void TMainForm::OnMainThreadTerminate() { WorkerRunning = false; }
bool TMainForm::ChannelActive(int ch) const { return ChannelFrames[ch] && ChannelFrames[ch]->IsChannelActive(); }
