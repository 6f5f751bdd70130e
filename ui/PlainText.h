// Texts that come from the crate server or the settings file (serials, module
// names, methods) are shown as they are: never read as markup.
#pragma once

#include <QString>

class QWidget;

namespace PlainText {

// Every label under root shows its text as plain text, and every hint of the
// application is shown as plain text while owner lives.
void Install(QWidget* owner);

// The markup that shows text literally in a hint; text itself when it could
// not be taken for markup.
QString ToolTipMarkup(const QString& text);

} // namespace PlainText
