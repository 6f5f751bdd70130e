#include "scpi/ScpiStatus.h"

QByteArray ScpiErrorText(int number) {
    using namespace ScpiError;
    switch (number) {
    case 0:
        return "No error";
    case CommandError:
        return "Command error";
    case InvalidCharacter:
        return "Invalid character";
    case SyntaxError:
        return "Syntax error";
    case DataTypeError:
        return "Data type error";
    case ParameterNotAllowed:
        return "Parameter not allowed";
    case MissingParameter:
        return "Missing parameter";
    case MnemonicTooLong:
        return "Program mnemonic too long";
    case UndefinedHeader:
        return "Undefined header";
    case NumericDataError:
        return "Numeric data error";
    case InvalidCharacterData:
        return "Invalid character data";
    case ExecutionError:
        return "Execution error";
    case CommandProtected:
        return "Command protected";
    case InitIgnored:
        return "Init ignored";
    case SettingsConflict:
        return "Settings conflict";
    case DataOutOfRange:
        return "Data out of range";
    case IllegalParameterValue:
        return "Illegal parameter value";
    case DataStale:
        return "Data corrupt or stale";
    case HardwareError:
        return "Hardware error";
    case QueueOverflow:
        return "Queue overflow";
    case InputBufferOverrun:
        return "Input buffer overrun";
    case QueryInterrupted:
        return "Query INTERRUPTED";
    default:
        return "Error";
    }
}

void TScpiStatus::PushError(int number, const QByteArray& detail) {
    if (number <= -100 && number > -200)
        EventStatus |= CommandErrorBit;
    else if (number <= -200 && number > -300)
        EventStatus |= ExecutionErrorBit;
    else if (number <= -300 && number > -400)
        EventStatus |= DeviceErrorBit;
    else if (number <= -400 && number > -500)
        EventStatus |= QueryErrorBit;
    if (Errors.size() >= QueueLength) {
        Errors.back() = {ScpiError::QueueOverflow, {}};
        return;
    }
    // The detail is echoed inside a quoted string: no quotes, no control
    // characters, and short.
    QByteArray clean;
    for (char c : detail.left(80))
        clean += (c == '"' || static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                     ? '?'
                     : c;
    Errors.push_back({number, clean});
}

QByteArray TScpiStatus::PopError() {
    if (Errors.empty())
        return "0,\"No error\"";
    const TEntry e = Errors.front();
    Errors.pop_front();
    QByteArray text = ScpiErrorText(e.Number);
    if (!e.Detail.isEmpty())
        text += ";" + e.Detail;
    return QByteArray::number(e.Number) + ",\"" + text + "\"";
}

int TScpiStatus::TakeEventStatus() {
    const int value = EventStatus;
    EventStatus = 0;
    return value;
}

int TScpiStatus::StatusByte() const {
    int stb = 0;
    if (!Errors.empty())
        stb |= ErrorAvailableBit;
    if (EventStatus & EventEnable)
        stb |= EventSummaryBit;
    if (stb & ServiceEnable)
        stb |= ServiceRequestBit;
    return stb;
}

void TScpiStatus::Clear() {
    Errors.clear();
    EventStatus = 0;
}
