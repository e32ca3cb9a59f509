// Help: the viewer chosen by the file's extension, Help > Contents and F1 in
// the main window and the options dialog, the help windows closing with it.
#include <QCheckBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
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

// Help > Contents opens context 12; F1 on a highlighted item opens the topic
// of its context, in a menu with nothing highlighted that of the item that
// opened it; items without a context, nor one around them, open nothing.
// The contexts of the items disabled at start lead to their topics too. A
// missing context or file is told in the help window only; a file is taken
// by its extension alone.
TEST_F(Help, ContentsAndF1InTheMenusOpenTheMainHelpFile) {
    TCTable& window = Start();
    window.Item("Contents1")->trigger();
    ASSERT_TRUE(Open(html));
    EXPECT_EQ(PageName(html), QString("contents.html"));
    const std::tuple<const char*, bool, const char*> cases[] = {
        {"Newtable1", true, "Table menu"}, {"New1", false, "New"},       {"Read1", false, "Read"},
        {"fromnewfile1", false, "from new file"}, {"Save1", true, "Save"}, {"tonewfile1", false, "to new file"},
        {"Bulkprocessing1", false, "Bulk processing"}, {"Exit2", false, "Exit"}, {"Options1", false, "Options"},
        {"Store1", false, "Store"},        {"Edit1", false, "Edit"},     {"About1", false, nullptr},
        {"Contents1", false, nullptr}};
    for (const auto& [name, inItsMenu, word] : cases) {
        SCOPED_TRACE(name);
        QAction* item = window.Item(name);
        CloseHelpWindows();
        if (inItsMenu) item->menu()->setActiveAction(nullptr);
        inItsMenu ? PressF1(item->menu()) : PressF1On(item);
        ASSERT_EQ(Open(html), word != nullptr);
        EXPECT_THAT(word ? Title(html) : "", HasSubstr(word ? word : ""));
        EXPECT_GT(word ? Text(html).size() : 101, 100u) << "a topic with hardly any text";
    }
    for (const auto& [context, word] : {std::pair(82, "from same file"), std::pair(112, "to same file")}) {
        ASSERT_TRUE(ShowHelpContext(kMainFile, context));
        EXPECT_THAT(Title(html), HasSubstr(word));
    }
    EXPECT_EQ(winHelp.Window(), nullptr);
    for (const auto& [file, context] : {std::pair(kMainFile, 999), std::pair(QString("missing.CHM"), 12)}) {
        EXPECT_TRUE(ShowHelpContext(file, context));
        EXPECT_THAT(Text(html), HasSubstr(file == kMainFile ? "999" : "missing.CHM"));
    }
    EXPECT_FALSE(ShowHelpContext("zelkat.chm.txt", 12));
}

// F1 anywhere in the options dialog opens its topic in its own file; so
// does its Help button while the dialog is open modally, leaving the main
// file's window as it was. Closing or ending the main window closes every
// help window.
TEST_F(Help, TheOptionsDialogsHelpGoesToItsOwnFile) {
    TCTable& window = Start();
    TOptions& options = program->Options;
    QWidget* const targets[] = {options.CheckBox(3), options.TrackBar1(), &options};
    for (QWidget* target : targets) {
        CloseHelpWindows();
        PressF1(target);
        ASSERT_TRUE(Open(winHelp));
        EXPECT_THAT(Title(winHelp), HasSubstr("Options dialog"));
    }
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

    window.Contents1Click();
    ASSERT_TRUE(Open(html));
    program.reset();
    EXPECT_FALSE(Open(html));
}

}  // namespace
}  // namespace kelvorin
