// Enabling and disabling a control together with the controls inside it.
#pragma once

class QWidget;

// Sets the control's enabled state and that of every control inside it. When
// enabling the channel panel, its frames keep their own states.
void SetTreeEnabled(QWidget* control, bool enabled, const QWidget* channelPanel);
