// The platform services: the settings store over QSettings and in memory,
// the file-dialog filters and default extension, the ports over the dialog
// service, the report pane, the status line, the clock texts and printing
// without a printer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDate>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSize>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTime>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "DateTime.h"
#include "DialogService.h"
#include "MockDialogs.h"
#include "QtPorts.h"
#include "QtSettingsStore.h"
#include "TextPrinting.h"

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace kelvorin {
namespace {

using ::testing::_;
using ::testing::Eq;
using ::testing::Return;
using ::testing::StrictMock;
using Icon = DialogService::Icon;

using testdialogs::MockDialogs;

// Installs a service for the length of a test.
class InstalledDialogs {
public:
    explicit InstalledDialogs(DialogService& service) { SetDialogService(&service); }
    ~InstalledDialogs() { SetDialogService(nullptr); }
    InstalledDialogs(const InstalledDialogs&) = delete;
    InstalledDialogs& operator=(const InstalledDialogs&) = delete;
};

// The program's own settings, as any other QSettings user sees them.
QSettings RawSettings() { return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat"); }

// ------------------------------------------------------------ settings store

class QtSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
        raw.clear();
        raw.sync();
    }
};

TEST_F(QtSettingsStoreTest, MissingSectionOrValueGivesTheDefault) {
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
    raw.setValue("MainSetup/Top", "12");
    raw.sync();

    QtSettingsStore store;
    EXPECT_EQ(store.ReadText("GridSetup", "Top"), std::nullopt);
    EXPECT_EQ(store.ReadText("MainSetup", "Left"), std::nullopt);
    EXPECT_EQ(store.ReadInteger("GridSetup", "Top", -1), -1);
    EXPECT_EQ(store.ReadInteger("MainSetup", "Left", -1), -1);
    EXPECT_TRUE(store.ReadBool("Option", "Observed", true));
    EXPECT_FALSE(store.ReadBool("Option", "Expected", false));
    // The value next to them is there.
    EXPECT_EQ(store.ReadInteger("MainSetup", "Top", -1), 12);
}

TEST_F(QtSettingsStoreTest, TextThatIsNotADecimalIntegerGivesTheDefault) {
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
    const char* const texts[] = {"", "abc", "12.5", "0x10", "1e3", "7 8", "99999999999", "-"};
    for (const char* text : texts) {
        raw.setValue("GridSetup/Height", QString::fromLatin1(text));
        raw.sync();
        QtSettingsStore store;
        EXPECT_EQ(store.ReadText("GridSetup", "Height"), std::optional<std::string>(text)) << text;
        EXPECT_EQ(store.ReadInteger("GridSetup", "Height", -1), -1) << text;
        EXPECT_TRUE(store.ReadBool("GridSetup", "Height", true)) << text;
        EXPECT_FALSE(store.ReadBool("GridSetup", "Height", false)) << text;
    }
}

TEST_F(QtSettingsStoreTest, ValuesThatAreNotTextReadAsNotStored) {
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
    raw.setValue("Option/Track", QVariantList{3, 4});
    raw.setValue("Option/Observed", QByteArray("\x00\xff\x01", 3));
    raw.setValue("Option/Details", QStringList{"1", "0"});
    raw.setValue("MainSetup/Width", QSize(5, 6));
    raw.setValue("Option/InputData", "1");
    raw.sync();

    QtSettingsStore store;
    EXPECT_EQ(store.ReadText("Option", "Track"), std::nullopt);
    EXPECT_EQ(store.ReadInteger("Option", "Track", 1), 1);
    EXPECT_EQ(store.ReadText("Option", "Observed"), std::nullopt);
    EXPECT_TRUE(store.ReadBool("Option", "Observed", true));
    EXPECT_EQ(store.ReadText("Option", "Details"), std::nullopt);
    EXPECT_FALSE(store.ReadBool("Option", "Details", false));
    EXPECT_EQ(store.ReadInteger("MainSetup", "Width", -1), -1);
    // A text value after them still reads.
    EXPECT_EQ(store.ReadInteger("Option", "InputData", 0), 1);
}

TEST_F(QtSettingsStoreTest, BytesThatAreTextReadAsText) {
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
    raw.setValue("GridSetup/Left", QByteArray("42"));
    raw.sync();
    QtSettingsStore store;
    EXPECT_EQ(store.ReadInteger("GridSetup", "Left", -1), 42);
}

TEST_F(QtSettingsStoreTest, WritesIntegersAsDecimalTextAndBooleansAsOneAndZero) {
    {
        QtSettingsStore store;
        store.WriteInteger("MainSetup", "Top", -15);
        store.WriteInteger("Option", "Track", 3);
        store.WriteBool("Option", "Details", true);
        store.WriteBool("Option", "Expected", false);
    }
    QSettings raw = RawSettings();
    EXPECT_THAT(raw.childGroups(), ::testing::UnorderedElementsAre(QString("MainSetup"), QString("Option")));
    const QVariant top = raw.value("MainSetup/Top");
    EXPECT_EQ(top.typeId(), QMetaType::QString);
    EXPECT_EQ(top.toString(), QString("-15"));
    EXPECT_EQ(raw.value("Option/Track").toString(), QString("3"));
    EXPECT_EQ(raw.value("Option/Details").toString(), QString("1"));
    EXPECT_EQ(raw.value("Option/Expected").toString(), QString("0"));

    // What was written is on disk once the store is gone.
    QFile file(raw.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << raw.fileName().toStdString();
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.contains("[Option]"));
    EXPECT_TRUE(content.contains("Track=3"));

    QtSettingsStore again;
    EXPECT_EQ(again.ReadInteger("MainSetup", "Top", -1), -15);
    EXPECT_EQ(again.ReadInteger("Option", "Track", 1), 3);
    EXPECT_TRUE(again.ReadBool("Option", "Details", false));
    EXPECT_FALSE(again.ReadBool("Option", "Expected", true));
}

TEST_F(QtSettingsStoreTest, ABooleanIsTrueForEveryNonZeroInteger) {
    QtSettingsStore store;
    store.WriteText("Option", "Row", "7");
    store.WriteText("Option", "Column", "-1");
    store.WriteText("Option", "AppLRtest", "0");
    EXPECT_TRUE(store.ReadBool("Option", "Row", false));
    EXPECT_TRUE(store.ReadBool("Option", "Column", false));
    EXPECT_FALSE(store.ReadBool("Option", "AppLRtest", true));
}

TEST_F(QtSettingsStoreTest, AValueOfAnotherTypeIsReplacedByText) {
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
    raw.setValue("Option/Track", QVariantList{1});
    raw.sync();
    QtSettingsStore store;
    store.WriteInteger("Option", "Track", 2);
    EXPECT_EQ(store.ReadInteger("Option", "Track", 1), 2);
}

TEST(MemorySettingsStore, BehavesAsTheStoreItStandsFor) {
    MemorySettingsStore store;
    EXPECT_EQ(store.ReadInteger("MainSetup", "Top", -1), -1);
    EXPECT_FALSE(store.Contains("MainSetup", "Top"));

    store.WriteInteger("MainSetup", "Top", 201);
    store.WriteBool("Option", "Details", true);
    store.WriteText("GridSetup", "Height", "tall");
    EXPECT_EQ(store.ReadInteger("MainSetup", "Top", -1), 201);
    EXPECT_TRUE(store.ReadBool("Option", "Details", false));
    EXPECT_EQ(store.ReadInteger("GridSetup", "Height", -1), -1);
    // Sections keep equal names apart.
    EXPECT_EQ(store.ReadInteger("GridSetup", "Top", -1), -1);

    store.SetNonText("Option", "Track");
    EXPECT_TRUE(store.Contains("Option", "Track"));
    EXPECT_EQ(store.ReadText("Option", "Track"), std::nullopt);
    EXPECT_EQ(store.ReadInteger("Option", "Track", 1), 1);
    store.WriteInteger("Option", "Track", 4);
    EXPECT_EQ(store.ReadInteger("Option", "Track", 1), 4);

    const std::vector<MemorySettingsStore::Write> expected = {{"MainSetup", "Top", "201"},
                                                              {"Option", "Details", "1"},
                                                              {"GridSetup", "Height", "tall"},
                                                              {"Option", "Track", "4"}};
    EXPECT_EQ(store.Writes(), expected);

    store.Clear();
    EXPECT_FALSE(store.Contains("Option", "Track"));
    EXPECT_TRUE(store.Writes().empty());
}

// ------------------------------------------------------ file dialog filters

TEST(FileDialogFilters, PairsBecomeQtNameFilters) {
    EXPECT_EQ(QtNameFilters("Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*"),
              QStringList({"Data file (*.dat)", "Text file (*.txt)", "All files (*.*)"}));
    EXPECT_EQ(QtFilterText("Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*"),
              QString("Data file (*.dat);;Text file (*.txt);;All files (*.*)"));
    EXPECT_EQ(QtFilterText("Text (*.txt)|*.txt"), QString("Text (*.txt)"));
    EXPECT_EQ(QtFilterText("Data file (*.dat)|*.dat"), QString("Data file (*.dat)"));
}

TEST(FileDialogFilters, PatternsMissingFromTheDescriptionAreAdded) {
    // Qt reads the patterns out of the parentheses of the description.
    EXPECT_EQ(QtFilterText("Text|*.txt"), QString("Text (*.txt)"));
    EXPECT_EQ(QtFilterText("Reports|*.txt;*.log"), QString("Reports (*.txt *.log)"));
    EXPECT_EQ(QtFilterText("Reports (*.txt)|*.txt;*.log"), QString("Reports (*.txt) (*.txt *.log)"));
    EXPECT_EQ(QtFilterText("|*.dat"), QString("(*.dat)"));
}

TEST(FileDialogFilters, IncompleteEntriesAreDropped) {
    EXPECT_EQ(QtNameFilters(""), QStringList());
    EXPECT_EQ(QtNameFilters("Data file (*.dat)|*.dat|Orphan"), QStringList({"Data file (*.dat)"}));
    EXPECT_EQ(QtNameFilters("Nothing|"), QStringList());
}

TEST(FileDialogFilters, TheDefaultExtensionIsAddedOnlyToANameWithoutOne) {
    EXPECT_EQ(WithDefaultExtension("/tmp/report", "txt"), QString("/tmp/report.txt"));
    EXPECT_EQ(WithDefaultExtension("report", "dat"), QString("report.dat"));
    EXPECT_EQ(WithDefaultExtension("/tmp/report.dat", "txt"), QString("/tmp/report.dat"));
    EXPECT_EQ(WithDefaultExtension("/tmp/report.TXT", "txt"), QString("/tmp/report.TXT"));
    // A point in a folder name is not an extension of the file.
    EXPECT_EQ(WithDefaultExtension("/tmp/v1.2/report", "txt"), QString("/tmp/v1.2/report.txt"));
    // A name ending in a point asks for no extension.
    EXPECT_EQ(WithDefaultExtension("/tmp/report.", "txt"), QString("/tmp/report."));
    EXPECT_EQ(WithDefaultExtension("/tmp/report", ""), QString("/tmp/report"));
    EXPECT_EQ(WithDefaultExtension("", "txt"), QString(""));
}

// ------------------------------------------------- ports over the dialogs

TEST(DialogServiceReplacement, TheInstalledServiceAnswersUntilRemoved) {
    DialogService& standard = Dialogs();
    EXPECT_NE(dynamic_cast<QtDialogService*>(&standard), nullptr);
    {
        StrictMock<MockDialogs> mock;
        InstalledDialogs installed(mock);
        EXPECT_EQ(&Dialogs(), &mock);
    }
    EXPECT_EQ(&Dialogs(), &standard);
}

TEST(QtFileDialogPort, ASaveDialogKeepsTheConfirmedNameAndProposesItAgain) {
    StrictMock<MockDialogs> mock;
    InstalledDialogs installed(mock);
    QWidget owner;
    QtFileDialog dialog(&owner, QtFileDialog::Kind::Save, "Text (*.txt)|*.txt", "txt");
    EXPECT_EQ(dialog.FileName(), "");

    {
        ::testing::InSequence order;
        EXPECT_CALL(mock, SaveFileName(Eq(&owner), QString("Text (*.txt)|*.txt"), QString("txt"), QString("")))
            .WillOnce(Return(QString("/tmp/out.txt")));
        EXPECT_CALL(mock, SaveFileName(Eq(&owner), _, _, QString("/tmp/out.txt")))
            .WillOnce(Return(std::nullopt));
    }
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName(), "/tmp/out.txt");
    // Cancelled: the name stays.
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.FileName(), "/tmp/out.txt");
}

