// The main window as the user meets it: its stored placement, the Table and
// Results commands reached through it, what it does while a long exact
// calculation runs, and its help.
#include <QCheckBox>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QTimer>
#include <QWindow>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

#include "HelpViewer.h"
#include "MainWindowTestSupport.h"
#include "QtSettingsStore.h"

// The help files are resources of the shell library.
static void InitHelpResources() { Q_INIT_RESOURCE(help); }

namespace kelvorin::mainwindowtest {
namespace {

using ::testing::_;
using ::testing::HasSubstr;
using ::testing::Return;

const QString kDataFilter = "Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*";
const QString kNoData = "No data avaiable";
const QString kAbort = "Abort calculation ?";
const QString kSaveResults = "Save the stored results before closing?";
using Answer = DialogService::Answer;

// Tables in the form of a data file: the descriptive report's worked example
// and a 2 x 2 table, with the observed blocks of their reports.
const QByteArray kTable2x3 = "10 20 30\n5 15 20\n";
const QByteArray kTable2x2 = "1 2\n3 4\n";
const QStringList kObserved2x3 = {"Observed Numbers.", "    10    20    30  |     60", "     5    15    20  |     40",
                                  "--------------------+-------", "    15    35    50  |    100", ""};
const QStringList kObserved2x2 = {"Observed Numbers.", "     1     2  |      3", "     3     4  |      7",
                                  "--------------+-------", "     4     6  |     10", ""};
// About ninety million sample points: runs until broken off.
const QByteArray kLongTable = "1 3 10 6\n2 3 10 7\n1 6 14 12\n0 1 9 11\n";
const QStringList kObservedLong = {"Observed Numbers.", "     1     3    10     6  |     20"};

// Where BLOCK stands as consecutive lines of LINES (-1: nowhere).
qsizetype IndexOfBlock(const QStringList& lines, const QStringList& block) {
    return lines.join('\n').indexOf(block.join('\n'));
}
qsizetype CountStartingWith(const QStringList& lines, const QString& start) {
    return std::count_if(lines.begin(), lines.end(), [&](const QString& line) { return line.startsWith(start); });
}
// The lines of a text whose every line ends with a line break.
QStringList LinesOf(QString text) {
    text.remove('\r');
    if (text.endsWith('\n')) text.chop(1);
    return text.isEmpty() ? QStringList() : text.split('\n');
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        // The long table must run until it is broken off: the enumeration,
        // not the network algorithm, which would settle it in a moment.
        setenv("KELVORIN_NETWORK_FROM", "never", 1);
        SetDialogService(&dialogs);
    }
    void TearDown() override {
        progress.reset();
        program.reset();
        EXPECT_TRUE(modals.Done()) << "a modal window that a step waited for was never shown";
        SetDialogService(nullptr);
    }

    // Creates the six windows as the program does and shows the main window.
    void Start() {
        progress.reset();
        program = std::make_unique<Program>(settings);
        program->CTable.show();
        QApplication::processEvents();
        progress = std::make_unique<ProgressDriver>(program->CTable);
    }
    TCTable& Window() { return program->CTable; }
    AnalysisState& State() { return Window().Engine().State(); }
    QStringList Report() { return Window().Memo1()->toPlainText().split('\n'); }
    QString Status() { return Window().StatusBar1()->currentMessage(); }
    QStringList EditorLines() { return LinesOf(program->Results.RichEdit1()->toPlainText()); }
    QProgressBar* ProgressBar() { return Window().StatusBar1()->findChild<QProgressBar*>("ProgressBar"); }
    QAction* Item(const char* name) { return Window().Item(name); }
    bool Enabled(const char* name) { return Item(name)->isEnabled(); }
    // The status bar once the item NAME is highlighted.
    QString Hint(const char* name) {
        Window().StatusBar1()->showMessage("previous");
        Item(name)->showStatusText(Window().menuBar());
        return Status();
    }

    // Table > New with the table TEXT typed into the entry grid, after
    // FIRST has been done while the grid is open.
    void TypeTable(const QByteArray& text, const std::function<void()>& first = {}) {
        modals.When(&program->InputGrid, [this, text, first] {
            if (first) first();
            const QList<QByteArray> rows = text.trimmed().split('\n');
            TextGrid& grid = program->InputGrid.Grid();
            grid.SetRowCount(static_cast<int>(rows.size()));
            grid.SetColCount(static_cast<int>(rows[0].split(' ').size()));
            for (int i = 0; i < rows.size(); ++i) {
                const QList<QByteArray> cells = rows[i].split(' ');
                for (int j = 0; j < cells.size(); ++j) grid.SetCell(j, i, cells[j].toStdString());
            }
            program->InputGrid.Return1Click();
        });
        progress->StartRun();
        Window().New1Click();
        EXPECT_TRUE(modals.Done());
    }
    QString WriteFile(const QString& name, const QByteArray& bytes) {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return file.fileName();
    }
    // Table > Read > from new file, the open dialog answering ANSWER.
    void ReadFromNewFile(const std::optional<QString>& answer) {
        EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(answer));
        progress->StartRun();
        Window().fromnewfile1Click();
    }

