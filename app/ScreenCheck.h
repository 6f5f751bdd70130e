// The smallest screen the main window is designed for.
#pragma once

#include <QSize>

bool ScreenIsLargeEnough(QSize screen);
