// The stored-results editor: its window, the character count in its status
// bar, appending lines, Erase all, Save to file, Print and Return.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <csignal>
#include <ostream>
#include <string>

#include "DialogService.h"
#include "MockDialogs.h"
#include "TResults.h"

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace kelvorin {
namespace {

using ::testing::_;
using ::testing::Eq;
using ::testing::Return;
using ::testing::StrictMock;
using Icon = DialogService::Icon;

using testdialogs::MockDialogs;

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

class ResultsEditor : public ::testing::Test {
protected:
    void SetUp() override {
        SetDialogService(&dialogs);
        ASSERT_TRUE(folder.isValid());
    }
    void TearDown() override { SetDialogService(nullptr); }

    QString Text() const { return results.RichEdit1()->toPlainText(); }
    QString Count() const { return results.StatusBar1()->currentMessage(); }
    QString PathOf(const QString& name) const { return folder.filePath(name); }

    // A key press in the text area, delivered as the window system would.
    void Type(int key, const QString& text) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(results.RichEdit1(), &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(results.RichEdit1(), &release);
    }

    void ChooseSaveName(const QString& path) {
        EXPECT_CALL(dialogs, SaveFileName(Eq(&results), QString("Text (*.txt)|*.txt"), QString("txt"), _))
            .WillOnce(Return(path));
    }

    StrictMock<MockDialogs> dialogs;
    QTemporaryDir folder;
    TResults results;
};

// ------------------------------------------------------------------ window

TEST_F(ResultsEditor, WindowHasItsCaptionSizeControlsAndMenu) {
    EXPECT_EQ(results.windowTitle(), QString("Results"));
    EXPECT_EQ(results.size(), QSize(652, 563));
    EXPECT_EQ(results.findChild<QPlainTextEdit*>("RichEdit1"), results.RichEdit1());
    EXPECT_EQ(results.findChild<QStatusBar*>("StatusBar1"), results.StatusBar1());

    QPlainTextEdit* edit = results.RichEdit1();
    EXPECT_FALSE(edit->isReadOnly());
    EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(edit->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(edit->font().pointSize(), 9);
    EXPECT_TRUE(QFontInfo(edit->font()).fixedPitch());
    EXPECT_EQ(Text(), QString(""));

    // Four commands directly on the menu bar, no submenus.
    const QList<QAction*> items = results.MainMenu1()->actions();
    ASSERT_EQ(items.size(), 4);
    const char* const names[] = {"Eraseall1", "Savetofile1", "Print1", "Return1"};
    const char* const captions[] = {"&Erase all", "&Save to file", "&Print", "&Return"};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(items[k]->objectName(), QString(names[k]));
        EXPECT_EQ(items[k]->text(), QString(captions[k]));
        EXPECT_EQ(items[k]->menu(), nullptr);
    }
}

// ------------------------------------------------------------- count rule

TEST(ResultsCountText, CountsCharactersWithEachLineBreakAsTwo) {
    EXPECT_EQ(TResults::CountText(""), QString("0"));
    EXPECT_EQ(TResults::CountText("abc"), QString("3"));
    EXPECT_EQ(TResults::CountText("\n"), QString("2"));
    EXPECT_EQ(TResults::CountText("ab\ncd"), QString("6"));
    EXPECT_EQ(TResults::CountText("a\n\nb\n"), QString("8"));
    EXPECT_EQ(TResults::CountText("  Used time : 00:00:03.250"), QString("26"));
}

TEST_F(ResultsEditor, ActivationShowsTheCountOfTheWholeText) {
    results.AppendLine("abc");
    results.AppendLine("");
    // Appending alone does not touch the status bar.
    EXPECT_EQ(Count(), QString(""));
    results.show();
    // "abc", break, break.
    EXPECT_EQ(Count(), QString("7"));
    results.hide();
}

TEST_F(ResultsEditor, AKeyShowsTheCountBeforeItsOwnChange) {
    results.show();
    EXPECT_EQ(Count(), QString("0"));
    Type(Qt::Key_A, "a");
    EXPECT_EQ(Text(), QString("a"));
    EXPECT_EQ(Count(), QString("0"));
    Type(Qt::Key_B, "b");
    EXPECT_EQ(Text(), QString("ab"));
    EXPECT_EQ(Count(), QString("1"));
    Type(Qt::Key_Return, "\r");
    EXPECT_EQ(Count(), QString("2"));
    Type(Qt::Key_C, "c");
    // "ab" and a line break.
    EXPECT_EQ(Count(), QString("4"));
    Type(Qt::Key_Backspace, "");
    EXPECT_EQ(Count(), QString("5"));
    EXPECT_EQ(Text(), QString("ab\n"));
    results.FormActivate();
    EXPECT_EQ(Count(), QString("4"));
    results.hide();
}

TEST_F(ResultsEditor, EraseAllEmptiesTheTextAndShowsZero) {
    results.AppendLine("first report");
    results.AppendLine("second line");
    results.show();
    EXPECT_NE(Count(), QString("0"));
    results.Eraseall1()->trigger();
    EXPECT_EQ(Text(), QString(""));
    EXPECT_EQ(Count(), QString("0"));
    // Erasing an empty editor keeps it empty.
    results.Eraseall1()->trigger();
    EXPECT_EQ(Text(), QString(""));
    EXPECT_EQ(Count(), QString("0"));
    results.hide();
}

// -------------------------------------------------------------- AppendLine

TEST_F(ResultsEditor, AppendedLinesFollowOneAnotherWithoutSeparator) {
    // Two stored reports, the first starting with an empty line.
    results.AppendLine("");
    results.AppendLine(" Zelkat                05/03/2024");
    results.AppendLine("");
    results.AppendLine("second report");
    EXPECT_EQ(Text(), QString("\n Zelkat                05/03/2024\n\nsecond report\n"));
}

TEST_F(ResultsEditor, AnAppendedLineStartsBelowTypedText) {
    results.RichEdit1()->setPlainText("typed");
    results.AppendLine("stored");
    EXPECT_EQ(Text(), QString("typed\nstored\n"));

    results.RichEdit1()->setPlainText("typed\n");
    results.AppendLine("stored");
    EXPECT_EQ(Text(), QString("typed\nstored\n"));
}

TEST_F(ResultsEditor, ItServesAsTheResultsTextOfTheCommands) {
    ResultsText& port = results;
    port.AppendLine("from bulk processing");
    EXPECT_EQ(Text(), QString("from bulk processing\n"));
}

// ------------------------------------------------------------ Save to file

TEST_F(ResultsEditor, SaveWritesTheWholeTextWithCarriageReturnLineFeed) {
    results.AppendLine("line one");
    results.AppendLine("");
    results.AppendLine("line three");
    const QString path = PathOf("results.txt");
    ChooseSaveName(path);
    results.Savetofile1()->trigger();
    EXPECT_EQ(ReadAll(path), QByteArray("line one\r\n\r\nline three\r\n"));
    EXPECT_EQ(Text(), QString("line one\n\nline three\n"));
}

TEST_F(ResultsEditor, SaveReplacesAnExistingFileWithoutAsking) {
    const QString path = PathOf("old.txt");
    WriteAll(path, QByteArray("a much longer text that was there before\r\nand more\r\n"));
    results.RichEdit1()->setPlainText("new\nlast without break");
    ChooseSaveName(path);
    results.Savetofile1()->trigger();
    EXPECT_EQ(ReadAll(path), QByteArray("new\r\nlast without break"));
}

TEST_F(ResultsEditor, SaveProposesTheLastNameAgain) {
    const QString path = PathOf("first.txt");
    ChooseSaveName(path);
    results.Savetofile1()->trigger();
    EXPECT_CALL(dialogs, SaveFileName(Eq(&results), _, _, path)).WillOnce(Return(std::nullopt));
    results.Savetofile1()->trigger();
}

TEST_F(ResultsEditor, CancellingTheSaveDialogWritesNothing) {
    results.AppendLine("kept in memory");
    EXPECT_CALL(dialogs, SaveFileName(_, _, _, _)).WillOnce(Return(std::nullopt));
    results.Savetofile1()->trigger();
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_EQ(Text(), QString("kept in memory\n"));
}

TEST_F(ResultsEditor, AFileThatCannotBeCreatedIsReportedAndTheTextStays) {
    results.AppendLine("report");
    const QString path = PathOf("missing/results.txt");
    ChooseSaveName(path);
    EXPECT_CALL(dialogs, Message(Eq(&results), QString("Cannot write file ") + path, QString("Error"), Icon::Error));
    results.Savetofile1()->trigger();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(Text(), QString("report\n"));
}

TEST_F(ResultsEditor, AWriteThatFailsHalfwayKeepsTheOldFile) {
    const QString path = PathOf("kept.txt");
    const QByteArray old("old content\r\n");
    WriteAll(path, old);
    results.AppendLine(std::string(4096, 'x'));
    ChooseSaveName(path);
    EXPECT_CALL(dialogs, Message(Eq(&results), QString("Cannot write file ") + path, QString("Error"), Icon::Error));

    // Files may grow to 100 bytes only while saving (this holds for every
    // user, the super-user included); the write then fails with EFBIG.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 100;
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    results.Savetofile1()->trigger();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(ReadAll(path), old);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{"kept.txt"});
    EXPECT_EQ(Text().size(), 4097);
}

// ------------------------------------------------------------------ Print

TEST_F(ResultsEditor, PrintHandsTheWholeTextAndTheEditorsFontToThePrinter) {
    results.AppendLine("first");
    results.AppendLine("second");
    QString printed;
    QFont font;
    int calls = 0;
    results.SetPrinter([&](const QString& text, const QFont& used, QString*) {
        ++calls;
        printed = text;
        font = used;
        return true;
    });
    results.Print1()->trigger();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(printed, QString("first\nsecond\n"));
    EXPECT_EQ(font, results.RichEdit1()->font());
}

TEST_F(ResultsEditor, APrintingFailureIsReportedAndChangesNothing) {
    results.AppendLine("report");
    results.SetPrinter([](const QString&, const QFont&, QString* error) {
        *error = "There is no default printer.";
        return false;
    });
    EXPECT_CALL(dialogs, Message(Eq(&results), QString("There is no default printer."), QString("Error"), Icon::Error));
    results.Print1()->trigger();
    EXPECT_EQ(Text(), QString("report\n"));
}

// ----------------------------------------------------------------- Return

TEST_F(ResultsEditor, ReturnAndTheCloseBoxCloseWithOkAndKeepTheText) {
    results.AppendLine("kept");
    results.show();
    results.Return1()->trigger();
    EXPECT_FALSE(results.isVisible());
    EXPECT_EQ(results.result(), QDialog::Accepted);

    results.setResult(QDialog::Rejected);
    results.show();
    results.close();
    EXPECT_FALSE(results.isVisible());
    EXPECT_EQ(results.result(), QDialog::Accepted);
    EXPECT_EQ(Text(), QString("kept\n"));
}

TEST_F(ResultsEditor, EscapeInTheTextDoesNotCloseTheEditor) {
    results.show();
    Type(Qt::Key_Escape, "");
    EXPECT_TRUE(results.isVisible());
    results.hide();
}

}  // namespace
}  // namespace kelvorin
