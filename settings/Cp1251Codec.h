// The settings file's code page. Bytes that Windows-1251 leaves undefined are
// carried through as private-use characters, so a file read and written back
// keeps every byte it had.
#pragma once

#include <QByteArray>
#include <QString>

namespace Cp1251 {

QString Decode(const QByteArray& bytes);
// Characters outside the code page become "?".
QByteArray Encode(const QString& text);

} // namespace Cp1251
