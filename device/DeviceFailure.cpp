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
        return QStringLiteral("нет связи с сервером крейтов");
    case TDeviceFailure::TimedOut:
        return QStringLiteral("нет ответа за время ожидания (5 с)");
    case TDeviceFailure::Busy:
        return QStringLiteral("модуль занят другим клиентом сервера крейтов");
    case TDeviceFailure::ServerFull:
        return QStringLiteral("сервер крейтов не принимает больше клиентов (max_clients)");
    case TDeviceFailure::NoDescriptor:
        return QStringLiteral("не хватает файловых дескрипторов (ulimit -n)");
    case TDeviceFailure::NotThere:
        return QStringLiteral("сервер крейтов не знает такого крейта или модуля");
    case TDeviceFailure::Refused:
        return QStringLiteral("отказ модуля или крейта");
    case TDeviceFailure::SlotTypesUnreadable:
        return QStringLiteral("не могу прочитать типы модулей крейта");
    }
    return {};
}

QString DetectionNoteText(const TDetectionNote& note) {
    QString text = QStringLiteral("крейт ") + note.Crate;
    if (note.Slot > 0)
        text += QStringLiteral(", слот ") + QString::number(note.Slot);
    return text + ": " + DeviceFailureText(note.Failure);
}
