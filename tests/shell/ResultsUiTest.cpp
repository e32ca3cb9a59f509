// The stored-results editor: Save to file, files never lost or half-written.
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "MainWindowTestSupport.h"
#include "engine/FakePorts.h"

namespace kelvorin {
namespace {

using ::testing::Return;
using Icon = DialogService::Icon;

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class ResultsEditor : public ::testing::Test {
protected:
    void SetUp() override { SetDialogService(&dialogs); }
    void TearDown() override { SetDialogService(nullptr); }

    QString Text() const { return results.RichEdit1()->toPlainText(); }
    // Save to file, the dialog answering PATH. The file is replaced, so the
    // dialog asks before it takes an existing one.
    void SaveTo(const std::optional<QString>& path, const QString& proposed = "") {
        EXPECT_CALL(dialogs, SaveFileName(&results, QString("Text (*.txt)|*.txt"), QString("txt"), proposed, true))
            .WillOnce(Return(path));
        results.Savetofile1()->trigger();
    }
    void WriteFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    void ExpectCannotWrite(const QString& path) {
        EXPECT_CALL(dialogs, Message(&results, "Cannot write file " + path, QString("Error"), Icon::Error));
    }

    ::testing::StrictMock<mainwindowtest::MockDialogs> dialogs;
    QTemporaryDir folder;
    TResults results;
};

// Save writes the whole text with CR LF, replacing a file; a
// cancelled dialog writes nothing. A file that cannot be created, and a write
// that fails halfway (files limited to 100 bytes, which holds for the
// super-user too), are reported; the text stays, the old file is as it was,
// no temporary file is left.
TEST_F(ResultsEditor, ASaveThatFailsKeepsTheTextAndTheOldFile) {
    const QString path = folder.filePath("kept.txt");
    WriteFile(path, "a much longer text that was there before\r\n");
    results.RichEdit1()->setPlainText("line one\n\nlast");
    SaveTo(path);
    const QByteArray old = "line one\r\n\r\nlast";
    EXPECT_EQ(ReadAll(path), old);
    results.AppendLine(std::string(4096, 'x'));
    const QString text = Text();
    SaveTo(std::nullopt, path);
    const QString missing = folder.filePath("missing/results.txt");
    ExpectCannotWrite(missing);
    SaveTo(missing, path);
    EXPECT_FALSE(QFile::exists(missing));

    ExpectCannotWrite(path);
    fakes::WithFileSizeLimit(100, [&] { SaveTo(path, missing); });
    EXPECT_EQ(ReadAll(path), old);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{"kept.txt"});
    EXPECT_EQ(Text(), text);
}

// Save to a device (a null device made in the test's folder, where devices
// can be made): the text goes to the device, which stays a device rather
// than being replaced by a plain file.
TEST_F(ResultsEditor, ASaveToADeviceLeavesTheDeviceInPlace) {
    const QString device = folder.filePath("null");
    const std::string name = device.toStdString();
    if (std::system(("mknod '" + name + "' c 1 3 2>/dev/null && : >'" + name + "'").c_str()) != 0)
        GTEST_SKIP() << "no device can be made or opened here";
    results.RichEdit1()->setPlainText("line one");
    SaveTo(device);
    EXPECT_TRUE(std::filesystem::is_character_file(device.toStdString()));
    EXPECT_FALSE(results.RichEdit1()->document()->isModified());
}

// The text counts as unsaved once it is stored, appended or typed, until a
// save that writes it: a cancelled or failed save leaves it unsaved. An edit
// undone back to the saved text is no change; an empty text, erased or
// typed away, holds nothing to save.
TEST_F(ResultsEditor, KnowsWhetherItsTextHasChangedSinceItWasSaved) {
    const QString path = folder.filePath("results.txt");
    const QString missing = folder.filePath("missing/results.txt");
    auto type = [this](Qt::Key key, const QString& text) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(results.RichEdit1(), &press);
    };
    EXPECT_FALSE(results.HasUnsavedText());
    results.AppendLine("first report");
    EXPECT_TRUE(results.HasUnsavedText());
    SaveTo(std::nullopt);
    EXPECT_TRUE(results.HasUnsavedText());
    ExpectCannotWrite(missing);
    SaveTo(missing);
    EXPECT_TRUE(results.HasUnsavedText());
    SaveTo(path, missing);
    EXPECT_FALSE(results.HasUnsavedText());
    EXPECT_EQ(ReadAll(path), QByteArray("first report\r\n"));

