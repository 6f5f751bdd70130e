// The UTC time stamps of one module's blocks: each at least a millisecond
// after the one before. A store keeps one point per series and time stamp,
// so two blocks in the same millisecond would otherwise be one point.
#pragma once

#include <QDateTime>

class TBlockClock {
public:
    QDateTime Next() {
        qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (now <= Last)
            now = Last + 1;
        Last = now;
        return QDateTime::fromMSecsSinceEpoch(now, Qt::UTC);
    }

private:
    qint64 Last = 0;
};
