// The platform services: the settings store over QSettings (also over a
// settings file of junk), the file-dialog filters, the ports over the dialog
// service, the clock texts, printing, and the delegate that routes the keys
// of a table widget's open cell editor.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSize>
#include <QTableWidget>
#include <QTemporaryDir>

#include "DateTime.h"
#include "MockDialogs.h"
#include "QtPorts.h"
#include "QtSettingsStore.h"
#include "StoredOptions.h"
#include "TableWidgetGrid.h"
#include "TextPrinting.h"

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace kelvorin {
namespace {

using ::testing::_;
using ::testing::Return;

// The program's own settings as any other QSettings user sees them, emptied.
class QtSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { raw.clear(); }
    void TearDown() override { raw.clear(); }
    QSettings raw{QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat"};
};

// Only decimal text (bytes that are such text too) reads as a number; other
// text, values that are not text and missing values give the caller's
// default. A boolean is true for every non-zero integer.
TEST_F(QtSettingsStoreTest, OnlyDecimalTextIsReadAndAnythingElseGivesTheDefault) {
    const std::pair<QVariant, int> values[] = {
        {"12", 12},       {"-1", -1},           {"0", 0},        {QByteArray("42"), 42},
        {"", 7},          {"abc", 7},           {"12.5", 7},     {"0x10", 7},
        {"1e3", 7},       {"7 8", 7},           {"99999999999", 7}, {"-", 7},
        {QVariantList{3, 4}, 7}, {QByteArray("\x00\xff\x01", 3), 7}, {QSize(5, 6), 7}};
    for (const auto& [value, expected] : values) {
        raw.setValue("Option/Value", value);
        raw.sync();
        QtSettingsStore store;
        EXPECT_EQ(store.ReadInteger("Option", "Value", 7), expected) << value.toString().toStdString();
        EXPECT_EQ(store.ReadBool("Option", "Value", true), expected != 0) << value.toString().toStdString();
        EXPECT_EQ(store.ReadInteger("MainSetup", "Top", 7), 7);
    }
}

// Integers are written as decimal text and booleans as 1 and 0, over a value
// of another type too.
TEST_F(QtSettingsStoreTest, WritesDecimalTextThatTheNextStoreReads) {
    raw.setValue("Option/Track", QVariantList{1});
    raw.sync();
    {
        QtSettingsStore store;
        store.WriteInteger("MainSetup", "Top", -15);
        store.WriteInteger("Option", "Track", 3);
        store.WriteBool("Option", "Details", true);
        store.WriteBool("Option", "Expected", false);
    }
    QSettings again(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
    QStringList texts;
    for (const char* key : {"MainSetup/Top", "Option/Track", "Option/Details", "Option/Expected"})
        texts << (again.value(key).typeId() == QMetaType::QString ? again.value(key).toString() : "<not text>");
    EXPECT_EQ(texts.join(' '), QString("-15 3 1 0"));
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
        {"Reports|*.txt;*.log", "Reports (*.txt *.log)"}, {"Data file (*.dat)|*.dat|Orphan", "Data file (*.dat)"},
        {"Nothing|", ""}};
    for (const auto& [filter, qt] : filters) EXPECT_EQ(QtFilterText(filter), qt) << filter.toStdString();
    const std::pair<QString, QString> names[] = {{"/tmp/report", "/tmp/report.txt"}, {"/tmp/r.TXT", "/tmp/r.TXT"},
                                                 {"/v1.2/report", "/v1.2/report.txt"}, {"/tmp/report.", "/tmp/report."},
                                                 {"", ""}};
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
    EXPECT_CALL(mock, Question(&owner, QString("Abort calculation ?"), QString("Confirm"))).WillOnce(Return(true));
    EXPECT_TRUE(boxes.AskYesNo("Abort calculation ?"));
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

// Dates in the locale's short format; times as whole seconds without a time
// zone, a used time without its whole days.
TEST(QtClockTexts, ShowTheDateAndWholeSecondsWithoutAZone) {
    CivilDateTime civil;
    civil.Year = 2024, civil.Month = 3, civil.Day = 5, civil.Hour = 14, civil.Minute = 7, civil.Second = 9;
    civil.Millisecond = 600;
    QtClock clock;
    EXPECT_EQ(clock.ShortDateText(ToDateTime(civil)),
              QLocale::system().toString(QDate(2024, 3, 5), QLocale::ShortFormat).toStdString());
    const QString at = QString::fromStdString(clock.LongTimeText(ToDateTime(civil)));
    EXPECT_TRUE(at.contains(QRegularExpression("07\\D09(\\D|$)")) && !at.contains("600")) << at.toStdString();
    const QString used = QString::fromStdString(clock.LongTimeText(1.0 + (2 * 60 + 3.25) / 86400.0));
    EXPECT_TRUE(used.contains(QRegularExpression("02\\D03(\\D|$)")) && !used.contains("24")) << used.toStdString();
    EXPECT_EQ(QtClock::WithoutTimeZone("t h:mm:ss AP tttt"), QString("h:mm:ss AP"));
    EXPECT_EQ(QtClock::WithoutTimeZone("H 'heures' mm 'et' ss t"), QString("H 'heures' mm 'et' ss"));
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
        const QString pdf = file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
        return static_cast<int>(pdf.count(QRegularExpression("/Type\\s*/Page[^s]")));
    };
    QStringList lines;
    for (int k = 1; k <= 300; ++k) lines << QString("line %1").arg(k);
    EXPECT_EQ(pages("one line"), 1);
    EXPECT_THAT(pages(lines.join('\n')), ::testing::AllOf(::testing::Ge(3), ::testing::Le(10)));
    EXPECT_GE(pages(QString("word ").repeated(12000)), 2);
    if (!QPrinterInfo::defaultPrinter().isNull()) return;
    QString error;
    EXPECT_FALSE(PrintPlainText("text", QFont(), &error));
    EXPECT_FALSE(error.isEmpty());
}

void Press(QWidget* target, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
}

// A key from an open editor reaches the handler with the typed text
// committed; Right and End stay in the editor until the caret is at the end.
TEST(GridKeyDelegate, RightAndEndStayInTheEditorUntilTheCaretIsAtTheEnd) {
    QTableWidget table(2, 3);
    std::vector<int> keys;
    GridKeyDelegate* delegate = nullptr;
    delegate = new GridKeyDelegate(&table, [&](int key, Qt::KeyboardModifiers) {
        if (key != Qt::Key_Right) return false;
        keys.push_back(key);
        delegate->CommitEdit();  // the handler sees the committed text
        return true;
    });
    table.show();
    table.setCurrentCell(1, 1);
    Press(&table, Qt::Key_1, "1");
    QLineEdit* editor = table.viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    Press(editor, Qt::Key_2, "2");
    editor->setCursorPosition(0);
    Press(editor, Qt::Key_Right);
    Press(editor, Qt::Key_End);
    EXPECT_TRUE(keys.empty() && delegate->Editing());
    Press(editor, Qt::Key_Right);
    EXPECT_EQ(keys, std::vector<int>{Qt::Key_Right});
    EXPECT_FALSE(delegate->Editing());
    EXPECT_EQ(table.item(1, 1)->text(), QString("12"));
}

}  // namespace
}  // namespace kelvorin
