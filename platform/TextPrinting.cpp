#include "TextPrinting.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPalette>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextDocument>

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
    const int pages = document.pageCount();
    for (int index = 0; index < pages; ++index) {
        if (index > 0 && !printer.newPage()) {
            painter.end();
            return Fail(error, QStringLiteral("Printing on %1 failed.").arg(name));
        }
        const QRectF area(0, index * page.height(), page.width(), page.height());
        painter.save();
        painter.translate(0, -area.top());
        painter.setClipRect(area);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = area;
        context.palette.setColor(QPalette::Text, Qt::black);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        return Fail(error, QStringLiteral("Printing on %1 failed.").arg(name));
    return true;
}

}  // namespace kelvorin
