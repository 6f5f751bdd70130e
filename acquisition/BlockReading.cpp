#include "acquisition/BlockReading.h"

#include "acquisition/DisplayFormat.h"

#include <cmath>

int ValueFormatIndex(TQuantity quantity, int range) {
    if (range < 0 || range > 2)
        return -1;
    return (quantity == TQuantity::Resistance ? 3 : 0) + range;
}

QString ReadingText(const QString& format, double value) {
    return std::isfinite(value) ? FormatFloat(format, value) : QString();
}