    // The question about unsaved stored results at the close, answered
    // ANSWER.
    void ExpectSaveResultsQuestion(Answer answer) {
        EXPECT_CALL(dialogs, YesNoCancel(&Window(), kSaveResults, QString("Confirm"))).WillOnce(Return(answer));
    }
    // The results editor's save dialog, answering ANSWER.
    void ExpectResultsSaveDialog(const std::optional<QString>& answer) {
        EXPECT_CALL(dialogs, SaveFileName(&program->Results, QString("Text (*.txt)|*.txt"), QString("txt"), _, true))
            .WillOnce(Return(answer));
    }
    QStringList FileLines(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? LinesOf(QString::fromUtf8(file.readAll())) : QStringList{"<missing>"};
    }

    ::testing::StrictMock<MockDialogs> dialogs;
    MemorySettingsStore settings;
    QTemporaryDir folder;
    ModalDriver modals;
    std::unique_ptr<Program> program;
    std::unique_ptr<ProgressDriver> progress;
};

// Without stored values the design placement applies and the grid's is
// derived from it. A stored window value applies only above 0, a grid value
// only from 1 on; text that is no number, or a value that is no text, counts
// as not stored. Only the close stores, both placements once, in order.
TEST_F(MainWindow, PlacementIsReadAtStartAndStoredOnceAtClose) {
    struct Case {
        std::vector<const char*> Main, Grid;  // Top, Left, Height, Width; nullptr: not text
        QRect Window;
        Placement ExpectedGrid;  // -1: derived from the window
    };
    const Case cases[] = {
        {{}, {}, {280, 201, 559, 361}, {}},
        {{"150", "320", "400", "620"}, {"10", "20", "300", "500"}, {320, 150, 620, 400}, {10, 20, 300, 500}},
        {{"150", "0", "400", "620"}, {}, {280, 150, 620, 400}, {}},
        {{"-5", "-300", "0", "-1"}, {}, {280, 201, 559, 361}, {}},
        {{}, {"0", "77", "abc", "12x"}, {280, 201, 559, 361}, {-1, 77, -1, -1}},
        {{nullptr, "300"}, {"", "", nullptr, ""}, {300, 201, 559, 361}, {}},
    };
    const std::string names[] = {"Top", "Left", "Height", "Width"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Window.x());
        settings.Clear();
        for (const auto& [section, values] : {std::pair("MainSetup", c.Main), std::pair("GridSetup", c.Grid)})
            for (std::size_t k = 0; k < values.size(); ++k)
                values[k] ? settings.WriteText(section, names[k], values[k]) : settings.SetNonText(section, names[k]);
        Start();
        EXPECT_EQ(QRect(Window().pos(), Window().size()), c.Window);
        const Placement want = c.ExpectedGrid;
        const Placement derived = {Window().y() + 55, Window().x() + 8,
                                   Window().height() - Window().menuBar()->height() - 30, Window().width() - 20};
        EXPECT_EQ(Window().Commands().GridPlacement(),
                  (Placement{want.Top < 0 ? derived.Top : want.Top, want.Left < 0 ? derived.Left : want.Left,
                             want.Height < 0 ? derived.Height : want.Height,
                             want.Width < 0 ? derived.Width : want.Width}));
    }
    settings.Clear();
    TypeTable(kTable2x3);
    EXPECT_TRUE(settings.Writes().empty());
    const Placement grid = Window().Commands().GridPlacement();
    Window().move(312, 147);
    Window().resize(600, 400);
    Item("Exit2")->trigger();
    EXPECT_FALSE(Window().isVisible());
    std::vector<MemorySettingsStore::Write> expected;
    for (const int value : {147, 312, 400, 600, grid.Top, grid.Left, grid.Height, grid.Width})
        expected.push_back({expected.size() < 4 ? "MainSetup" : "GridSetup", names[expected.size() % 4],
                            std::to_string(value)});
    EXPECT_EQ(settings.Writes(), expected);
}

// Whether at least half of RECT lies on one screen.
bool MostlyOnAScreen(const QRect& rect) {
    const long long whole = static_cast<long long>(rect.width()) * rect.height();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect on = rect.intersected(screen->geometry());
        if (!on.isEmpty() && 2LL * on.width() * on.height() >= whole) return true;
    }
    return false;
}

