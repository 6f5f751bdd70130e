// Where a block's values come from: the module (crate, slot, its own serial,
// so that a module moved to another slot stays recognisable), the computer,
// and the operator's own tags. Every output format carries all of it.
#pragma once

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

struct TPointIdentity {
    QString Measurement = QStringLiteral("km808");
    QString Crate;
    int Slot = 0;
    QString Serial;
    QString Host;
    std::vector<std::pair<QString, QString>> Tags; // --tag, in command-line order

    // "crate", "slot", "serial", "host", then the operator's tag keys.
    QStringList Keys() const;
    QStringList Values() const;
};

// A module's identity on this computer: crate, slot, serial and host.
TPointIdentity ModuleIdentity(const QString& crate, int slot, const QString& serial);

// The operator's tag keys may not take the name of a column of their own.
bool ReservedRecordKey(const QString& key);
