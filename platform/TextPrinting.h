// Printing of plain text on the default printer, without a printer dialog.
#pragma once

#include <QFont>
#include <QString>

class QPrinter;

namespace kelvorin {

// Prints TEXT in FONT on the default printer: laid out over the printable
// area of each page from the first character to the last, a new page when
// one is full, no header, footer, page number or margin of its own; the job
// has an empty title. False, with the reason in *ERROR (when given), when
// there is no usable default printer or the printing fails.
bool PrintPlainText(const QString& text, const QFont& font, QString* error);

// The same on PRINTER, as it is set up (its title included).
bool PrintPlainTextOn(QPrinter& printer, const QString& text, const QFont& font, QString* error);

}  // namespace kelvorin