TEST(QtFileDialogPort, AnOpenDialogAsksForAFileToOpenWithTheNameSetBefore) {
    StrictMock<MockDialogs> mock;
    InstalledDialogs installed(mock);
    QtFileDialog dialog(nullptr, QtFileDialog::Kind::Open,
                        "Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*", "dat");
    dialog.SetFileName("/data/tables.dat");
    EXPECT_CALL(mock, OpenFileName(Eq(nullptr), QString("Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*"),
                                   QString("dat"), QString("/data/tables.dat")))
        .WillOnce(Return(QString("/data/other.dat")));
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName(), "/data/other.dat");
}

TEST(QtMessageBoxesPort, MessagesHaveNoIconAndTheQuestionAsksForConfirmation) {
    StrictMock<MockDialogs> mock;
    InstalledDialogs installed(mock);
    QWidget owner;
    QtMessageBoxes boxes(&owner);

    EXPECT_CALL(mock, Message(Eq(&owner), QString("All zeros in row 2"), QString("Error"), Icon::None));
    boxes.Show("All zeros in row 2", "Error");

    EXPECT_CALL(mock, Question(Eq(&owner), QString("Abort calculation ?"), QString("Confirm")))
        .WillOnce(Return(true))
        .WillOnce(Return(false));
    EXPECT_TRUE(boxes.AskYesNo("Abort calculation ?"));
    EXPECT_FALSE(boxes.AskYesNo("Abort calculation ?"));

    EXPECT_CALL(mock, ErrorAbort(Eq(&owner), QString("Floating point overflow")));
    boxes.ShowErrorAbort("Floating point overflow");
}

