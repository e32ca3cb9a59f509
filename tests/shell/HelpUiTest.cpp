// Help and About: the help files shipped with the program (a topic for
// every context number and topic ID, links that lead somewhere), the help
// manager choosing the viewer by the file's extension, the main window's
// Help > Contents and F1 on its menu items, the options dialog's F1 and Help
// button, the help windows closing with the main window, and the About box.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextStream>
#include <memory>
#include <ostream>
#include <vector>

#include "HelpViewer.h"
#include "MainWindowTestSupport.h"
#include "QtSettingsStore.h"

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

// The help files are resources of the shell library.
static void InitHelpResources() { Q_INIT_RESOURCE(help); }

namespace kelvorin {
namespace {

using mainwindowtest::ModalDriver;
using mainwindowtest::MockDialogs;
using mainwindowtest::Program;
using ::testing::StrictMock;

const QString kMainFile = "zelkat.chm";
const QString kOptionsFile = "zelkat.hlp";

// What a help window shows.
QString Title(const HelpViewer& viewer) { return viewer.Window()->Browser()->documentTitle(); }
QString Text(const HelpViewer& viewer) { return viewer.Window()->Browser()->toPlainText(); }
QString PageName(const HelpViewer& viewer) { return viewer.Window()->Page().fileName(); }
bool Open(const HelpViewer& viewer) { return viewer.Window() != nullptr && viewer.Window()->isVisible(); }

// F1 pressed while ITEM is highlighted in the menu (or menu bar) it was
// added to.
void PressF1On(QAction* item) {
    QWidget* holder = nullptr;
    for (QObject* owner : item->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(owner); menu != nullptr && menu->menuAction() != item) {
            menu->setActiveAction(item);
            holder = menu;
        } else if (auto* bar = qobject_cast<QMenuBar*>(owner)) {
            bar->setActiveAction(item);
            holder = bar;
        }
        if (holder != nullptr) break;
    }
    ASSERT_NE(holder, nullptr) << item->objectName().toStdString();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(holder, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(holder, &release);
}

void PressF1On(QWidget* widget) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// The two viewers registered as the program registers them; no message box
// may come up (a missing topic is reported in the help window itself).
class Help : public ::testing::Test {
protected:
    void SetUp() override {
        InitHelpResources();
        SetDialogService(&dialogs);
        RegisterHelpViewer(html);
        RegisterHelpViewer(winHelp);
    }
    void TearDown() override {
        program.reset();
        SetDialogService(nullptr);
    }

    // The six windows as at start-up, the main window shown.
    void Start() {
        program = std::make_unique<Program>(settings);
        program->CTable.show();
        QApplication::processEvents();
    }
    TCTable& Window() { return program->CTable; }

