// Colours and units of the trend's channels.
#pragma once

#include <QColor>
#include <QString>

namespace TrendLook {

// Distinct on white, in channel order.
inline QColor ChannelColour(int ch) {
    static const QColor colours[16] = {{0, 0, 255},    {220, 0, 0},    {0, 150, 0},   {255, 128, 0},
                                       {160, 0, 160},  {0, 160, 160},  {128, 64, 0},  {255, 0, 160},
                                       {0, 0, 120},    {128, 128, 0},  {80, 80, 80},  {0, 190, 255},
                                       {150, 90, 255}, {100, 190, 60}, {170, 20, 60}, {40, 100, 160}};
    return colours[ch & 15];
}

inline QString Unit(bool resistance) {
    return resistance ? QStringLiteral("Ом") : QStringLiteral("мВ");
}

} // namespace TrendLook