// ---------------------------------------------------- status line and pane

TEST(QtStatusLinePort, TheLatestTextWins) {
    QStatusBar bar;
    QtStatusLine status(&bar);
    status.SetText("Select test");
    EXPECT_EQ(bar.currentMessage(), QString("Select test"));
    status.SetText("1000 sample points");
    EXPECT_EQ(bar.currentMessage(), QString("1000 sample points"));
    status.SetText("");
    EXPECT_EQ(bar.currentMessage(), QString(""));
}

TEST(PlainTextReportPort, KeepsTheAppendedLinesInOrderIncludingEmptyOnes) {
    QPlainTextEdit pane;
    PlainTextReport report(&pane);
    EXPECT_TRUE(report.Lines().empty());

    report.AppendLine("");
    report.AppendLine("");
    report.AppendLine(" Zelkat                05/03/2024 14:07:09");
    report.AppendLine("");
    const std::vector<std::string> expected = {"", "", " Zelkat                05/03/2024 14:07:09", ""};
    EXPECT_EQ(report.Lines(), expected);
    // The pane shows the same lines, the leading empty ones included.
    EXPECT_EQ(pane.toPlainText(), QString("\n\n Zelkat                05/03/2024 14:07:09\n"));
    EXPECT_EQ(pane.document()->blockCount(), 4);
}