// Stored values that would put the window off every screen, overflow where
// the grid's place is derived from them, or give a window larger than the
// screen: the window opens mostly on a screen at a size it can show, the grid's place is derived without
// overflow, and the close stores values that open the window in the same
// place again. A grid stored off every screen is derived from the window.
TEST_F(MainWindow, StoredPlacementsOffTheScreensOrOfUnusableSizeAreNotUsed) {
    struct Case {
        std::vector<const char*> Main, Grid;  // Top, Left, Height, Width; "": not stored
    };
    const Case cases[] = {
        {{"3000", "5000"}, {}},
        {{"2147483647"}, {}},
        {{"", "2147483647"}, {}},
        {{"2147483647", "2147483647", "2147483647", "2147483647"}, {}},
        {{"10", "10", "100000", "100000"}, {}},
        {{"150", "320", "400", "620"}, {"3000", "5000", "300", "500"}},
    };
    const std::string names[] = {"Top", "Left", "Height", "Width"};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.Main) + " " + ::testing::PrintToString(c.Grid));
        settings.Clear();
        for (const auto& [section, values] : {std::pair("MainSetup", c.Main), std::pair("GridSetup", c.Grid)})
            for (std::size_t k = 0; k < values.size(); ++k) settings.WriteText(section, names[k], values[k]);
        Start();
        const QRect window(Window().pos(), Window().size());
        EXPECT_TRUE(MostlyOnAScreen(window)) << window.x() << ',' << window.y();
        const QSize minimum = Window().minimumSizeHint();
        const QRect available = Window().screen()->availableGeometry();
        EXPECT_GE(window.width(), minimum.width());
        EXPECT_GE(window.height(), minimum.height());
        EXPECT_LE(window.width(), std::max(available.width(), minimum.width()));
        EXPECT_LE(window.height(), std::max(available.height(), minimum.height()));
        const Placement grid = Window().Commands().GridPlacement();
        EXPECT_TRUE(MostlyOnAScreen(QRect(grid.Left, grid.Top, std::max(grid.Width, 1), std::max(grid.Height, 1))))
            << grid.Left << ',' << grid.Top;

        settings.Clear();
        Item("Exit2")->trigger();
        const int written[4] = {settings.ReadInteger("MainSetup", "Top", -1),
                                settings.ReadInteger("MainSetup", "Left", -1),
                                settings.ReadInteger("MainSetup", "Height", -1),
                                settings.ReadInteger("MainSetup", "Width", -1)};
        EXPECT_EQ(QRect(written[1], written[0], written[3], written[2]), window);
        Start();
        EXPECT_EQ(QRect(Window().pos(), Window().size()), window);
    }
}

// The options dialog, taller than the main window, opens beside it, moved
// only as far as it takes to lie on the screen: with the main window low on
// the screen its buttons at the foot would be out of reach. (Near the top
// of the screen it is not moved.)
TEST_F(MainWindow, TheOptionsDialogOpensWithinTheScreen) {
    for (const char* top : {"", "500", "20"}) {
        SCOPED_TRACE(top);
        settings.Clear();
        if (*top != '\0') settings.WriteText("MainSetup", "Top", top);
        Start();
        QRect shown;
        QRect available;
        modals.When(&program->Options, [&] {
            shown = program->Options.frameGeometry();
            available = program->Options.screen()->availableGeometry();
        });
        Window().Item("Options1")->trigger();
        ASSERT_TRUE(modals.Done());
        ASSERT_LE(shown.height(), available.height());
        EXPECT_TRUE(available.contains(shown)) << shown.top() << " " << shown.bottom();
        EXPECT_EQ(shown.left(), Window().x() + 50);
        EXPECT_EQ(shown.top(),
                  std::max(available.top(), std::min(Window().y(), available.bottom() + 1 - shown.height())));
    }
}

// The worked example typed into the grid: banner, observed block, 521
// sample points; Save and Results, off at start, on afterwards. Store moves the report to
// the editor without showing it; a second report replaces the first in the
// pane and follows it directly in the editor; an empty pane stores nothing.
TEST_F(MainWindow, NewAnalysesTheTypedTableAndStoreMovesItToTheEditor) {
    Start();
    EXPECT_FALSE(Enabled("Save1") || Enabled("Results1") || Enabled("fromsamefile1") || Enabled("tosamefile1"));
    TypeTable(kTable2x3);
    const QStringList first = Report();
    ASSERT_GE(first.size(), 10);
    EXPECT_EQ(first[0], QString(" "));
    EXPECT_TRUE(first[1].startsWith("Zelkat" + QString(16, ' '))) << first[1].toStdString();
    EXPECT_EQ(first.mid(2, kObserved2x3.size()), kObserved2x3);
    EXPECT_TRUE(first.contains("Number of sample points = 521"));
    EXPECT_EQ(Status(), QString("Number of sample points = 521"));
    EXPECT_TRUE(first[first.size() - 2].startsWith("  Used time : ")) << first[first.size() - 2].toStdString();
    EXPECT_TRUE(Enabled("Save1") && Enabled("Results1") && Enabled("Newtable1") && Enabled("Options1"));
    EXPECT_FALSE(Enabled("fromsamefile1") || Enabled("tosamefile1"));

    Item("Store1")->trigger();
    EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
    EXPECT_FALSE(program->Results.isVisible());
    Item("Store1")->trigger();
    TypeTable(kTable2x2);
    const QStringList second = Report();
    EXPECT_EQ(second.mid(2, kObserved2x2.size()), kObserved2x2);
    EXPECT_EQ(CountStartingWith(second, "Zelkat"), 1);
    Item("Store1")->trigger();
    EXPECT_EQ(EditorLines(), first + second);
}