    results.RichEdit1()->moveCursor(QTextCursor::End);
    type(Qt::Key_X, "x");
    EXPECT_EQ(Text(), QString("first report\nx"));
    EXPECT_TRUE(results.HasUnsavedText());
    results.RichEdit1()->undo();
    EXPECT_EQ(Text(), QString("first report\n"));
    EXPECT_FALSE(results.HasUnsavedText());
    results.AppendLine("second report");
    EXPECT_TRUE(results.HasUnsavedText());

    results.Eraseall1()->trigger();
    EXPECT_FALSE(results.HasUnsavedText());
    type(Qt::Key_Y, "y");
    EXPECT_TRUE(results.HasUnsavedText());
    type(Qt::Key_Backspace, "");
    EXPECT_EQ(Text(), QString(""));
    EXPECT_FALSE(results.HasUnsavedText());
}

// What is saved, printed and counted is the text as it stands: a no-break
// space stays one (not a blank), a character beyond 16 bits counts once,
// a line break twice (CR LF), a line separator typed with Shift+Enter is a
// line break.
TEST_F(ResultsEditor, SavesPrintsAndCountsTheTextAsItStands) {
    const QString smiley = QString::fromUcs4(U"\U0001F600");
    results.RichEdit1()->setPlainText(QString("a") + QChar(0x00A0) + "b\n\n" + smiley + " c");
    results.RichEdit1()->moveCursor(QTextCursor::End);
    results.RichEdit1()->insertPlainText(QString(QChar::LineSeparator) + "d");
    const QString path = folder.filePath("results.txt");
    SaveTo(path);
    EXPECT_EQ(ReadAll(path), QByteArray("a\xC2\xA0" "b\r\n\r\n\xF0\x9F\x98\x80 c\r\nd"));
    results.FormActivate();
    EXPECT_EQ(results.StatusBar1()->currentMessage(), QString("13"));
    QString printed;
    results.SetPrinter([&](const QString& text, const QFont&, QString*) { return printed = text, true; });
    results.Print1()->trigger();
    EXPECT_EQ(printed, QString("a") + QChar(0x00A0) + "b\n\n" + smiley + " c\nd");
}

// The count shown, taken from the document's sizes until a character
// that counts otherwise has been added, agrees with a count of the whole
// text through every kind of change: typing, pasting pairs of surrogates
// and line separators, removing them (also half a pair), storing lines,
// undoing, erasing all.
TEST_F(ResultsEditor, TheCountAgreesWithTheWholeTextThroughEveryChange) {
    const QString smiley = QString::fromUcs4(U"\U0001F600");
    const QStringList pieces{"a", "report line", "\n", QString(QChar::LineSeparator), smiley,
                             QString(QChar(0x00A0)), "x\ny"};
    QPlainTextEdit* editor = results.RichEdit1();
    std::mt19937 random(20261209);
    auto below = [&random](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    int withoutPairs = 0;  // counts of a text without a surrogate pair
    for (int step = 0; step < 400; ++step) {
        QTextCursor cursor(editor->document());
        const int length = editor->document()->characterCount() - 1;
        switch (below(8)) {
            case 0:
            case 1:
            case 2:
                cursor.setPosition(below(length + 1));
                cursor.insertText(pieces[below(static_cast<int>(pieces.size()))]);
                break;
            case 3:
            case 4: {
                const int from = below(length + 1);
                cursor.setPosition(from);
                cursor.setPosition(std::min(length, from + below(4)), QTextCursor::KeepAnchor);
                cursor.removeSelectedText();
                break;
            }
            case 5: results.AppendLine(below(2) == 0 ? "stored" : smiley.toStdString()); break;
            case 6: editor->undo(); break;
            default:
                if (below(10) == 0) results.Eraseall1()->trigger();
                break;
        }
        results.FormActivate();
        const QString whole = TResults::CountText(results.Text());
        ASSERT_EQ(results.StatusBar1()->currentMessage(), whole) << "step " << step << ": " << results.Text().toStdString();
        if (!results.Text().contains(smiley[0]) && !results.Text().contains(smiley[1])) ++withoutPairs;
    }
    EXPECT_GT(withoutPairs, 20);

    // From an empty text: a line separator is a line break, a character
    // beyond 16 bits one character.
    results.Eraseall1()->trigger();
    editor->insertPlainText("a");
    results.FormActivate();
    EXPECT_EQ(results.StatusBar1()->currentMessage(), QString("1"));
    editor->insertPlainText(QString(QChar::LineSeparator) + smiley);
    results.FormActivate();
    EXPECT_EQ(results.StatusBar1()->currentMessage(), QString("4"));
}

}  // namespace
}  // namespace kelvorin
