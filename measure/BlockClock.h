// The UTC time stamps of one module's blocks: each at least a millisecond
// after the one before. A store keeps one point per series and time stamp,
// so two blocks in the same millisecond would otherwise be one point.
#pragma once

#include <QDateTime>

class TBlockClock {
public:
    // time, or a millisecond after the stamp before when it is not later.
    QDateTime After(const QDateTime& time) {
        qint64 ms = time.toMSecsSinceEpoch();
        if (ms <= Last)
            ms = Last + 1;
        Last = ms;
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    }

private:
    qint64 Last = 0;
};