// A row of zeros is refused with its message; a 1 x 1 table gives no report
// and no message. Neither leaves a menu disabled.
TEST_F(MainWindow, TablesThatCannotBeAnalysedLeaveThePaneEmptyAndTheMenusOn) {
    Start();
    EXPECT_CALL(dialogs, Message(_, QString("All zeros in row 2"), QString("Error"), _));
    for (const QByteArray& table : {QByteArray("1 2\n0 0\n3 4"), QByteArray("5")}) {
        TypeTable(table);
        EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
        EXPECT_TRUE(Enabled("Newtable1") && Enabled("Options1") && Enabled("Results1"));
        EXPECT_FALSE(State().Running);
    }
}

// A disabled item can be highlighted like any other, so its hint is seen:
// before any file was read, Read > "from same file" tells why it is off.
TEST_F(MainWindow, ADisabledMenuItemShowsItsHintWhenThePointerIsOnIt) {
    Start();
    ASSERT_FALSE(Enabled("fromsamefile1"));
    QMenu* table = Item("Newtable1")->menu();
    QMenu* read = Item("Read1")->menu();
    Window().menuBar()->setActiveAction(Item("Newtable1"));
    table->setActiveAction(Item("Read1"));
    read->popup(table->mapToGlobal(table->actionGeometry(Item("Read1")).topRight()));
    QApplication::processEvents();
    Window().StatusBar1()->showMessage("previous");
    const QPoint on = read->actionGeometry(Item("fromsamefile1")).center();
    QMouseEvent move(QEvent::MouseMove, QPointF(on), read->mapToGlobal(QPointF(on)), Qt::NoButton, Qt::NoButton, {});
    QApplication::sendEvent(read, &move);
    QApplication::processEvents();
    EXPECT_EQ(read->activeAction(), Item("fromsamefile1"));
    EXPECT_EQ(Status(), QString("You have not yet read data"));
    read->close();
    table->close();
}

// A ragged table is a data error: its message, no run, the report stays.
// Reading walks through every table of a file, its name in the "*1" hint,
// then gives "No data avaiable" in the pane and the status bar and turns
// "from same file" and Save off.
TEST_F(MainWindow, ReadsEveryTableOfAFileThenReportsNoDataAndRefusesARaggedOne) {
    Start();
    TypeTable(kTable2x3);
    const QStringList before = Report();
    const QString ragged = WriteFile("ragged.dat", "1 2 3\n4 5\n\n");
    EXPECT_CALL(dialogs, ErrorAbort(_, "Data error reading file " + ragged));
    ReadFromNewFile(ragged);
    EXPECT_EQ(Report(), before);

    const QString path = WriteFile("two.dat", kTable2x3 + "\n" + kTable2x2);
    ReadFromNewFile(path);
    EXPECT_EQ(Hint("fromsamefile1"), "Read table data from " + path);
    for (const QStringList& observed : {kObserved2x3, kObserved2x2}) {
        EXPECT_EQ(Report().mid(2, observed.size()), observed);
        EXPECT_TRUE(Enabled("fromsamefile1") && Enabled("Save1"));
        Item("fromsamefile1")->trigger();
    }
    EXPECT_EQ(Report(), QStringList{kNoData});
    EXPECT_EQ(Status(), kNoData);
    EXPECT_FALSE(Enabled("fromsamefile1") || Enabled("Save1"));
}

