#include "device/DeviceFailure.h"

#include "km808api.h"

namespace {

// Statuses of the crate server's refusals (the libraries return -(100 + status)).
constexpr int32_t UnknownCrate = KM808_ERR_SERVER_BASE - 1;
constexpr int32_t NoModule = KM808_ERR_SERVER_BASE - 2;
constexpr int32_t Busy = KM808_ERR_SERVER_BASE - 3;
constexpr int32_t ServerFull = KM808_ERR_SERVER_BASE - 9;

} // namespace

TDeviceFailure DeviceFailureOf(int32_t result) {
    switch (result) {
    case 0:
        return TDeviceFailure::None;
    case KM808_ERR_CONNECTION:
    case KM808_ERR_PROTOCOL:
        return TDeviceFailure::NoConnection;
    case KM808_ERR_TIMEOUT:
        return TDeviceFailure::TimedOut;
    case KM808_ERR_NO_DESCRIPTOR:
        return TDeviceFailure::NoDescriptor;
    case Busy:
        return TDeviceFailure::Busy;
    case ServerFull:
        return TDeviceFailure::ServerFull;
    case UnknownCrate:
    case NoModule:
        return TDeviceFailure::NotThere;
    default:
        return TDeviceFailure::Refused;
    }
}

QString DeviceFailureText(TDeviceFailure failure) {
    switch (failure) {
    case TDeviceFailure::None:
        return {};
    case TDeviceFailure::NoConnection:
        return QStringLiteral("no connection to the crate server");
    case TDeviceFailure::TimedOut:
        return QStringLiteral("the crate server did not answer in time");
    case TDeviceFailure::Busy:
        return QStringLiteral("the module is busy: another client holds it");
    case TDeviceFailure::ServerFull:
        return QStringLiteral("the crate server is full: it serves no more clients");
    case TDeviceFailure::NoDescriptor:
        return QStringLiteral("no file descriptor left in this process (ulimit -n)");
    case TDeviceFailure::NotThere:
        return QStringLiteral("the crate server has no such crate or no module in that slot");
    case TDeviceFailure::Refused:
        return QStringLiteral("the module or crate refused the call");
    case TDeviceFailure::SlotTypesUnreadable:
        return QStringLiteral("the crate did not tell its slot types");
    }
    return {};
}

QString DetectionNoteText(const TDetectionNote& note) {
    QString text;
    if (!note.Crate.isEmpty())
        text = QStringLiteral("crate '") + note.Crate + "'";
    if (note.Slot > 0)
        text += QStringLiteral(" slot ") + QString::number(note.Slot);
    return (text.isEmpty() ? text : text + ": ") + DeviceFailureText(note.Failure);
}

QString WindowNoteText(const TDetectionNote& note) {
    QString reason;
    switch (note.Failure) {
    case TDeviceFailure::Busy:
        reason = QStringLiteral("модуль занят другим клиентом");
        break;
    case TDeviceFailure::ServerFull:
        reason = QStringLiteral("сервер крейтов не принимает больше клиентов");
        break;
    case TDeviceFailure::NoDescriptor:
        reason = QStringLiteral("у программы не осталось файловых дескрипторов");
        break;
    default:
        return {};
    }
    QString where;
    if (!note.Crate.isEmpty())
        where = QStringLiteral("Крейт '") + note.Crate + "'";
    if (note.Slot > 0)
        where += (where.isEmpty() ? QStringLiteral("Слот ") : QStringLiteral(", слот ")) +
                 QString::number(note.Slot);
    return where.isEmpty() ? reason.left(1).toUpper() + reason.mid(1) : where + ": " + reason;
}
