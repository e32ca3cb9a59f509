// A settings file that is not what the program wrote: binary junk, broken
// sections, values of the wrong kind. Reading it gives the defaults, and the
// program can still store its settings afterwards.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <optional>
#include <string>

#include "QtSettingsStore.h"
#include "StoredOptions.h"

namespace kelvorin {
namespace {

// The file behind the program's own settings (in the tests' temporary
// settings folder).
QString SettingsFileName() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat").fileName();
}

void WriteSettingsFile(const QByteArray& bytes) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(SettingsFileName()).absolutePath()));
    QFile file(SettingsFileName());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// The bytes of a string literal that may hold NUL characters.
template <qsizetype N>
QByteArray Bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

class SettingsFile : public ::testing::Test {
protected:
    void TearDown() override { QFile::remove(SettingsFileName()); }
};

TEST_F(SettingsFile, JunkGivesTheDefaultsAndTheNextSettingsAreStored) {
    const QByteArray junks[] = {
        Bytes("\x00\xff\xfe\x01\x89PNG\r\n\x1a\n"),
        Bytes("[Option\nTrack=\xff\xfe\nObserved=yes\n[MainSetup]\nTop=@Variant(\x00\x00\x7f)\n==\n"),
        Bytes("[Option]\nTrack=abc\nInputData=99999999999\nExpected=1.0\nObserved=\n[GridSetup]\nHeight=-\n"),
    };
    for (const QByteArray& junk : junks) {
        SCOPED_TRACE(junk.toStdString());
        WriteSettingsFile(junk);
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
}

TEST_F(SettingsFile, OptionsOutsideTheirRangeAreClampedAndOtherTextIsTheDefault) {
    WriteSettingsFile(
        "[Option]\nTrack=7\nInputData=-5\nObserved=0\nExpected=2\nColumn=x\nDetails=-1\nCountPos=0.5\n");
    const QtSettingsStore store;
    const AnalysisOptions options = ReadStoredOptions(store);
    EXPECT_EQ(options.Track, 4);
    EXPECT_EQ(options.InputData, -1);
    EXPECT_FALSE(options.Observed);
    EXPECT_TRUE(options.Expected);   // every non-zero integer is true
    EXPECT_FALSE(options.Column);    // not a number: the default
    EXPECT_TRUE(options.Details);
    EXPECT_TRUE(options.CountPos);   // not a whole number: the default
}

}  // namespace
}  // namespace kelvorin