TEST(PlainTextReportPort, LinesAreTheReportsOwnNotTheWrappedOnes) {
    QPlainTextEdit pane;
    pane.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    pane.resize(120, 200);
    pane.show();
    PlainTextReport report(&pane);
    const std::string wide(300, 'x');
    report.AppendLine(wide);
    report.AppendLine("next");
    const std::vector<std::string> expected = {wide, "next"};
    EXPECT_EQ(report.Lines(), expected);
}

TEST(PlainTextReportPort, ClearEmptiesPaneAndLines) {
    QPlainTextEdit pane;
    PlainTextReport report(&pane);
    report.AppendLine("first");
    report.AppendLine("second");
    report.Clear();
    EXPECT_TRUE(report.Lines().empty());
    EXPECT_EQ(pane.toPlainText(), QString(""));

    report.AppendLine("third");
    EXPECT_EQ(report.Lines(), std::vector<std::string>{"third"});
    EXPECT_EQ(pane.toPlainText(), QString("third"));
}

// ------------------------------------------------------------------- clock

double At(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    CivilDateTime civil;
    civil.Year = year;
    civil.Month = month;
    civil.Day = day;
    civil.Hour = hour;
    civil.Minute = minute;
    civil.Second = second;
    civil.Millisecond = millisecond;
    return ToDateTime(civil);
}

