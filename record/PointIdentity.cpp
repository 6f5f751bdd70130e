#include "record/PointIdentity.h"

#include <QRegularExpression>
#include <QSysInfo>

QStringList TPointIdentity::Keys() const {
    QStringList keys = {"crate", "slot", "serial", "host"};
    for (const auto& tag : Tags)
        keys << tag.first;
    return keys;
}

QStringList TPointIdentity::Values() const {
    QStringList values = {Crate, QString::number(Slot), Serial, Host};
    for (const auto& tag : Tags)
        values << tag.second;
    return values;
}

bool ReservedRecordKey(const QString& key) {
    static const QStringList own = {"time", "block", "period_s", "over", "crate", "slot", "serial", "host"};
    static const QRegularExpression channel("^ch\\d+_");
    return own.contains(key) || channel.match(key).hasMatch();
}

TPointIdentity ModuleIdentity(const QString& crate, int slot, const QString& serial) {
    TPointIdentity identity;
    identity.Crate = crate;
    identity.Slot = slot;
    identity.Serial = serial;
    identity.Host = QSysInfo::machineHostName();
    return identity;
}
