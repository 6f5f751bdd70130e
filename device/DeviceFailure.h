// What went wrong with a crate or module, told apart from the libraries'
// result codes, so that the detection and the client can name it.
#pragma once

#include <QString>

#include <cstdint>

enum class TDeviceFailure : uint8_t {
    None,
    NoConnection,       // nothing listens, or the connection broke
    TimedOut,           // no whole answer within the call's time-out
    Busy,               // another client of the crate server holds the module
    ServerFull,         // the crate server serves as many clients as it may
    NoDescriptor,       // this process or the system has no descriptor left
    NotThere,           // the server knows no such crate or module
    Refused,            // the crate or module refused the call
    SlotTypesUnreadable // a listed crate did not give its slot types
};

// The failure a crate or module library call's result stands for (None for 0).
TDeviceFailure DeviceFailureOf(int32_t result);

// A short text naming the failure, to stand beside a failure message.
QString DeviceFailureText(TDeviceFailure failure);

// A crate (slot 0) or module that a detection left out, and why.
struct TDetectionNote {
    QString Crate;
    uint16_t Slot = 0;
    TDeviceFailure Failure = TDeviceFailure::None;
};

// "crate 'QR000001' slot 3: <failure text>"; the crate's serial as it is
// (a caller that prints it escapes it).
QString DetectionNoteText(const TDetectionNote& note);

// The window's words for what a detection left out because another client or
// a limit of this machine stood in the way (busy, server full, no
// descriptor): "Крейт 'QR000001', слот 3: модуль занят другим клиентом".
// Empty for the other failures, whose prescribed messages say enough.
QString WindowNoteText(const TDetectionNote& note);
