// The trend window beside the main window: created hidden with the window so
// that it keeps every block from the start, opened by Ctrl+T or the context
// menu's "Тренд", fed by the value display.
#pragma once

class TMainForm;
struct TBlockReading;

// Construction: the trend window and its menu item and shortcut.
void InstallTrend(TMainForm* form);

// User-interface thread, after a block's values were shown: the block to the trend.
void FeedTrend(TMainForm& form, const TBlockReading& reading);
