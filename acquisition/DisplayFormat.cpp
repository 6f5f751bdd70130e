#include "acquisition/DisplayFormat.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

int PatternDecimals(const QString& pattern) {
    const qsizetype point = pattern.indexOf('.');
    if (point < 0)
        return 0;
    int zeros = 0;
    for (qsizetype i = point + 1; i < pattern.size() && pattern[i] == '0'; ++i)
        ++zeros;
    return zeros;
}

QString FormatFloat(const QString& pattern, double value) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    const int decimals = PatternDecimals(pattern);

    // 18 significant digits d0.d1...d17 and the power of ten of d0.
    char text[40];
    std::snprintf(text, sizeof text, "%.17e", std::fabs(value));
    std::string digits;
    const char* p = text;
    for (; *p != 'e'; ++p)
        if (*p != '.')
            digits += *p;
    // Digits before the point.
    int integerDigits = std::atoi(p + 1) + 1;

    // Round half away from zero at the last shown decimal.
    const int keep = integerDigits + decimals;
    if (keep < 0) {
        digits.clear();
    } else if (keep < static_cast<int>(digits.size())) {
        const bool up = digits[keep] >= '5';
        digits.resize(keep);
        if (up) {
            int i = keep - 1;
            for (; i >= 0 && digits[i] == '9'; --i)
                digits[i] = '0';
            if (i >= 0) {
                ++digits[i];
            } else {
                digits.insert(digits.begin(), '1');
                ++integerDigits;
            }
        }
    }
    // digits now holds the shown digits from the integerDigits'th place before
    // the point; positions outside it are zeros.
    auto digitAt = [&](int position) {
        return position >= 0 && position < static_cast<int>(digits.size()) ? digits[position] : '0';
    };
    std::string out;
    if (integerDigits <= 0)
        out = "0";
    for (int i = 0; i < integerDigits; ++i)
        out += digitAt(i);
    if (decimals > 0) {
        out += '.';
        for (int i = 0; i < decimals; ++i)
            out += digitAt(integerDigits + i);
    }
    const bool zero = out.find_first_not_of("0.") == std::string::npos;
    if (value < 0 && !zero)
        out.insert(out.begin(), '-');
    return QString::fromLatin1(out.c_str());
}
