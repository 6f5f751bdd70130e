// The run's points on their way to an InfluxDB: each block's line goes into
// the disk spool at once, and a thread of its own sends the spool to the
// store. The local output does not depend on the store in any way.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

#include "measure/MeasureOptions.h"
#include "store/InfluxDelivery.h"
#include "store/Spool.h"

class TStoreOutput {
public:
    // Opens the spool and starts sending it. False with the usage error.
    bool Open(const TMeasureOptions& options, QString& error);
    bool Active() const { return Delivery != nullptr; }
    // Puts a block's line protocol (nanosecond stamps) into the spool. False
    // with the reason when the spool cannot take it: the run must stop.
    bool Write(const QByteArray& lines, QString& error);
    // Sends for at most waitMs more; the text of what stays in the spool, or
    // empty when everything was taken.
    QString Finish(int waitMs);

private:
    long long Divisor = 1;
    std::unique_ptr<TSpool> Spool;
    std::unique_ptr<TInfluxDelivery> Delivery;
};

// The spool when --spool is not given: the user's state directory.
QString DefaultSpoolDirectory();

// line (one or more lines with nanosecond stamps) with stamps in units of
// divisor nanoseconds: the stamp is what follows a line's last blank.
QByteArray WithStampUnit(const QByteArray& lines, long long divisor);