// TEXT with the locale's AM and PM designators removed has no letters left
// (a time zone would leave some).
bool HasNoZone(const QString& text) {
    QString rest = text;
    const QLocale locale = QLocale::system();
    if (!locale.amText().isEmpty()) rest.remove(locale.amText());
    if (!locale.pmText().isEmpty()) rest.remove(locale.pmText());
    for (const QChar ch : rest)
        if (ch.isLetter()) return false;
    return true;
}

TEST(QtClockTexts, TheShortDateIsTheCalendarDateOfTheDayCount) {
    QtClock clock;
    const QLocale locale = QLocale::system();
    EXPECT_EQ(clock.ShortDateText(At(2024, 3, 5, 14, 7, 9, 600)),
              locale.toString(QDate(2024, 3, 5), QLocale::ShortFormat).toStdString());
    EXPECT_EQ(clock.ShortDateText(0.0), locale.toString(QDate(1899, 12, 30), QLocale::ShortFormat).toStdString());
    EXPECT_EQ(clock.ShortDateText(At(2000, 2, 29, 23, 59, 59, 999)),
              locale.toString(QDate(2000, 2, 29), QLocale::ShortFormat).toStdString());
}

TEST(QtClockTexts, TheLongTimeShowsWholeSecondsWithoutAZone) {
    QtClock clock;
    const QString text = QString::fromStdString(clock.LongTimeText(At(2024, 3, 5, 14, 7, 9, 600)));
    EXPECT_TRUE(text.contains(QRegularExpression("07\\D09(\\D|$)"))) << text.toStdString();
    EXPECT_FALSE(text.contains("600")) << text.toStdString();
    EXPECT_FALSE(text.contains(QRegularExpression("\\D10(\\D|$)"))) << text.toStdString();
    EXPECT_TRUE(HasNoZone(text)) << text.toStdString();
}

TEST(QtClockTexts, AUsedTimeShowsItsHoursMinutesAndSecondsOnly) {
    QtClock clock;
    // 3.25 seconds.
    const QString short_ = QString::fromStdString(clock.LongTimeText(3.25 / 86400.0));
    EXPECT_TRUE(short_.contains(QRegularExpression("00\\D03(\\D|$)"))) << short_.toStdString();
    EXPECT_FALSE(short_.contains("25")) << short_.toStdString();
    EXPECT_TRUE(HasNoZone(short_)) << short_.toStdString();
    // One day, 2 hours, 2 minutes and 3 seconds: the whole day is not shown.
    const QString long_ = QString::fromStdString(clock.LongTimeText(1.0 + (2 * 3600 + 2 * 60 + 3) / 86400.0));
    EXPECT_TRUE(long_.contains(QRegularExpression("02\\D03(\\D|$)"))) << long_.toStdString();
    EXPECT_FALSE(long_.contains("26")) << long_.toStdString();
}

