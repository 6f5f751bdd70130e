#include "record/Printable.h"

QString Printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t code = ch.unicode();
        // C0, DEL and C1: a newline would split a record, an escape would
        // drive the terminal.
        if (code < 0x20 || (code >= 0x7F && code < 0xA0))
            out += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        else
            out += ch;
    }
    return out;
}
