#include "app/ScreenCheck.h"

bool ScreenIsLargeEnough(QSize screen) {
    return screen.width() >= 1280 && screen.height() >= 768;
}
