// The platform services: the settings store over QSettings (also over a
// settings file of junk), the message ports over the dialog service and
// the save dialog's question before it takes an existing file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "MockDialogs.h"
#include "QtPorts.h"
#include "QtSettingsStore.h"
#include "StoredOptions.h"

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace kelvorin {
namespace {

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

// The bytes of a string literal that may hold NUL characters.
template <qsizetype N>
QByteArray Bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

// A settings file of junk, broken sections or values of the wrong kind gives
// the defaults, and the next settings are stored over it (the junk is no
// failure to write) as text the next store reads.
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
            EXPECT_TRUE(store.Flush());
        }
        QtSettingsStore reopened;
        EXPECT_EQ(reopened.ReadInteger("MainSetup", "Top", -1), 201);
        EXPECT_EQ(ReadStoredOptions(reopened).Track, 3);
    }
    QFile::remove(path);
}

// A settings file that cannot be written (here a file stands where its
// folder must be) makes Flush fail and name the file; once the way is free
// the same store writes, and what it holds is read back.
TEST(SettingsFile, FlushTellsWhetherTheFileWasWritten) {
    const QString path = QSettings(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat").fileName();
    const QString folder = QFileInfo(path).absolutePath();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile obstacle(folder);
    ASSERT_TRUE(obstacle.open(QIODevice::WriteOnly));
    obstacle.close();
    {
        QtSettingsStore store;
        EXPECT_EQ(store.Where(), path.toStdString());
        store.WriteText("Option", "Track", "3");
        EXPECT_FALSE(store.Flush());
        ASSERT_TRUE(QFile::remove(folder));
        store.WriteText("Option", "Track", "2");
        EXPECT_TRUE(store.Flush());
    }
    QtSettingsStore reopened;
    EXPECT_EQ(ReadStoredOptions(reopened).Track, 2);
    QFile::remove(path);
}

// The message ports pass their texts and captions through the dialog
// service: a message without icon, a question captioned "Confirm", the error
// box.
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
    SetDialogService(nullptr);
}

// The three-way question is the platform's question box with Yes (the
// default), No and Cancel; Escape answers Cancel, as its close box does.
TEST(QuestionBox, AnswersYesNoOrCancelAndEscapeIsCancel) {
    using Answer = DialogService::Answer;
    QtDialogService service;
    const std::pair<QMessageBox::StandardButton, Answer> cases[] = {{QMessageBox::Yes, Answer::Yes},
                                                                    {QMessageBox::No, Answer::No},
                                                                    {QMessageBox::Cancel, Answer::Cancel},
                                                                    {QMessageBox::NoButton, Answer::Cancel}};
    for (const auto& [button, expected] : cases) {
        SCOPED_TRACE(static_cast<int>(button));
        bool shown = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&, button = button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            shown = true;
            EXPECT_EQ(box->icon(), QMessageBox::Question);
            EXPECT_EQ(box->windowTitle(), QString("Confirm"));
            EXPECT_EQ(box->text(), QString("Save?"));
            EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Yes));
            if (button == QMessageBox::NoButton) {
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(box, &escape);
            } else {
                box->button(button)->click();
            }
        });
        poll.start(10);
        EXPECT_EQ(service.YesNoCancel(nullptr, "Save?", "Confirm"), expected);
        EXPECT_TRUE(shown);
    }
}

// Runs SHOW; the file dialog it shows modally is handed to LOOK, then
// cancelled.
void WithFileDialog(const std::function<void(QFileDialog&)>& look, const std::function<void()>& show) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            look(*dialog);
            dialog->reject();
        }
    });
    poll.start(10);
    show();
}

// The standard save dialog asks the platform's question before it takes an
// existing file when the caller replaces the file, and only then; the file
// dialog port passes on what its caller set, asking unless told otherwise.
TEST(FileDialogs, TheSaveDialogAsksBeforeTakingAnExistingFileOnlyWhenTold) {
    QtDialogService service;
    for (const bool confirm : {true, false}) {
        SCOPED_TRACE(confirm);
        std::optional<bool> asks;
        WithFileDialog([&](QFileDialog& dialog) { asks = !dialog.testOption(QFileDialog::DontConfirmOverwrite); }, [&] {
            EXPECT_FALSE(service.SaveFileName(nullptr, "Text (*.txt)|*.txt", "txt", "", confirm).has_value());
        });
        EXPECT_EQ(asks, confirm);
    }

    ::testing::StrictMock<testdialogs::MockDialogs> mock;
    SetDialogService(&mock);
    QtFileDialog port(nullptr, QtFileDialog::Kind::Save, "Text (*.txt)|*.txt", "txt");
    {
        ::testing::InSequence order;
        EXPECT_CALL(mock, SaveFileName(nullptr, QString("Text (*.txt)|*.txt"), QString("txt"), QString(""), true))
            .WillOnce(Return(std::nullopt));
        EXPECT_CALL(mock, SaveFileName(nullptr, QString("Text (*.txt)|*.txt"), QString("txt"), QString(""), false))
            .Times(2)
            .WillRepeatedly(Return(std::nullopt));
        EXPECT_CALL(mock, SaveFileName(nullptr, QString("Text (*.txt)|*.txt"), QString("txt"), QString(""), true))
            .WillOnce(Return(std::nullopt));
    }
    EXPECT_FALSE(port.Execute());
    port.SetConfirmReplace(false);
    EXPECT_FALSE(port.Execute());
    EXPECT_FALSE(port.Execute());
    port.SetConfirmReplace(true);
    EXPECT_FALSE(port.Execute());
    SetDialogService(nullptr);
}

// The file dialogs tell a listed file's type from its name. The platform's
// guess reads a file whose name does not tell it, and a read that never
// returns (/proc/kmsg's, for the superuser) stopped the program for good.
TEST(FileDialogs, ListedFilesAreNotReadToTellTheirType) {
    QTemporaryDir folder;
    const QString path = folder.filePath("notes");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4\n");
    file.close();
    const QFileInfo notes(path);
    if (!QFileIconProvider().type(notes).contains("PDF")) GTEST_SKIP() << "no type is guessed from contents here";
    QtDialogService service;
    for (const bool open : {true, false}) {
        SCOPED_TRACE(open);
        std::optional<QString> type;
        WithFileDialog([&](QFileDialog& dialog) { type = dialog.iconProvider()->type(notes); }, [&] {
            if (open)
                service.OpenFileName(nullptr, "All files (*)|*", "", path);
            else
                service.SaveFileName(nullptr, "All files (*)|*", "", path, true);
        });
        ASSERT_TRUE(type.has_value());
        EXPECT_FALSE(type->contains("PDF")) << type->toStdString();
    }
}

}  // namespace
}  // namespace kelvorin
