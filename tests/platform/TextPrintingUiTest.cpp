// Printing of the stored results, onto a PDF file whose text is read back
// with pdftotext (skipped where that tool is missing).
#include <gtest/gtest.h>

#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include "Fonts.h"
#include "TextPrinting.h"

namespace kelvorin {
namespace {

class TextPrinting : public ::testing::Test {
protected:
    void SetUp() override {
        pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty()) GTEST_SKIP() << "pdftotext is not installed";
        ASSERT_TRUE(folder.isValid());
    }

    // The pages of TEXT printed onto a PDF file, each as the lines read
    // back from it, blank lines left out.
    QList<QStringList> PrintedPages(const QString& text) {
        const QString pdf = folder.filePath(QStringLiteral("printed.pdf"));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        QString error;
        EXPECT_TRUE(PrintPlainTextOn(printer, text, ReportFont(), &error)) << error.toStdString();
        QProcess process;
        process.start(pdftotext, {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
        EXPECT_TRUE(process.waitForFinished(-1) && process.exitCode() == 0);
        // pdftotext ends every page with a form feed.
        QStringList pages = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\f'));
        if (!pages.isEmpty() && pages.back().trimmed().isEmpty()) pages.removeLast();
        QList<QStringList> result;
        for (const QString& page : pages) {
            QStringList lines;
            for (const QString& line : page.split(QLatin1Char('\n')))
                if (!line.trimmed().isEmpty()) lines << line.trimmed();
            result << lines;
        }
        return result;
    }

    QString pdftotext;
    QTemporaryDir folder;
};

// Lines numbered 1 to COUNT, every one ended by a line break as the stored
// results are, some of them non-ASCII and some empty.
QStringList NumberedLines(int count) {
    QStringList lines;
    for (int k = 1; k <= count; ++k)
        lines << (k % 10 == 0 ? QString() : QStringLiteral("L%1-\u00C4\u00F6\u00B1\u00E9").arg(k, 6, 10, QLatin1Char('0')));
    return lines;
}
QString Joined(const QStringList& lines) { return lines.join(QLatin1Char('\n')) + QLatin1Char('\n'); }
QStringList NonEmpty(QStringList lines) {
    lines.removeAll(QString());
    return lines;
}

// Every line of a report of several pages is printed once, in order, with
// its characters; a line that the page break moves to the next page is
// not in the page before as well. A text that fills its last page ends
// there: the line break after its last line starts no blank page.
TEST_F(TextPrinting, EveryLinePrintsOnceAndNoPageIsLeftBlank) {
    const QStringList lines = NumberedLines(1000);
    const QList<QStringList> pages = PrintedPages(Joined(lines));
    ASSERT_GT(pages.size(), 3);
    QStringList printed;
    for (const QStringList& page : pages) {
        EXPECT_FALSE(page.isEmpty()) << "a blank page";
        printed += page;
    }
    EXPECT_EQ(printed, NonEmpty(lines));

    // As many lines as the first page holds, each with its line break.
    const int perPage = static_cast<int>(lines.indexOf(pages[0].back())) + 1;
    const QStringList full = lines.mid(0, perPage);
    const QList<QStringList> onePage = PrintedPages(Joined(full));
    ASSERT_EQ(onePage.size(), 1);
    EXPECT_EQ(onePage[0], NonEmpty(full));
}

}  // namespace
}  // namespace kelvorin