// Closing the window during bulk processing breaks the run off and stops
// the bulk processing; the window closes once the run is off the stack,
// storing its placement once and releasing the table.
TEST_F(MainWindow, ClosingDuringBulkProcessingClosesOnceItHasStopped) {
    Start();
    bool visibleRightAfterClose = false;
    progress->At([&] {
        Window().close();
        visibleRightAfterClose = Window().isVisible();
    });
    const QString data = WriteFile("long.dat", kLongTable + "\n" + kTable2x3);
    EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(data));
    const QString result = folder.filePath("r.txt");
    EXPECT_CALL(dialogs, SaveFileName(_, QString("Text (*.txt)|*.txt"), QString("txt"), _, _)).WillOnce(Return(result));
    progress->StartRun();
    Item("Bulkprocessing1")->trigger();
    EXPECT_TRUE(progress->Done());
    QFile file(result);
    const QStringList lines = file.open(QIODevice::ReadOnly) ? LinesOf(QString::fromUtf8(file.readAll())) : QStringList();
    EXPECT_TRUE(visibleRightAfterClose) << "the window closed while the run was still on the stack";
    EXPECT_TRUE(ProcessEventsUntil([this] { return !Window().isVisible(); }));
    EXPECT_EQ(settings.Writes().size(), 8u);
    EXPECT_FALSE(State().Table.Exists());
    EXPECT_EQ(CountStartingWith(lines, " Calculations interrupted at sample point nr "), 1);
    EXPECT_GE(IndexOfBlock(lines, kObservedLong), 0);
    EXPECT_LT(IndexOfBlock(lines, kObserved2x3), 0) << "the next table was run after the close";
}

// A close that reaches the main window while a command waits in one of its
// windows for the user (as the close of every window at the end of a
// session does when it comes to the main window first) is refused and not
// kept: the table then accepted in the entry grid is analysed and the
// window stays open with its report; a run in whose pumping the editor was
// opened is not broken off by it and the window stays open after the run.
TEST_F(MainWindow, ACloseRefusedWhileACommandsWindowIsOpenIsNotKept) {
    Start();
    bool visibleInGrid = false;
    TypeTable(kTable2x3, [&] {
        Window().close();
        visibleInGrid = Window().isVisible();
    });
    EXPECT_TRUE(visibleInGrid);
    QApplication::processEvents();
    EXPECT_TRUE(Window().isVisible()) << "the refused close ended the program after the analysis";
    EXPECT_EQ(Report().mid(2, kObserved2x3.size()), kObserved2x3);

    bool runningAfterClose = false;
    progress->At([&] {
        modals.When(&program->Results, [&] {
            Window().close();
            runningAfterClose = State().Running && !State().Abandoned;
        });
        Item("Edit1")->trigger();
    });
    progress->At([this] { Window().Engine().BreakOff(); });
    TypeTable(kLongTable);
    EXPECT_TRUE(progress->Done());
    EXPECT_TRUE(runningAfterClose) << "the refused close broke the run off";
    QApplication::processEvents();
    EXPECT_TRUE(Window().isVisible()) << "the refused close ended the program after the run";
    EXPECT_TRUE(settings.Writes().empty());
}

// Stored results not saved since they were stored are asked about first
// at the close, however the window is closed (Exit, its close box, the end
// of the session). Cancel leaves everything as it was: the window open,
// nothing stored, the table and the data file kept. No closes, and the
// window goes as it always does.
TEST_F(MainWindow, UnsavedStoredResultsAreAskedAboutFirstAndCancelKeepsEverything) {
    Start();
    const QString data = WriteFile("two.dat", kTable2x3 + "\n" + kTable2x2);
    ReadFromNewFile(data);
    Item("Store1")->trigger();
    settings.Clear();
    // Exit, the close box, and the close of every window with which the
    // application quits (at the end of the session too).
    const std::function<void()> closings[] = {
        [this] { Item("Exit2")->trigger(); },
        [this] { Window().windowHandle()->close(); },
        [] { QApplication::closeAllWindows(); },
    };
    for (const auto& close : closings) {
        ExpectSaveResultsQuestion(Answer::Cancel);
        close();
        EXPECT_TRUE(Window().isVisible());
    }
    EXPECT_TRUE(settings.Writes().empty());
    EXPECT_TRUE(State().DataFile.IsOpen());
    progress->StartRun();
    Item("fromsamefile1")->trigger();
    EXPECT_EQ(Report().mid(2, kObserved2x2.size()), kObserved2x2);

    ExpectSaveResultsQuestion(Answer::No);
    Item("Exit2")->trigger();
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(settings.Writes().size(), 8u);
    EXPECT_FALSE(State().DataFile.IsOpen());
}

