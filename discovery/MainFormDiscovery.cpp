// Placeholder definitions until the discovery worker lands.
#include "app/TMainForm.h"

void TMainForm::OnStartInitDevicesThread(quint32, quint32) { DiscoveryGate = true; }
void TMainForm::OnInitDevicesThreadTerminate() { DiscoveryRunning = false; }
void TMainForm::WaitForDiscoveryEnd() {}
