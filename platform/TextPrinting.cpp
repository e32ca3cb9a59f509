#include "TextPrinting.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace kelvorin {

namespace {

bool Fail(QString* error, const QString& message) {
    if (error != nullptr) *error = message;
    return false;
}

}  // namespace

bool PrintPlainText(const QString& text, const QFont& font, QString* error) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) return Fail(error, QStringLiteral("There is no default printer."));
    QPrinter printer(info, QPrinter::HighResolution);
    if (!printer.isValid())
        return Fail(error, QStringLiteral("The printer %1 cannot be used.").arg(info.printerName()));
    printer.setDocName(QString());
    return PrintPlainTextOn(printer, text, font, error);
}

bool PrintPlainTextOn(QPrinter& printer, const QString& text, const QFont& font, QString* error) {
    printer.setFullPage(false);
    const QString name = printer.printerName().isEmpty() ? QStringLiteral("the printer") : printer.printerName();
    const QSizeF page(printer.width(), printer.height());
    if (page.width() <= 0 || page.height() <= 0)
        return Fail(error, QStringLiteral("%1 has no printable area.").arg(name));

    // The document is laid out on the printer itself, one page of it being
    // the printable area, without a margin of its own.
    QTextDocument document;
    document.documentLayout()->setPaintDevice(&printer);
    document.setDefaultFont(font);
    document.setDocumentMargin(0);
    document.setPageSize(page);
    document.setPlainText(text);

    QPainter painter;
    if (!painter.begin(&printer)) return Fail(error, QStringLiteral("Printing on %1 cannot start.").arg(name));
    painter.setPen(Qt::black);
    // Each line is drawn once, on the page its middle lies on: the layout
    // moves a line that would cross the foot of a page to the top of the
    // next, so a line lies whole on one page. (Drawing the whole document
    // clipped to each page in turn would also draw, clipped away but still
    // in the printer's output, a line that begins right at the foot.) A
    // line without characters draws nothing and starts no page, so the
    // line break that ends the text leaves no blank page after a full one.
    int current = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        const QPointF origin = document.documentLayout()->blockBoundingRect(block).topLeft();
        for (int k = 0; k < layout->lineCount(); ++k) {
            const QTextLine line = layout->lineAt(k);
            if (line.textLength() == 0) continue;
            const int onPage = static_cast<int>((origin.y() + line.y() + line.height() / 2) / page.height());
            for (; current < onPage; ++current) {
                if (!printer.newPage()) {
                    painter.end();
                    return Fail(error, QStringLiteral("Printing on %1 failed.").arg(name));
                }
            }
            line.draw(&painter, origin - QPointF(0, current * page.height()));
        }
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        return Fail(error, QStringLiteral("Printing on %1 failed.").arg(name));
    return true;
}

}  // namespace kelvorin