// Yes saves the stored results through the editor's Save to file before the
// window closes. A save dialog cancelled, or a file that cannot be written,
// keeps the window open, stores nothing, and the next close asks again.
// Results saved, from the editor or at the close, are not asked about; an
// editor empty, or emptied by Erase all, is not either.
TEST_F(MainWindow, YesSavesTheStoredResultsAndOnlyASaveThatHappenedCloses) {
    Start();
    TypeTable(kTable2x3);
    Item("Exit2")->trigger();
    EXPECT_FALSE(Window().isVisible()) << "closed at once: nothing was stored";

    Start();
    TypeTable(kTable2x3);
    Item("Store1")->trigger();
    program->Results.Eraseall1()->trigger();
    Item("Exit2")->trigger();
    EXPECT_FALSE(Window().isVisible()) << "closed at once: the stored results were erased";

    Start();
    TypeTable(kTable2x3);
    Item("Store1")->trigger();
    settings.Clear();
    ExpectSaveResultsQuestion(Answer::Yes);
    ExpectResultsSaveDialog(std::nullopt);
    Item("Exit2")->trigger();
    EXPECT_TRUE(Window().isVisible());
    const QString missing = folder.filePath("missing/results.txt");
    ExpectSaveResultsQuestion(Answer::Yes);
    ExpectResultsSaveDialog(missing);
    EXPECT_CALL(dialogs, Message(&program->Results, "Cannot write file " + missing, QString("Error"),
                                 DialogService::Icon::Error));
    Window().close();
    EXPECT_TRUE(Window().isVisible());
    EXPECT_TRUE(settings.Writes().empty());

    const QString path = folder.filePath("results.txt");
    ExpectSaveResultsQuestion(Answer::Yes);
    ExpectResultsSaveDialog(path);
    Item("Exit2")->trigger();
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(settings.Writes().size(), 8u);
    EXPECT_EQ(FileLines(path), EditorLines());
    EXPECT_GE(IndexOfBlock(FileLines(path), kObserved2x3), 0);

    Start();
    TypeTable(kTable2x2);
    Item("Store1")->trigger();
    ExpectResultsSaveDialog(path);
    program->Results.Savetofile1()->trigger();
    Item("Exit2")->trigger();
    EXPECT_FALSE(Window().isVisible()) << "closed at once: the stored results were saved";
    EXPECT_EQ(FileLines(path), EditorLines());
}

// A close during a run asks before it breaks anything off: Cancel lets the
// run go on, and so does Yes with the save dialog cancelled. Yes with a file
// chosen breaks the run off and saves to it once it has unwound, with the
// rest of the report Bulk processing adds to the stored results; the window
// then closes without asking again.
TEST_F(MainWindow, AskingAtACloseDuringARunComesBeforeTheRunIsBrokenOff) {
    Start();
    TypeTable(kTable2x2);
    Item("Store1")->trigger();
    const QString data = WriteFile("long.dat", kLongTable + "\n" + kTable2x3);
    const QString path = folder.filePath("results.txt");
    bool runningAfterCancel = false;
    bool runningAfterSaveCancelled = false;
    bool visibleAfterYes = false;
    progress->At([&] {
        ExpectSaveResultsQuestion(Answer::Cancel);
        Window().close();
        runningAfterCancel = Window().isVisible() && State().Running;
    });
    progress->At([&] {
        ExpectSaveResultsQuestion(Answer::Yes);
        ExpectResultsSaveDialog(std::nullopt);
        Window().close();
        runningAfterSaveCancelled = Window().isVisible() && State().Running && !State().Abandoned;
    });
    progress->At([&] {
        ExpectSaveResultsQuestion(Answer::Yes);
        ExpectResultsSaveDialog(path);
        Window().close();
        visibleAfterYes = Window().isVisible();
    });
    {
        ::testing::InSequence order;
        EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(data));
        EXPECT_CALL(dialogs, SaveFileName(_, QString("Text (*.txt)|*.txt"), QString("txt"), _, true))
            .WillOnce(Return(std::nullopt));
    }
    settings.Clear();
    progress->StartRun();
    Item("Bulkprocessing1")->trigger();
    EXPECT_TRUE(progress->Done());
    EXPECT_TRUE(runningAfterCancel) << "Cancel broke the run off or closed the window";
    EXPECT_TRUE(runningAfterSaveCancelled) << "the save dialog cancelled, the run was broken off all the same";
    EXPECT_TRUE(visibleAfterYes) << "the window closed while the run was still on the stack";
    EXPECT_TRUE(ProcessEventsUntil([this] { return !Window().isVisible(); }));
    EXPECT_EQ(settings.Writes().size(), 8u);
    const QStringList saved = FileLines(path);
    EXPECT_EQ(saved, EditorLines());
    EXPECT_EQ(CountStartingWith(saved, " Calculations interrupted at sample point nr "), 1);
    EXPECT_GE(IndexOfBlock(saved, kObservedLong), 0);
    EXPECT_LT(IndexOfBlock(saved, kObserved2x3), 0) << "the next table was run after the close";
}

