// The desktop program's set-up once its QApplication exists: the number
// format of the C library, whatever the user's locale, and no display name
// added to the windows' captions.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <clocale>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>

#include "ApplicationSetup.h"
#include "Format.h"
#include "TextConversions.h"

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace kelvorin {
namespace {

// Sets the whole C locale as QApplication does from the environment (LC_ALL
// or LANG), and restores the locale the test started with on leaving.
class UserLocale : public ::testing::Test {
protected:
    void SetUp() override { saved = std::setlocale(LC_ALL, nullptr); }
    void TearDown() override { std::setlocale(LC_ALL, saved.c_str()); }
    // The first of NAMES that the system has, or nullptr.
    static const char* Take(std::initializer_list<const char*> names) {
        for (const char* name : names)
            if (std::setlocale(LC_ALL, name) != nullptr) return name;
        return nullptr;
    }
    std::string saved;
};

// A locale other than "C" that every Debian system has: the set-up puts
// the number format back to "C" and leaves the rest of the locale alone.
TEST_F(UserLocale, TheSetUpPutsTheNumberFormatBackToCAndLeavesTheRest) {
    const char* name = Take({"C.UTF-8", "C.utf8"});
    ASSERT_NE(name, nullptr) << "the system has no C.UTF-8 locale";
    SetUpApplication();
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), name);
}

// Under a locale with a decimal comma the reports' numbers are written with
// a point, a typed weight with a point is read and one with a comma is not.
TEST_F(UserLocale, UnderADecimalCommaLocaleReportsAndWeightsUseThePoint) {
    const char* name = Take({"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "fr_FR",
                             "nl_NL.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8", "ru_RU.UTF-8"});
    if (name == nullptr) GTEST_SKIP() << "the system has no locale with a decimal comma";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",") << name;
    SetUpApplication();
    EXPECT_EQ(Format("%7.4f|%g", 0.25, 1.5), " 0.2500|1.5");
    EXPECT_EQ(ParseFiniteDouble("0.25"), 0.25);
    EXPECT_EQ(ParseFiniteDouble("2e-3"), 0.002);
    EXPECT_EQ(ParseFiniteDouble("0,25"), std::nullopt);
}

// The display name follows the application name as long as none is set; a
// display name set would be appended to every window's caption.
TEST(ApplicationSetup, SetsNoDisplayName) {
    SetUpApplication();
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    QCoreApplication::setApplicationName("Another name");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QString("Another name"));
    SetUpApplication();
}

}  // namespace
}  // namespace kelvorin
