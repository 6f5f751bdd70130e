#include <gtest/gtest.h>

#include "app/ScreenCheck.h"

TEST(ScreenCheck, RefusesScreensBelow1280x768) {
    struct Case {
        QSize Screen;
        bool Accepted;
    } cases[] = {
        {{1280, 768}, true},  {{1920, 1080}, true},  {{1280, 767}, false},
        {{1279, 768}, false}, {{1024, 1280}, false}, {{0, 0}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ScreenIsLargeEnough(c.Screen), c.Accepted) << c.Screen.width() << "x" << c.Screen.height();
}