// Only the save dialogs whose file is replaced ask before they take an
// existing file: Save's and Bulk processing's result file. The details file
// is appended to, and its dialog does not ask, though it is the same dialog
// as Bulk processing's: neither before Bulk processing nor during it.
TEST_F(MainWindow, OnlyTheDialogsOfFilesThatAreReplacedAskBeforeTakingAnExistingFile) {
    Start();
    AnalysisOptions options;
    options.Details = true;
    program->Options.SetCurrent(options);
    const QString text = "Text (*.txt)|*.txt";
    const QString details = folder.filePath("details.txt");
    const QString bulkData = WriteFile("bulk.dat", kTable2x2);
    const QString result = folder.filePath("result.txt");

    EXPECT_CALL(dialogs, SaveFileName(_, text, QString("txt"), _, false)).WillOnce(Return(details));
    ReadFromNewFile(WriteFile("table.dat", kTable2x3));
    EXPECT_EQ(Report().mid(2, kObserved2x3.size()), kObserved2x3);
    EXPECT_CALL(dialogs, SaveFileName(_, QString("Data file (*.dat)|*.dat"), QString("dat"), _, true))
        .WillOnce(Return(folder.filePath("saved.dat")));
    Item("tonewfile1")->trigger();
    EXPECT_TRUE(QFile::exists(folder.filePath("saved.dat")));
    {
        ::testing::InSequence order;
        EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(bulkData));
        EXPECT_CALL(dialogs, SaveFileName(_, text, QString("txt"), _, true)).WillOnce(Return(result));
        EXPECT_CALL(dialogs, SaveFileName(_, text, QString("txt"), _, false)).WillOnce(Return(details));
    }
    progress->StartRun();
    Item("Bulkprocessing1")->trigger();
    QFile trace(details);
    EXPECT_TRUE(trace.open(QIODevice::ReadOnly) && trace.readAll().count("Observed numbers.") == 2);
}

// The results editor refuses to replace the data file the main window is
// reading, which reads on as before; once New has closed that file, the
// editor saves to it like to any other.
TEST_F(MainWindow, TheResultsEditorDoesNotReplaceTheDataFileBeingRead) {
    Start();
    const QByteArray tables = kTable2x3 + "\n" + kTable2x2;
    const QString data = WriteFile("two.dat", tables);
    ReadFromNewFile(data);
    Item("Store1")->trigger();
    TResults* results = &program->Results;
    auto saveFromEditor = [&] { modals.When(results, [results] { results->Savetofile1()->trigger(); }); };
    EXPECT_CALL(dialogs, SaveFileName(results, QString("Text (*.txt)|*.txt"), QString("txt"), _, true))
        .Times(2)
        .WillRepeatedly(Return(data));
    EXPECT_CALL(dialogs, Message(results, QString("The data file being read cannot be written"), QString("Error"),
                                 DialogService::Icon::Error));
    saveFromEditor();
    Item("Edit1")->trigger();
    EXPECT_TRUE(modals.Done());
    QFile file(data);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), tables);
    file.close();
    progress->StartRun();
    Item("fromsamefile1")->trigger();
    EXPECT_EQ(Report().mid(2, kObserved2x2.size()), kObserved2x2);

    TypeTable(kTable2x2);
    saveFromEditor();
    Item("Edit1")->trigger();
    EXPECT_TRUE(modals.Done());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(LinesOf(QString::fromUtf8(file.readAll())), EditorLines());
}

