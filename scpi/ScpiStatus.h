// One client's IEEE 488.2 status: the error queue with SCPI numbers and
// texts, the event status register and its enable masks, the status byte.
#pragma once

#include <QByteArray>

#include <deque>

// SCPI error numbers the server raises.
namespace ScpiError {
inline constexpr int CommandError = -100;
inline constexpr int InvalidCharacter = -101;
inline constexpr int SyntaxError = -102;
inline constexpr int DataTypeError = -104;
inline constexpr int ParameterNotAllowed = -108;
inline constexpr int MissingParameter = -109;
inline constexpr int MnemonicTooLong = -112;
inline constexpr int UndefinedHeader = -113;
inline constexpr int NumericDataError = -120;
inline constexpr int InvalidCharacterData = -141;
inline constexpr int ExecutionError = -200;
inline constexpr int CommandProtected = -203;
inline constexpr int InitIgnored = -213;
inline constexpr int SettingsConflict = -221;
inline constexpr int DataOutOfRange = -222;
inline constexpr int IllegalParameterValue = -224;
inline constexpr int DataStale = -230;
inline constexpr int HardwareError = -240;
inline constexpr int QueueOverflow = -350;
inline constexpr int InputBufferOverrun = -363;
inline constexpr int QueryInterrupted = -410;
} // namespace ScpiError

// The standard text of an error number.
QByteArray ScpiErrorText(int number);

class TScpiStatus {
public:
    // The queue keeps the first errors; on overflow its last entry becomes
    // -350, as IEEE 488.2 asks.
    static constexpr size_t QueueLength = 20;

    // detail: appended to the text after ';' (ASCII, no quotes).
    void PushError(int number, const QByteArray& detail = {});
    // `-113,"Undefined header;FOO"`, or `0,"No error"` when the queue is empty.
    QByteArray PopError();
    int ErrorCount() const { return int(Errors.size()); }

    // *ESR?: the register, then cleared.
    int TakeEventStatus();
    void SetOperationComplete() { EventStatus |= OperationCompleteBit; }
    int StatusByte() const;
    // *CLS
    void Clear();

    int EventEnable = 0;   // *ESE
    int ServiceEnable = 0; // *SRE

    static constexpr int OperationCompleteBit = 1;
    static constexpr int QueryErrorBit = 4;
    static constexpr int DeviceErrorBit = 8;
    static constexpr int ExecutionErrorBit = 16;
    static constexpr int CommandErrorBit = 32;
    static constexpr int PowerOnBit = 128;

    static constexpr int ErrorAvailableBit = 4;
    static constexpr int EventSummaryBit = 32;
    static constexpr int ServiceRequestBit = 64;

private:
    struct TEntry {
        int Number;
        QByteArray Detail;
    };
    std::deque<TEntry> Errors;
    int EventStatus = PowerOnBit;
};
