// Help > Contents and F1 in the main window and the options dialog, the help
// windows closing with it.
#include <QCheckBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTextBrowser>
#include <memory>

#include "HelpViewer.h"
#include "MainWindowTestSupport.h"
#include "QtSettingsStore.h"

// The help files are resources of the shell library.
static void InitHelpResources() { Q_INIT_RESOURCE(help); }

namespace kelvorin {
namespace {

using ::testing::HasSubstr;
const QString kMainFile = "zelkat.chm";

std::string Title(const HelpViewer& viewer) { return viewer.Window()->Browser()->documentTitle().toStdString(); }
std::string Text(const HelpViewer& viewer) { return viewer.Window()->Browser()->toPlainText().toStdString(); }
QString PageName(const HelpViewer& viewer) { return viewer.Window()->Page().fileName(); }
bool Open(const HelpViewer& viewer) { return viewer.Window() != nullptr && viewer.Window()->isVisible(); }

void PressF1(QWidget* target) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

// F1 with ITEM highlighted in the menu or menu bar holding it.
void PressF1On(QAction* item) {
    for (QObject* owner : item->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(owner); menu != nullptr && menu->menuAction() != item) {
            menu->setActiveAction(item);
            return PressF1(menu);
        }
        if (auto* bar = qobject_cast<QMenuBar*>(owner)) {
            bar->setActiveAction(item);
            return PressF1(bar);
        }
    }
    ADD_FAILURE() << "no menu holds " << item->objectName().toStdString();
}

// The two viewers registered as the program registers them; the strict
// dialog service fails a test on any message box.
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
    TCTable& Start() {
        program = std::make_unique<mainwindowtest::Program>(settings);
        program->CTable.show();
        return program->CTable;
    }

    ::testing::StrictMock<mainwindowtest::MockDialogs> dialogs;
    HtmlHelpViewer html;
    WinHelpViewer winHelp;
    MemorySettingsStore settings;
    std::unique_ptr<mainwindowtest::Program> program;
};

// Help > Contents opens the contents page; F1 on a highlighted item opens
// the topic of its context, in a menu with nothing highlighted that of the
// item that opened it; an item without a context opens nothing. A missing
// context is told in the help window only.
TEST_F(Help, ContentsAndF1InTheMenusOpenTheMainHelpFile) {
    TCTable& window = Start();
    window.Item("Contents1")->trigger();
    ASSERT_TRUE(Open(html));
    EXPECT_EQ(PageName(html), QString("contents.html"));
    const std::tuple<const char*, bool, const char*> cases[] = {
        {"Newtable1", true, "Table menu"}, {"Save1", true, "Save"}, {"Bulkprocessing1", false, "Bulk processing"},
        {"Options1", false, "Options"},    {"About1", false, nullptr}};
    for (const auto& [name, inItsMenu, word] : cases) {
        SCOPED_TRACE(name);
        QAction* item = window.Item(name);
        CloseHelpWindows();
        if (inItsMenu) item->menu()->setActiveAction(nullptr);
        inItsMenu ? PressF1(item->menu()) : PressF1On(item);
        ASSERT_EQ(Open(html), word != nullptr);
        EXPECT_THAT(word ? Title(html) : "", HasSubstr(word ? word : ""));
    }
    EXPECT_EQ(winHelp.Window(), nullptr);
    EXPECT_TRUE(ShowHelpContext(kMainFile, 999));
    EXPECT_THAT(Text(html), HasSubstr("999"));
}

// F1 in the options dialog opens its topic in its own file; so does its Help
// button while the dialog is open modally, leaving the main file's window as
// it was. Closing the main window closes every help window.
TEST_F(Help, TheOptionsDialogsHelpGoesToItsOwnFile) {
    TCTable& window = Start();
    TOptions& options = program->Options;
    PressF1(options.CheckBox(3));
    ASSERT_TRUE(Open(winHelp));
    EXPECT_THAT(Title(winHelp), HasSubstr("Options dialog"));
    CloseHelpWindows();
    window.Contents1Click();
    const QUrl mainPage = html.Window()->Page();
    mainwindowtest::ModalDriver modals;
    bool openWithTheDialog = false;
    modals.When(&options, [&] {
        options.Button3()->click();
        openWithTheDialog = Open(winHelp) && winHelp.Window()->parentWidget() == &options;
    });
    window.Item("Options1")->trigger();
    EXPECT_TRUE(openWithTheDialog);
    EXPECT_EQ(PageName(winHelp), QString("options.html"));
    EXPECT_EQ(html.Window()->Page(), mainPage);
    EXPECT_TRUE(Open(winHelp));
    window.close();
    EXPECT_FALSE(Open(html) || Open(winHelp));
}

}  // namespace
}  // namespace kelvorin