    StrictMock<MockDialogs> dialogs;
    HtmlHelpViewer html;
    WinHelpViewer winHelp;
    MemorySettingsStore settings;
    std::unique_ptr<Program> program;
};

// The topic each context number of the main window's menu and Help >
// Contents must lead to, by a word of its title.
struct ContextTopic {
    int Context;
    const char* TitleWord;
};
const ContextTopic kMainContexts[] = {
    {12, "Contents"},          {1100, "Table menu"},   {52, "New"},      {62, "Read"},
    {72, "from new file"},     {82, "from same file"}, {92, "Save"},     {102, "to new file"},
    {112, "to same file"},     {1180, "Bulk processing"}, {132, "Exit"}, {182, "Options"},
    {142, "Store"},            {152, "Edit"},
};

// ------------------------------------------------------------- help files

TEST_F(Help, MainHelpFileHasAPageForEveryContextNumber) {
    for (const ContextTopic& topic : kMainContexts) {
        SCOPED_TRACE(topic.Context);
        ASSERT_TRUE(ShowHelpContext(kMainFile, topic.Context));
        ASSERT_TRUE(Open(html));
        EXPECT_EQ(html.Window()->HelpFile(), kMainFile);
        EXPECT_EQ(html.Window()->Page().scheme(), QString("qrc"));
        EXPECT_TRUE(html.Window()->Page().path().startsWith("/help/zelkat.chm/")) << html.Window()->Page().path().toStdString();
        EXPECT_THAT(Title(html).toStdString(), ::testing::HasSubstr(topic.TitleWord));
        EXPECT_GT(Text(html).size(), 100) << "a topic page with hardly any text";
    }
    // The options dialog's viewer took no part.
    EXPECT_EQ(winHelp.Window(), nullptr);
}

TEST_F(Help, OptionsHelpFileHasTheDialogContextAndTheTopicIdOptions) {
    ASSERT_TRUE(ShowHelpContext(kOptionsFile, 1200));
    ASSERT_TRUE(Open(winHelp));
    EXPECT_EQ(winHelp.Window()->HelpFile(), kOptionsFile);
    EXPECT_THAT(Title(winHelp).toStdString(), ::testing::HasSubstr("Options dialog"));
    EXPECT_GT(Text(winHelp).size(), 100);
    const QUrl dialogPage = winHelp.Window()->Page();

    ASSERT_TRUE(ShowHelpTopic(kOptionsFile, "IDH_Options"));
    EXPECT_TRUE(winHelp.Window()->Page().path().startsWith("/help/zelkat.hlp/"));
    EXPECT_NE(winHelp.Window()->Page(), dialogPage);
    EXPECT_GT(Text(winHelp).size(), 100);
    // The topic explains the choices of the dialog.
    for (const char* word : {"Observed numbers", "Likelihood ratio", "Fisher", "Write details to a file",
                             "Two tailed test", "Row by row", "Column by column"})
        EXPECT_THAT(Text(winHelp).toStdString(), ::testing::HasSubstr(word));
    EXPECT_EQ(html.Window(), nullptr);
}

// Every page named by a map, and every page a link leads to, exists.
TEST_F(Help, MapsAndLinksLeadToExistingPages) {
    for (const QString& file : {kMainFile, kOptionsFile}) {
        const QString folder = ":/help/" + file;
        QFile map(folder + "/map.txt");
        ASSERT_TRUE(map.open(QIODevice::ReadOnly | QIODevice::Text)) << file.toStdString();
        int entries = 0;
        QTextStream lines(&map);
        while (!lines.atEnd()) {
            const QString line = lines.readLine().trimmed();
            if (line.isEmpty() || line.startsWith('#')) continue;
            const QStringList parts = line.split(QRegularExpression("\\s+"));
            ASSERT_EQ(parts.size(), 2) << line.toStdString();
            EXPECT_TRUE(QFile::exists(folder + "/" + parts[1])) << line.toStdString();
            ++entries;
        }
        EXPECT_EQ(entries, file == kMainFile ? 14 : 2);

        const QRegularExpression link("href=\"([^\"#]*)");
        QDirIterator pages(folder, {"*.html"});
        int pageCount = 0;
        while (pages.hasNext()) {
            const QString page = pages.next();
            ++pageCount;
            QFile html(page);
            ASSERT_TRUE(html.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(html.readAll());
            EXPECT_TRUE(text.contains("<title>")) << page.toStdString();
            for (auto match = link.globalMatch(text); match.hasNext();) {
                const QString target = match.next().captured(1);
                if (target.isEmpty()) continue;
                EXPECT_TRUE(QFile::exists(folder + "/" + target)) << page.toStdString() << " -> " << target.toStdString();
            }
        }
        EXPECT_GE(pageCount, entries == 2 ? 2 : 14);
    }
}

// ------------------------------------------------------------ help manager

TEST_F(Help, TheViewerIsChosenByTheExtensionWithoutRegardToCase) {
    EXPECT_TRUE(html.Handles("zelkat.chm"));
    EXPECT_TRUE(html.Handles("ZELKAT.CHM"));
    EXPECT_FALSE(html.Handles("zelkat.hlp"));
    EXPECT_TRUE(winHelp.Handles("Zelkat.Hlp"));
    EXPECT_FALSE(winHelp.Handles("zelkat.chm"));
    EXPECT_FALSE(winHelp.Handles("zelkat.hlp.txt"));

    ASSERT_TRUE(ShowHelpContext("ZELKAT.CHM", 12));
    ASSERT_TRUE(Open(html));
    EXPECT_EQ(winHelp.Window(), nullptr);
    EXPECT_THAT(Title(html).toStdString(), ::testing::HasSubstr("Contents"));

    ASSERT_TRUE(ShowHelpTopic("Zelkat.Hlp", "IDH_Options"));
    ASSERT_TRUE(Open(winHelp));
    EXPECT_EQ(PageName(html), QString("contents.html"));
}

TEST_F(Help, NeitherViewerTakesTheOthersFiles) {
    UnregisterHelpViewer(winHelp);
    EXPECT_FALSE(ShowHelpTopic(kOptionsFile, "IDH_Options"));
    EXPECT_FALSE(ShowHelpContext(kOptionsFile, 1200));
    EXPECT_EQ(html.Window(), nullptr);

    RegisterHelpViewer(winHelp);
    UnregisterHelpViewer(html);
    EXPECT_FALSE(ShowHelpContext(kMainFile, 12));
    EXPECT_EQ(winHelp.Window(), nullptr);
    // A file of neither kind.
    RegisterHelpViewer(html);
    EXPECT_FALSE(ShowHelpContext("zelkat.txt", 12));
    EXPECT_EQ(html.Window(), nullptr);
    EXPECT_EQ(winHelp.Window(), nullptr);
}

TEST_F(Help, HtmlTopicsArePagePathsAndWinHelpTopicsAreTopicIds) {
    ASSERT_TRUE(ShowHelpTopic(kMainFile, "exact.html"));
    EXPECT_EQ(PageName(html), QString("exact.html"));
    ASSERT_TRUE(ShowHelpTopic(kMainFile, "/datafile.html"));
    EXPECT_EQ(PageName(html), QString("datafile.html"));
    // A topic ID means nothing to the HTML viewer.
    ASSERT_TRUE(ShowHelpTopic(kMainFile, "IDH_Options"));
    EXPECT_TRUE(html.Window()->Page().isEmpty());
    EXPECT_THAT(Text(html).toStdString(), ::testing::HasSubstr("IDH_Options"));

    // Topic IDs are compared without regard to case; a page name is no ID.
    ASSERT_TRUE(ShowHelpTopic(kOptionsFile, "idh_options"));
    EXPECT_EQ(PageName(winHelp), QString("options.html"));
    ASSERT_TRUE(ShowHelpTopic(kOptionsFile, "options.html"));
    EXPECT_TRUE(winHelp.Window()->Page().isEmpty());
}

TEST_F(Help, AMissingFileContextOrTopicIsReportedInTheHelpWindowOnly) {
    // The strict dialog service fails the test on any message box.
    ASSERT_TRUE(ShowHelpContext(kMainFile, 999));
    ASSERT_TRUE(Open(html));
    EXPECT_TRUE(html.Window()->Page().isEmpty());
    EXPECT_THAT(Text(html).toStdString(), ::testing::HasSubstr("999"));

    ASSERT_TRUE(ShowHelpContext("missing.chm", 12));
    EXPECT_THAT(Text(html).toStdString(), ::testing::HasSubstr("missing.chm"));

    ASSERT_TRUE(ShowHelpTopic(kOptionsFile, "IDH_Nothing"));
    ASSERT_TRUE(Open(winHelp));
    EXPECT_THAT(Text(winHelp).toStdString(), ::testing::HasSubstr("IDH_Nothing"));

    // The viewer goes on: the next request shows its page.
    ASSERT_TRUE(ShowHelpContext(kMainFile, 12));
    EXPECT_EQ(PageName(html), QString("contents.html"));
}

TEST_F(Help, AHelpFileIsLookedForInTheViewersFolder) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QDir(folder.path()).mkpath("own.chm"));
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(folder.filePath("own.chm/" + name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write("map.txt", "# comment line\n\n  7   first.html\n8 second.html#part\n9 gone.html\n");
    write("first.html", "<html><head><title>First</title></head><body><p>one</p></body></html>");
    write("second.html", "<html><head><title>Second</title></head><body><p id=\"part\">two</p></body></html>");
    html.SetFolder(folder.path());

    ASSERT_TRUE(ShowHelpContext("own.chm", 7));
    EXPECT_EQ(Title(html), QString("First"));
    EXPECT_EQ(html.Window()->Page(), QUrl::fromLocalFile(folder.filePath("own.chm/first.html")));
    ASSERT_TRUE(ShowHelpContext("own.chm", 8));
    EXPECT_EQ(Title(html), QString("Second"));
    EXPECT_EQ(html.Window()->Page().fragment(), QString("part"));
    // A map entry whose page is missing.
    ASSERT_TRUE(ShowHelpContext("own.chm", 9));
    EXPECT_TRUE(html.Window()->Page().isEmpty());
    EXPECT_THAT(Text(html).toStdString(), ::testing::HasSubstr("gone.html"));
    // The program's own file is not in this folder.
    ASSERT_TRUE(ShowHelpContext(kMainFile, 12));
    EXPECT_TRUE(html.Window()->Page().isEmpty());
}

TEST_F(Help, OneWindowPerViewerIsReusedWithItsHistory) {
    ASSERT_TRUE(ShowHelpContext(kMainFile, 12));
    HelpWindow* first = html.Window();
    ASSERT_TRUE(ShowHelpContext(kMainFile, 52));
    EXPECT_EQ(html.Window(), first);
    EXPECT_EQ(PageName(html), QString("new.html"));
    html.Window()->Browser()->backward();
    EXPECT_EQ(PageName(html), QString("contents.html"));

    CloseHelpWindows();
    EXPECT_FALSE(first->isVisible());
    ASSERT_TRUE(ShowHelpContext(kMainFile, 132));
    EXPECT_TRUE(first->isVisible());
}

// ------------------------------------------------------------- main window

TEST_F(Help, ContentsOpensTheMainHelpFileAtContextTwelve) {
    Start();
    Window().Item("Contents1")->trigger();
    ASSERT_TRUE(Open(html));
    EXPECT_EQ(html.Window()->HelpFile(), kMainFile);
    EXPECT_EQ(PageName(html), QString("contents.html"));
    EXPECT_EQ(winHelp.Window(), nullptr);
}

TEST_F(Help, F1OnAHighlightedMenuItemOpensTheTopicOfItsContext) {
    Start();
    struct Case {
        const char* Item;
        const char* TitleWord;
    };
    for (const Case& c : {Case{"New1", "New"}, Case{"Read1", "Read"}, Case{"fromnewfile1", "from new file"},
                          Case{"tonewfile1", "to new file"}, Case{"Bulkprocessing1", "Bulk processing"},
                          Case{"Exit2", "Exit"}, Case{"Store1", "Store"}, Case{"Edit1", "Edit"},
                          Case{"Options1", "Options"}}) {
        SCOPED_TRACE(c.Item);
        QAction* item = Window().Item(c.Item);
        ASSERT_NE(item, nullptr);
        CloseHelpWindows();
        PressF1On(item);
        ASSERT_TRUE(Open(html));
        EXPECT_EQ(html.Window()->HelpFile(), kMainFile);
        EXPECT_THAT(Title(html).toStdString(), ::testing::HasSubstr(c.TitleWord));
    }
    EXPECT_EQ(winHelp.Window(), nullptr);
}

TEST_F(Help, F1InAMenuWithNothingHighlightedYetTakesTheItemThatOpenedIt) {
    Start();
    struct Case {
        const char* Item;
        const char* TitleWord;
    };
    for (const Case& c : {Case{"Newtable1", "Table menu"}, Case{"Read1", "Read"}, Case{"Save1", "Save"}}) {
        SCOPED_TRACE(c.Item);
        QMenu* menu = Window().Item(c.Item)->menu();
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->activeAction(), nullptr);
        CloseHelpWindows();
        PressF1On(static_cast<QWidget*>(menu));
        ASSERT_TRUE(Open(html));
        EXPECT_THAT(Title(html).toStdString(), ::testing::HasSubstr(c.TitleWord));
    }
}

TEST_F(Help, F1OnAnItemWithoutAnyContextOpensNothing) {
    Start();
    // Contents and About have no context, nor has the Help menu itself.
    PressF1On(Window().Item("About1"));
    PressF1On(Window().Item("Contents1"));
    EXPECT_EQ(html.Window(), nullptr);
    EXPECT_EQ(winHelp.Window(), nullptr);
}

TEST_F(Help, AnItemWithoutContextTakesTheNearestEnclosingOne) {
    QMenuBar bar;
    QMenu* outer = bar.addMenu("Outer");
    outer->menuAction()->setProperty("helpContext", 1100);
    QMenu* middle = outer->addMenu("Middle");
    middle->menuAction()->setProperty("helpContext", 0);
    QAction* inner = middle->addAction("Inner");
    inner->setProperty("helpContext", 0);
    QAction* own = middle->addAction("Own");
    own->setProperty("helpContext", 52);
    QMenu* lone = bar.addMenu("Lone");
    lone->menuAction()->setProperty("helpContext", 0);
    QAction* orphan = lone->addAction("Orphan");

    EXPECT_EQ(TCTable::MenuHelpContext(own), 52);
    EXPECT_EQ(TCTable::MenuHelpContext(inner), 1100);
    EXPECT_EQ(TCTable::MenuHelpContext(middle->menuAction()), 1100);
    middle->menuAction()->setProperty("helpContext", 62);
    EXPECT_EQ(TCTable::MenuHelpContext(inner), 62);
    EXPECT_EQ(TCTable::MenuHelpContext(orphan), 0);
    EXPECT_EQ(TCTable::MenuHelpContext(nullptr), 0);
}

// ---------------------------------------------------------- options dialog

TEST_F(Help, F1AnywhereInTheOptionsDialogOpensItsContextInItsOwnFile) {
    Start();
    TOptions& options = program->Options;
    for (QWidget* target : {static_cast<QWidget*>(options.CheckBox(3)), static_cast<QWidget*>(options.TrackBar1()),
                            static_cast<QWidget*>(options.Button2()), static_cast<QWidget*>(&options)}) {
        CloseHelpWindows();
        PressF1On(target);
        ASSERT_TRUE(Open(winHelp)) << target->objectName().toStdString();
        EXPECT_EQ(winHelp.Window()->HelpFile(), kOptionsFile);
        EXPECT_THAT(Title(winHelp).toStdString(), ::testing::HasSubstr("Options dialog"));
    }
    EXPECT_EQ(html.Window(), nullptr);
}

TEST_F(Help, TheOptionsHelpButtonNeverOpensTheMainWindowsFile) {
    Start();
    // With the main window's help already open at its contents.
    Window().Contents1Click();
    ASSERT_TRUE(Open(html));
    const QUrl mainPage = html.Window()->Page();

    program->Options.Button3()->click();
    ASSERT_TRUE(Open(winHelp));
    EXPECT_EQ(winHelp.Window()->HelpFile(), kOptionsFile);
    EXPECT_EQ(PageName(winHelp), QString("options.html"));
    EXPECT_EQ(html.Window()->Page(), mainPage);

    // And without the options dialog's viewer nothing opens at all.
    CloseHelpWindows();
    UnregisterHelpViewer(winHelp);
    program->Options.Button3()->click();
    EXPECT_FALSE(Open(html));
    EXPECT_FALSE(Open(winHelp));
}

TEST_F(Help, TheOptionsHelpCanBeUsedWhileTheDialogIsOpen) {
    Start();
    ModalDriver modals;
    bool opened = false;
    bool underTheDialog = false;
    modals.When(&program->Options, [&] {
        program->Options.Button3()->click();
        opened = Open(winHelp);
        // The modal dialog blocks every window but itself and the windows
        // under it.
        underTheDialog = opened && winHelp.Window()->parentWidget() == &program->Options &&
                         winHelp.Window()->isWindow();
        program->Options.reject();
    });
    Window().Item("Options1")->trigger();
    EXPECT_TRUE(modals.Done());
    EXPECT_TRUE(opened);
    EXPECT_TRUE(underTheDialog);
    // It stays open when the dialog closes, until the program ends.
    EXPECT_TRUE(Open(winHelp));
    Window().close();
    EXPECT_FALSE(Open(winHelp));
}

// ------------------------------------------------------------------- close

TEST_F(Help, ClosingTheMainWindowClosesEveryHelpWindow) {
    Start();
    Window().Contents1Click();
    program->Options.Button3Click();
    ASSERT_TRUE(Open(html));
    ASSERT_TRUE(Open(winHelp));
    Window().close();
    EXPECT_FALSE(Window().isVisible());
    EXPECT_FALSE(Open(html));
    EXPECT_FALSE(Open(winHelp));
}

TEST_F(Help, TheEndOfTheMainWindowClosesEveryHelpWindow) {
    Start();
    Window().Contents1Click();
    program->Options.Button3Click();
    ASSERT_TRUE(Open(html));
    ASSERT_TRUE(Open(winHelp));
    program.reset();
    EXPECT_FALSE(Open(html));
    EXPECT_FALSE(Open(winHelp));
}

// ------------------------------------------------------------------- About

TEST_F(Help, AboutIsCentredOnTheMainWindowWhereverItStands) {
    Start();
    ModalDriver modals;
    for (const QPoint& at : {QPoint(40, 30), QPoint(420, 260), QPoint(150, 500)}) {
        Window().move(at);
        QApplication::processEvents();
        QPoint aboutCentre;
        modals.When(&program->About, [this, &aboutCentre] {
            aboutCentre = program->About.frameGeometry().center();
            program->About.reject();
        });
        Window().Item("About1")->trigger();
        EXPECT_TRUE(modals.Done());
        const QPoint mainCentre = Window().frameGeometry().center();
        EXPECT_LE((aboutCentre - mainCentre).manhattanLength(), 2)
            << "main window at " << at.x() << "," << at.y() << ": About centre " << aboutCentre.x() << ","
            << aboutCentre.y() << ", main centre " << mainCentre.x() << "," << mainCentre.y();
    }
}

TEST_F(Help, AboutShowsTheBannerAndSixOneLineLabelsOnWhite) {
    const QString version = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion("9.8.7");
    TAbout about;
    QCoreApplication::setApplicationVersion(version);

    EXPECT_EQ(about.windowTitle(), QString("About"));
    EXPECT_EQ(about.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(about.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(about.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(about.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(about.findChildren<QPushButton*>().isEmpty());

    ASSERT_NE(about.Image1(), nullptr);
    EXPECT_EQ(about.Image1()->pixmap().size(), QSize(200, 80));

    about.show();
    int previousBottom = about.Image1()->geometry().bottom();
    for (int number = 1; number <= 6; ++number) {
        QLabel* label = about.Label(number);
        ASSERT_NE(label, nullptr) << number;
        EXPECT_FALSE(label->text().trimmed().isEmpty()) << number;
        EXPECT_FALSE(label->text().contains('\n')) << number;
        EXPECT_FALSE(label->wordWrap()) << number;
        EXPECT_TRUE(label->alignment() & Qt::AlignLeft) << number;
        const QRect box(label->mapTo(&about, QPoint(0, 0)), label->size());
        EXPECT_GT(box.top(), previousBottom) << "label " << number << " is not under the one before";
        previousBottom = box.bottom();
    }
    EXPECT_THAT(about.Label(1)->text().toStdString(), ::testing::HasSubstr("9.8.7"));
    EXPECT_TRUE(about.Label(2)->text().contains(QRegularExpression("(19|20)\\d\\d")));
    EXPECT_THAT(about.Label(6)->text().toStdString(), ::testing::ContainsRegex("@example\\.(org|com|net)$"));
    about.close();
}

TEST(AboutBanner, IsA200By80PictureOf256IndexedColours) {
    InitHelpResources();
    const QImage banner(":/about/banner.png");
    ASSERT_FALSE(banner.isNull());
    EXPECT_EQ(banner.size(), QSize(200, 80));
    EXPECT_EQ(banner.format(), QImage::Format_Indexed8);
    EXPECT_LE(banner.colorCount(), 256);
    EXPECT_GT(banner.colorCount(), 16);
}

}  // namespace
}  // namespace kelvorin