// After a first run (which turns Results on), a run has Table and Options
// off, Save and Results on, the progress bar and "N  Click to break" shown.
// Store appends the lines written so far and Edit shows them meanwhile. Each "No" appends a sample point;
// "Yes" stops the run with the interruption lines and no exact test blocks.
// A click after the run asks nothing.
TEST_F(MainWindow, ALongRunCanBeStoredAndBrokenOff) {
    Start();
    AnalysisOptions options;
    options.ExaCStest = true;
    program->Options.SetCurrent(options);
    TypeTable(kTable2x2);
    Item("Store1")->trigger();
    const QStringList first = EditorLines();
    QString statusAtDisplay;
    bool barShown = false;
    QStringList shown;
    progress->At([&] {
        statusAtDisplay = Status();
        barShown = ProgressBar()->isVisible();
        EXPECT_FALSE(Enabled("Newtable1") || Enabled("Options1"));
        EXPECT_TRUE(Enabled("Save1") && Enabled("Results1"));
        Item("Store1")->trigger();
        ClickStatusBar(Window());
    });
    progress->At([&] {
        modals.When(&program->Results, [&] { shown = EditorLines(); });
        Item("Edit1")->trigger();
        ClickStatusBar(Window());
    });
    progress->At([this] { ClickStatusBar(Window()); });
    EXPECT_CALL(dialogs, Question(_, kAbort, _)).WillOnce(Return(false)).WillOnce(Return(false)).WillOnce(Return(true));
    TypeTable(kLongTable);
    EXPECT_TRUE(progress->Done());
    EXPECT_EQ(statusAtDisplay, QString("10000  Click to break"));
    EXPECT_TRUE(barShown);
    EXPECT_FALSE(ProgressBar()->isVisible());

    const QStringList stored = EditorLines();
    EXPECT_EQ(shown, stored);
    EXPECT_EQ(stored.mid(0, first.size()), first);
    EXPECT_EQ(stored.mid(first.size() + 2, kObservedLong.size()), kObservedLong);
    // Each point is its heading and the four rows of the table visited.
    const QStringList lines = Report();
    ASSERT_EQ(lines.size(), 18) << "the report ends with the interruption lines";
    EXPECT_TRUE(lines[0].startsWith("Sample point no 10000 at ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[5].startsWith("Sample point no 20000 at ")) << lines[5].toStdString();
    EXPECT_EQ(lines[10], QString(" Calculations interrupted at sample point nr 30000"));
    EXPECT_TRUE(lines[15].startsWith(" Sum of probabilities ")) << lines[15].toStdString();
    EXPECT_TRUE(lines[16].startsWith("  Used time : ")) << lines[16].toStdString();
    EXPECT_EQ(Status(), lines[10]);
    EXPECT_TRUE(Enabled("Newtable1") && Enabled("Options1"));
    ClickStatusBar(Window());
}

// Before a network has accounted for any sample point (its total unknown,
// or its graph still being formed, which takes minutes on large tables) the
// progress bar shows that the run is busy; once points are accounted for,
// their share; other texts and the end of the run hide it.
TEST_F(MainWindow, TheProgressBarIsBusyUntilSamplePointsAreAccountedFor) {
    Start();
    State().NetworkFrom = AnalysisState{}.NetworkFrom;
    AnalysisOptions options;
    options.ExaCStest = true;
    program->Options.SetCurrent(options);
    int busy = 0, measured = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!State().Running || State().Abandoned || !Status().endsWith("Click to break")) return;
        QProgressBar* bar = ProgressBar();
        EXPECT_TRUE(bar->isVisible()) << Status().toStdString();
        if (State().SamplePointCount == 0) {
            ++busy;
            EXPECT_EQ(bar->maximum(), 0) << "an indeterminate bar";
        } else {
            ++measured;
            EXPECT_GT(bar->maximum(), 0) << "a bar of the share";
            Window().Engine().BreakOff();
        }
    });
    watch.start(0);
    TypeTable("1 2 2 1 1 0 1\n2 0 0 2 3 0 0\n0 1 1 1 2 7 3\n1 1 2 0 0 0 1\n0 1 1 1 1 0 0\n");
    watch.stop();
    EXPECT_GT(busy, 0);
    EXPECT_EQ(measured, 1);
    EXPECT_TRUE(State().Abandoned);
    EXPECT_FALSE(ProgressBar()->isVisible());
}

std::string Title(const HelpViewer& viewer) { return viewer.Window()->Browser()->documentTitle().toStdString(); }
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

// The two viewers registered as the program registers them.
class MainWindowHelp : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        InitHelpResources();
        RegisterHelpViewer(html);
        RegisterHelpViewer(winHelp);
    }
    HtmlHelpViewer html;
    WinHelpViewer winHelp;
};

// Help > Contents opens the contents page; F1 on a highlighted item, enabled
// or not, opens the topic of its context, in a menu with nothing highlighted
// that of the item that opened it; an item without a context opens nothing.
TEST_F(MainWindowHelp, ContentsAndF1InTheMenusOpenTheMainHelpFile) {
    Start();
    TCTable& window = Window();
    window.Item("Contents1")->trigger();
    ASSERT_TRUE(Open(html));
    EXPECT_EQ(PageName(html), QString("contents.html"));
    const std::tuple<const char*, bool, const char*> cases[] = {
        {"Newtable1", true, "Table menu"}, {"Save1", true, "Save"}, {"Bulkprocessing1", false, "Bulk processing"},
        {"Options1", false, "Options"},    {"About1", false, nullptr},
        {"fromsamefile1", false, "Read from same file"}};  // disabled until a file is read
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
}

// F1 in the options dialog opens its topic in its own file; so does its Help
// button while the dialog is open modally, leaving the main file's window as
// it was. Closing the main window closes every help window.
TEST_F(MainWindowHelp, TheOptionsDialogsHelpGoesToItsOwnFile) {
    Start();
    TCTable& window = Window();
    TOptions& options = program->Options;
    PressF1(options.CheckBox(3));
    ASSERT_TRUE(Open(winHelp));
    EXPECT_THAT(Title(winHelp), HasSubstr("Options dialog"));
    CloseHelpWindows();
    window.Contents1Click();
    const QUrl mainPage = html.Window()->Page();
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
}  // namespace kelvorin::mainwindowtest
