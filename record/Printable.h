// Texts that come from the crate server (serials) reach terminals and line
// formats: control characters in them are shown as \xNN, never sent raw.
#pragma once

#include <QString>

QString Printable(const QString& text);
