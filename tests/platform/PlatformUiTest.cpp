// The platform services: the settings store over QSettings (also over a
// settings file of junk), the file-dialog filters, the ports over the dialog
// service, the report pane, the clock texts and printing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>
#include <QTime>

#include "DateTime.h"
#include "MockDialogs.h"
#include "QtPorts.h"
#include "QtSettingsStore.h"
#include "StoredOptions.h"
#include "TextPrinting.h"

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace kelvorin {
namespace {

using ::testing::_;
using ::testing::Return;

// The program's own settings as any other QSettings user sees them, emptied.
class QtSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { raw.clear(); }
    void TearDown() override {
        raw.clear();
        raw.sync();
    }
    void Put(const char* key, const QVariant& value) {
        raw.setValue(key, value);
        raw.sync();
    }
    QSettings raw{QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat"};
};

// Missing values, text that is not a decimal integer and values that are not
// text all read as not stored, giving the caller's default; bytes that are
// text read as text; a boolean is true for every non-zero integer.
TEST_F(QtSettingsStoreTest, OnlyDecimalTextIsReadAndAnythingElseGivesTheDefault) {
    for (const char* text : {"", "abc", "12.5", "0x10", "1e3", "7 8", "99999999999", "-"}) {
        Put("GridSetup/Height", QString::fromLatin1(text));
        QtSettingsStore store;
        EXPECT_EQ(store.ReadText("GridSetup", "Height"), std::optional<std::string>(text));
        EXPECT_EQ(store.ReadInteger("GridSetup", "Height", -1), -1) << text;
        EXPECT_TRUE(store.ReadBool("GridSetup", "Height", true)) << text;
    }
    Put("Option/Track", QVariantList{3, 4});
    Put("Option/Observed", QByteArray("\x00\xff\x01", 3));
    Put("MainSetup/Width", QSize(5, 6));
    Put("GridSetup/Left", QByteArray("42"));
    Put("Option/Row", "-1");
    Put("Option/AppLRtest", "0");
    QtSettingsStore store;
    EXPECT_EQ(store.ReadText("Option", "Track"), std::nullopt);
    EXPECT_EQ(store.ReadInteger("Option", "Track", 1), 1);
    EXPECT_TRUE(store.ReadBool("Option", "Observed", true));
    EXPECT_EQ(store.ReadInteger("MainSetup", "Width", -1), -1);
    EXPECT_EQ(store.ReadInteger("MainSetup", "Top", -1), -1);
    EXPECT_EQ(store.ReadInteger("GridSetup", "Left", -1), 42);
    EXPECT_TRUE(store.ReadBool("Option", "Row", false));
    EXPECT_FALSE(store.ReadBool("Option", "AppLRtest", true));
}

// Integers are written as decimal text and booleans as 1 and 0, over a value
// of another type too, and are on disk once the store is gone.
TEST_F(QtSettingsStoreTest, WritesDecimalTextThatTheNextStoreReads) {
    Put("Option/Track", QVariantList{1});
    {
        QtSettingsStore store;
        store.WriteInteger("MainSetup", "Top", -15);
        store.WriteInteger("Option", "Track", 3);
        store.WriteBool("Option", "Details", true);
        store.WriteBool("Option", "Expected", false);
    }
    QSettings again(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
    EXPECT_EQ(again.value("MainSetup/Top").typeId(), QMetaType::QString);
    EXPECT_EQ(again.value("MainSetup/Top").toString(), QString("-15"));
    EXPECT_EQ(again.value("Option/Details").toString() + again.value("Option/Expected").toString(), QString("10"));
    QFile file(again.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Track=3"));
}

// The bytes of a string literal that may hold NUL characters.
template <qsizetype N>
QByteArray Bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

// A settings file of junk, broken sections or values of the wrong kind gives
// the defaults, and the next settings are stored over it.
TEST(SettingsFile, JunkGivesTheDefaultsAndTheNextSettingsAreStored) {
    const QString path = QSettings(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat").fileName();
    const QByteArray junks[] = {
        Bytes("\x00\xff\xfe\x01\x89PNG\r\n\x1a\n"),
        Bytes("[Option\nTrack=\xff\xfe\nObserved=yes\n[MainSetup]\nTop=@Variant(\x00\x00\x7f)\n==\n"),
        "[Option]\nTrack=abc\nInputData=99999999999\nExpected=1.0\nObserved=\n[GridSetup]\nHeight=-\n",
    };
    for (const QByteArray& junk : junks) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(junk) == junk.size());
        file.close();
        {
            QtSettingsStore store;
            EXPECT_EQ(ReadStoredOptions(store), AnalysisOptions{});
            EXPECT_EQ(store.ReadInteger("MainSetup", "Top", -1), -1);
            EXPECT_EQ(store.ReadInteger("GridSetup", "Height", -1), -1);
            store.WriteInteger("MainSetup", "Top", 201);
            store.WriteText("Option", "Track", "3");
        }
        QtSettingsStore reopened;
        EXPECT_EQ(reopened.ReadInteger("MainSetup", "Top", -1), 201);
        EXPECT_EQ(ReadStoredOptions(reopened).Track, 3);
    }
    QFile::remove(path);
}

// "Description|patterns" pairs become Qt's name filters, the patterns added
// to a description that lacks them; the default extension is added only to
// a name without one.
TEST(FileDialogFilters, PairsBecomeQtFiltersAndTheDefaultExtensionIsAddedWhenMissing) {
    EXPECT_EQ(QtNameFilters("Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*"),
              QStringList({"Data file (*.dat)", "Text file (*.txt)", "All files (*.*)"}));
    const std::pair<QString, QString> filters[] = {
        {"Data file (*.dat)|*.dat|All files (*.*)|*.*", "Data file (*.dat);;All files (*.*)"},
        {"Text|*.txt", "Text (*.txt)"},
        {"Reports|*.txt;*.log", "Reports (*.txt *.log)"},
        {"Data file (*.dat)|*.dat|Orphan", "Data file (*.dat)"},
        {"Nothing|", ""},
    };
    for (const auto& [filter, qt] : filters) EXPECT_EQ(QtFilterText(filter), qt) << filter.toStdString();
    const std::pair<QString, QString> names[] = {
        {"/tmp/report", "/tmp/report.txt"},         {"/tmp/report.dat", "/tmp/report.dat"},
        {"/tmp/report.TXT", "/tmp/report.TXT"},     {"/tmp/v1.2/report", "/tmp/v1.2/report.txt"},
        {"/tmp/report.", "/tmp/report."},           {"", ""}};
    for (const auto& [name, withExtension] : names) EXPECT_EQ(WithDefaultExtension(name, "txt"), withExtension);
}

// The ports pass their texts and captions through the dialog service: a
// message without icon, a question captioned "Confirm", the error box; the
// file dialog keeps the name confirmed and proposes it again.
TEST(DialogPorts, PassTheirTextsAndCaptionsThroughTheDialogService) {
    ::testing::StrictMock<testdialogs::MockDialogs> mock;
    SetDialogService(&mock);
    QWidget owner;
    QtMessageBoxes boxes(&owner);
    EXPECT_CALL(mock, Message(&owner, QString("All zeros in row 2"), QString("Error"), DialogService::Icon::None));
    boxes.Show("All zeros in row 2", "Error");
    EXPECT_CALL(mock, Question(&owner, QString("Abort calculation ?"), QString("Confirm")))
        .WillOnce(Return(true))
        .WillOnce(Return(false));
    EXPECT_TRUE(boxes.AskYesNo("Abort calculation ?"));
    EXPECT_FALSE(boxes.AskYesNo("Abort calculation ?"));
    EXPECT_CALL(mock, ErrorAbort(&owner, QString("Floating point overflow")));
    boxes.ShowErrorAbort("Floating point overflow");

    QtFileDialog dialog(&owner, QtFileDialog::Kind::Save, "Text (*.txt)|*.txt", "txt");
    EXPECT_CALL(mock, SaveFileName(&owner, QString("Text (*.txt)|*.txt"), QString("txt"), QString("")))
        .WillOnce(Return(QString("/tmp/out.txt")));
    EXPECT_TRUE(dialog.Execute());
    EXPECT_CALL(mock, SaveFileName(&owner, _, _, QString("/tmp/out.txt"))).WillOnce(Return(std::nullopt));
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.FileName(), "/tmp/out.txt");
    SetDialogService(nullptr);
}

// The report keeps the lines it was given, empty and over-wide ones as they
// are, whatever the pane shows of them; Clear empties both.
TEST(PlainTextReportPort, KeepsTheReportsOwnLines) {
    QPlainTextEdit pane;
    pane.resize(120, 200);
    pane.show();
    PlainTextReport report(&pane);
    const std::vector<std::string> lines = {"", "", std::string(300, 'x'), ""};
    for (const std::string& line : lines) report.AppendLine(line);
    EXPECT_EQ(report.Lines(), lines);
    EXPECT_EQ(pane.toPlainText(), "\n\n" + QString(300, 'x') + "\n");
    report.Clear();
    report.AppendLine("third");
    EXPECT_EQ(report.Lines(), std::vector<std::string>{"third"});
    EXPECT_EQ(pane.toPlainText(), QString("third"));
}

// Dates in the locale's short format; times as whole hours, minutes and
// seconds without a time zone, a used time without its whole days.
TEST(QtClockTexts, ShowTheDateAndWholeSecondsWithoutAZone) {
    CivilDateTime civil;
    civil.Year = 2024, civil.Month = 3, civil.Day = 5, civil.Hour = 14, civil.Minute = 7, civil.Second = 9;
    civil.Millisecond = 600;
    QtClock clock;
    const QLocale locale = QLocale::system();
    EXPECT_EQ(clock.ShortDateText(ToDateTime(civil)), locale.toString(QDate(2024, 3, 5), QLocale::ShortFormat).toStdString());
    EXPECT_EQ(clock.ShortDateText(0.0), locale.toString(QDate(1899, 12, 30), QLocale::ShortFormat).toStdString());
    auto time = [&](double at) { return QString::fromStdString(clock.LongTimeText(at)); };
    EXPECT_TRUE(time(ToDateTime(civil)).contains(QRegularExpression("07\\D09(\\D|$)"))) << time(ToDateTime(civil)).toStdString();
    EXPECT_FALSE(time(ToDateTime(civil)).contains(QRegularExpression("600|\\D10(\\D|$)")));
    const QString used = time(1.0 + (2 * 3600 + 2 * 60 + 3.25) / 86400.0);
    EXPECT_TRUE(used.contains(QRegularExpression("02\\D03(\\D|$)"))) << used.toStdString();
    EXPECT_FALSE(used.contains("26") || used.contains("25")) << used.toStdString();

    const std::pair<QString, QString> formats[] = {{"HH:mm:ss t", "HH:mm:ss"},     {"h:mm:ss AP t", "h:mm:ss AP"},
                                                   {"t HH:mm:ss", "HH:mm:ss"},     {"HH:mm:ss tttt", "HH:mm:ss"},
                                                   {"H 'heures' mm 'et' ss t", "H 'heures' mm 'et' ss"}};
    for (const auto& [format, without] : formats) EXPECT_EQ(QtClock::WithoutTimeZone(format), without);
    EXPECT_EQ(QtClock::WithoutTimeZone(QtClock::LongTimeFormat()), QtClock::LongTimeFormat());
}

// Printing into a PDF: one page for a short text; long texts, and a single
// line too long for one page, go on over further pages. Without a printer
// the printing fails with a reason.
TEST(PrintPlainText, FillsPagesAndFailsWithoutAPrinter) {
    QTemporaryDir folder;
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    auto pages = [&](const QString& text) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(folder.filePath("out.pdf"));
        QString error;
        if (!PrintPlainTextOn(printer, text, font, &error)) return 0;
        QFile file(folder.filePath("out.pdf"));
        return file.open(QIODevice::ReadOnly)
                   ? static_cast<int>(QString::fromLatin1(file.readAll()).count(QRegularExpression("/Type\\s*/Page[^s]")))
                   : 0;
    };
    QStringList lines;
    for (int k = 1; k <= 300; ++k) lines << QString("line %1").arg(k);
    EXPECT_EQ(pages("one line"), 1);
    const int pagesOf300Lines = pages(lines.join('\n'));
    EXPECT_GE(pagesOf300Lines, 3);
    EXPECT_LE(pagesOf300Lines, 10);
    EXPECT_GE(pages(QString("word ").repeated(12000)), 2);
    if (!QPrinterInfo::defaultPrinter().isNull()) return;
    QString error;
    EXPECT_FALSE(PrintPlainText("text", QFont(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(PrintPlainText("text", QFont(), nullptr));
}

}  // namespace
}  // namespace kelvorin
