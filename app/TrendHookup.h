// The trend window beside the main window: created hidden with the window so
// that it keeps every block from the start, opened by Ctrl+T or the context
// menu's "Тренд", fed by the value display. It takes the parts of the window
// it needs, not the window.
#pragma once

#include <QString>

#include <array>
#include <functional>

class QMenu;
class QWidget;
class TKm808AdcChannelFrame;
struct TBlockReading;
struct TRecordOrigin;

// Construction: the trend window as a child of window, its item in popup and
// its shortcut; layoutDirectory() names the directory of its layout file.
void InstallTrend(QWidget* window, QMenu* popup, const std::array<TKm808AdcChannelFrame*, 16>& frames,
                  const std::function<QString()>& layoutDirectory);

// User-interface thread, after a block's values were shown: the block to the
// trend of window; origin() is asked only while the trend records.
void FeedTrend(QWidget& window, const TBlockReading& reading, const QString (&formats)[6],
               const std::function<TRecordOrigin()>& origin);
