// The main of the widget tests: an offscreen QApplication whose per-user
// settings live in a fresh temporary folder, so no test touches the real
// user's settings, set up as the program sets up its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>

#include "ApplicationSetup.h"

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir settingsDir;
    if (!settingsDir.isValid()) return 2;
    const QByteArray path = settingsDir.path().toLocal8Bit();
    setenv("XDG_CONFIG_HOME", path.constData(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    QApplication app(argc, argv);
    kelvorin::SetUpApplication();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
