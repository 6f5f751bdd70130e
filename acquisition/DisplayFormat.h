// Fixed-point display of measured values with the patterns the settings give
// ("0." followed by one zero per decimal, "0.0", "0.000").
#pragma once

#include <QString>

// The number of decimals a pattern asks for: the zeros after its ".".
int PatternDecimals(const QString& pattern);

// value with PatternDecimals(pattern) decimals and "." as the separator
// whatever the locale. The value is first taken to 18 significant digits, then
// rounded half away from zero; a pattern without decimals gives no point
// ("0." shows 1250.4 as "1250"). A result of all zeros has no sign.
QString FormatFloat(const QString& pattern, double value);
