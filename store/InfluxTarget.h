// Where and how points go to an InfluxDB 1.x: the server, the database, the
// time stamps' precision, the credentials and the batching bounds.
#pragma once

#include <QByteArray>
#include <QString>

#include "store/HttpPost.h"

struct TInfluxTarget {
    TUrlParts Url;
    QString UrlText;
    QString Database;
    QString Precision = QStringLiteral("ms"); // "ns", "u" or "ms": see InfluxPrecisionDivisor
    QString User;                             // empty: no authentication
    QString Password;
    int TimeoutMs = 10000;          // one request, connect to answer
    long long BatchBytes = 1 << 20; // a batch is sent at this size ...
    int LatencyMs = 1000;           // ... or when its first line has waited this long
    int RetryMaxMs = 5000;          // the longest pause between attempts while the store fails
};

// Nanoseconds per unit of the precision; 0 for a precision not offered.
// Coarser than a millisecond is refused: two blocks of one module in the
// same second would then be one point, the later overwriting the earlier.
long long InfluxPrecisionDivisor(const QString& precision);

// The user and password from file (one line "USER:PASSWORD") or, without a
// file, from INFLUX_USERNAME and INFLUX_PASSWORD; none at all is no error.
bool ReadInfluxCredentials(const QString& file, TInfluxTarget& target, QString& error);

// The request's target ("/write?db=...&precision=...") and header lines.
QByteArray InfluxWriteTarget(const TInfluxTarget& target);
QByteArray InfluxWriteHeaders(const TInfluxTarget& target, bool gzip);