TEST(QtClockTexts, TheZoneFieldIsTakenOutOfATimeFormat) {
    EXPECT_EQ(QtClock::WithoutTimeZone("HH:mm:ss t"), QString("HH:mm:ss"));
    EXPECT_EQ(QtClock::WithoutTimeZone("h:mm:ss AP t"), QString("h:mm:ss AP"));
    EXPECT_EQ(QtClock::WithoutTimeZone("t HH:mm:ss"), QString("HH:mm:ss"));
    EXPECT_EQ(QtClock::WithoutTimeZone("HH:mm:ss t AP"), QString("HH:mm:ss AP"));
    EXPECT_EQ(QtClock::WithoutTimeZone("HH:mm:ss tttt"), QString("HH:mm:ss"));
    // Quoted text is literal, its letters included.
    EXPECT_EQ(QtClock::WithoutTimeZone("H 'heures' mm 'et' ss t"), QString("H 'heures' mm 'et' ss"));
    EXPECT_EQ(QtClock::WithoutTimeZone("HH:mm:ss"), QString("HH:mm:ss"));

    // Whatever the locale, the format in use has hours, minutes and seconds
    // and no zone.
    const QString format = QtClock::LongTimeFormat();
    EXPECT_EQ(QtClock::WithoutTimeZone(format), format);
    const QString shown = QLocale::system().toString(QTime(13, 24, 35), format);
    EXPECT_TRUE(shown.contains("24")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("35")) << shown.toStdString();
}

// ---------------------------------------------------------------- printing

// Prints TEXT into a PDF file and returns the number of its pages (0 when
// the printing failed).
int PrintedPages(const QString& text, const QFont& font, const QString& path, QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    QString error;
    if (!PrintPlainTextOn(printer, text, font, &error)) return 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QString pdf = QString::fromLatin1(file.readAll());
    return static_cast<int>(pdf.count(QRegularExpression("/Type\\s*/Page[^s]")));
}

QFont NinePointFixed() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    return font;
}

TEST(PrintPlainTextOnAPrinter, AShortTextFillsOnePage) {
    QTemporaryDir folder;
    QPrinter printer(QPrinter::HighResolution);
    EXPECT_EQ(PrintedPages("one line", NinePointFixed(), folder.filePath("short.pdf"), printer), 1);
}

TEST(PrintPlainTextOnAPrinter, ANewPageBeginsWhenOneIsFull) {
    QTemporaryDir folder;
    QPrinter printer(QPrinter::HighResolution);
    const QFont font = NinePointFixed();
    QStringList lines;
    for (int k = 1; k <= 300; ++k) lines << QString("line %1").arg(k);
    const int pages = PrintedPages(lines.join('\n'), font, folder.filePath("long.pdf"), printer);

    // As many lines on a page as its printable height holds.
    const QFontMetricsF metrics(font, &printer);
    const auto pagesFor = [&](qreal lineHeight) {
        const int perPage = static_cast<int>(printer.height() / lineHeight);
        return (300 + perPage - 1) / perPage;
    };
    const int fewest = std::min(pagesFor(metrics.height()), pagesFor(metrics.lineSpacing()));
    const int most = std::max(pagesFor(metrics.height()), pagesFor(metrics.lineSpacing()));
    EXPECT_GE(pages, fewest);
    EXPECT_LE(pages, most);
    EXPECT_GE(pages, 2);
}

TEST(PrintPlainTextOnAPrinter, LongLinesWrapAtThePrintableWidth) {
    QTemporaryDir folder;
    QPrinter printer(QPrinter::HighResolution);
    // One line of 60000 characters; unwrapped it would fill a single page.
    const QString line = QString("word ").repeated(12000);
    EXPECT_GE(PrintedPages(line, NinePointFixed(), folder.filePath("wide.pdf"), printer), 2);
}

TEST(PrintPlainTextWithoutPrinter, ReportsThatThereIsNoPrinter) {
    if (!QPrinterInfo::defaultPrinter().isNull()) GTEST_SKIP() << "a default printer is installed here";
    QString error;
    EXPECT_FALSE(PrintPlainText("text", QFont(), &error));
    EXPECT_FALSE(error.isEmpty());
    // Without a place for the reason it still fails cleanly.
    EXPECT_FALSE(PrintPlainText("text", QFont(), nullptr));
}

}  // namespace
}  // namespace kelvorin
