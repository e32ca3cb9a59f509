// The main window as the user meets it: menu and hints, the stored placement
// of the window and of the entry grid, the Table and Results commands reached
// through it, and what it does while a long exact calculation runs.
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "MainWindowTestSupport.h"
#include "QtSettingsStore.h"

namespace kelvorin::mainwindowtest {
namespace {

using ::testing::_;
using ::testing::Return;
using Rows = std::vector<std::vector<std::string>>;

const QString kDataFilter = "Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*";
const QString kSaveDataFilter = "Data file (*.dat)|*.dat";
const QString kTextFilter = "Text (*.txt)|*.txt";
const QString kNoData = "No data avaiable";
const QString kAbort = "Abort calculation ?";

// The descriptive report's worked example and two more tables, as a data
// file and as the observed blocks of their reports.
const Rows kTable2x3 = {{"10", "20", "30"}, {"5", "15", "20"}};
const QByteArray kThreeTables = "10 20 30\n5 15 20\n\n1 2\n3 4\n\n7 3 2\n1 5 9\n2 2 8\n";
const QStringList kObserved2x3 = {"Observed Numbers.", "    10    20    30  |     60", "     5    15    20  |     40",
                                  "--------------------+-------", "    15    35    50  |    100", ""};
const QStringList kObserved2x2 = {"Observed Numbers.", "     1     2  |      3", "     3     4  |      7",
                                  "--------------+-------", "     4     6  |     10", ""};
const QStringList kObserved3x3 = {"Observed Numbers.", "     7     3     2  |     12", "     1     5     9  |     15",
                                  "     2     2     8  |     12", "--------------------+-------",
                                  "    10    10    19  |     39", ""};
// Margins all 20: 26796 sample points, two progress displays.
const Rows kTable3x3Margins20 = {{"6", "7", "7"}, {"7", "6", "7"}, {"7", "7", "6"}};
// About ninety million sample points: runs until broken off.
const Rows kLongTable = {{"1", "3", "10", "6"}, {"2", "3", "10", "7"}, {"1", "6", "14", "12"}, {"0", "1", "9", "11"}};
const QStringList kObservedLong = {
    "Observed Numbers.",           "     1     3    10     6  |     20", "     2     3    10     7  |     22",
    "     1     6    14    12  |     33", "     0     1     9    11  |     21", "--------------------------+-------",
    "     4    13    43    36  |     96", ""};

// Whether LINES[FROM..] are the rows, in fields of four, of a table with
// these row and column totals.
bool IsSamplePoint(const QStringList& lines, qsizetype from, const std::vector<int>& rows, const std::vector<int>& cols) {
    std::vector<int> colSums(cols.size(), 0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString line = lines.value(from + static_cast<qsizetype>(i));
        if (line.size() != static_cast<qsizetype>(4 * cols.size())) return false;
        int rowSum = 0;
        for (std::size_t j = 0; j < cols.size(); ++j) {
            const int cell = line.mid(static_cast<qsizetype>(4 * j), 4).trimmed().toInt();
            rowSum += cell;
            colSums[j] += cell;
        }
        if (rowSum != rows[i]) return false;
    }
    return colSums == cols;
}
bool IsLongTablePoint(const QStringList& lines, qsizetype from) {
    return IsSamplePoint(lines, from, {20, 22, 33, 21}, {4, 13, 43, 36});
}
qsizetype IndexOfBlock(const QStringList& lines, const QStringList& block, qsizetype from = 0) {
    for (qsizetype k = from; k + block.size() <= lines.size(); ++k)
        if (lines.mid(k, block.size()) == block) return k;
    return -1;
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
QStringList FileLines(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? LinesOf(QString::fromUtf8(file.readAll())) : QStringList{"<missing>"};
}
// The reports of the three tables of kThreeTables, in their order.
void ExpectTheThreeTablesInOrder(const QStringList& lines) {
    const qsizetype first = IndexOfBlock(lines, kObserved2x3);
    const qsizetype second = IndexOfBlock(lines, kObserved2x2, first + 1);
    EXPECT_GE(first, 0);
    EXPECT_GT(second, first);
    EXPECT_GT(IndexOfBlock(lines, kObserved3x3, second + 1), second);
    EXPECT_EQ(CountStartingWith(lines, "Zelkat" + QString(16, ' ')), 3);
    EXPECT_EQ(CountStartingWith(lines, "Number of sample points = "), 3);
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        // The long table must run until it is broken off: the enumeration,
        // not the network algorithm, which would settle it in a moment.
        setenv("KELVORIN_NETWORK_FROM", "never", 1);
        SetDialogService(&dialogs);
        ASSERT_TRUE(folder.isValid());
    }
    void TearDown() override {
        progress.reset();
        program.reset();
        EXPECT_TRUE(modals.Done()) << "a modal window that a step waited for was never shown";
        SetDialogService(nullptr);
    }

    // Creates the six windows as the program does and shows the main window.
    void Start(SettingsStore& store) {
        progress.reset();
        program.reset();
        program = std::make_unique<Program>(store);
        program->CTable.show();
        QApplication::processEvents();
        progress = std::make_unique<ProgressDriver>(program->CTable);
    }
    void Start() { Start(settings); }

    TCTable& Window() { return program->CTable; }
    AnalysisState& State() { return Window().Engine().State(); }
    QStringList Report() { return Window().Memo1()->toPlainText().split('\n'); }
    QString Status() { return Window().StatusBar1()->currentMessage(); }
    QStringList EditorLines() { return LinesOf(program->Results.RichEdit1()->toPlainText()); }
    QProgressBar* ProgressBar() { return Window().StatusBar1()->findChild<QProgressBar*>("ProgressBar"); }
    QAction* Item(const char* name) { return Window().Item(name); }
    bool Enabled(const char* name) { return Item(name)->isEnabled(); }
    // The status bar after the window received the status tip HINT.
    QString Hint(const QString& hint) {
        Window().StatusBar1()->showMessage("previous");
        QStatusTipEvent tip(hint);
        QApplication::sendEvent(&Window(), &tip);
        return Status();
    }
    // The main window's frame; placing it.
    QRect Frame() { return {Window().pos(), Window().size()}; }
    void Place(const QRect& frame) {
        Window().move(frame.topLeft());
        Window().resize(frame.size());
        QApplication::processEvents();
    }
    // The grid placement derived from the main window as it stands.
    Placement DerivedGrid() {
        return {Window().y() + 55, Window().x() + 8, Window().height() - Window().menuBar()->height() - 30,
                Window().width() - 20};
    }

    void FillAndAccept(const Rows& rows) {
        TextGrid& grid = program->InputGrid.Grid();
        grid.SetRowCount(static_cast<int>(rows.size()));
        grid.SetColCount(static_cast<int>(rows.front().size()));
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (std::size_t j = 0; j < rows[i].size(); ++j)
                grid.SetCell(static_cast<int>(j), static_cast<int>(i), rows[i][j]);
        program->InputGrid.Return1Click();
    }
    // Table > New with ROWS typed into the entry grid.
    void TypeTable(const Rows& rows) {
        modals.When(&program->InputGrid, [this, rows] { FillAndAccept(rows); });
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
    // Bulk processing of the long table and then the three tables into RESULT.
    void BulkWithTheLongTableFirst(const QString& result) {
        const QString data = WriteFile("long.dat", "1 3 10 6\n2 3 10 7\n1 6 14 12\n0 1 9 11\n\n" + kThreeTables);
        EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(data));
        EXPECT_CALL(dialogs, SaveFileName(_, kTextFilter, QString("txt"), _)).WillOnce(Return(result));
        progress->StartRun();
        Item("Bulkprocessing1")->trigger();
        EXPECT_TRUE(progress->Done());
    }

    ::testing::StrictMock<MockDialogs> dialogs;
    MemorySettingsStore settings;
    QTemporaryDir folder;
    ModalDriver modals;
    std::unique_ptr<Program> program;
    std::unique_ptr<ProgressDriver> progress;
};

// Each item's caption, help context, start state and the hint it shows when
// highlighted; and the items of each menu in their order.
TEST_F(MainWindow, MenuItemsHaveTheirCaptionsContextsStatesAndHints) {
    Start();
    struct Row {
        const char* Name;
        QString Caption;
        int Context;
        bool Enabled;
        QString Hint;
    };
    const Row rows[] = {
        {"Newtable1", "&Table", 1100, true, ""},
        {"New1", "New", 52, true, "Type table data"},
        {"Read1", "Read", 62, true, "Read table data from a file"},
        {"fromnewfile1", "from new file", 72, true, "Select the file name"},
        {"fromsamefile1", "from same file", 82, false, "You have not yet read data"},
        {"Save1", "Save", 92, false, ""},
        {"tonewfile1", "to new file", 102, true, "You must specify a file name"},
        {"tosamefile1", "to same file", 112, false, "You have not yet saved data"},
        {"Bulkprocessing1", "Bulk processing", 1180, true, "Read data for several tables"},
        {"Exit2", "E&xit", 132, true, "Finish the program"},
        {"Options1", "&Options", 182, true, "Select test"},
        {"Results1", "&Results", 0, false, ""},
        {"Store1", "Store", 142, true, "Move the output to the editor"},
        {"Edit1", "Edit", 152, true, "Edit/save/print the stored results"},
        {"Help1", QString(23, ' ') + "&Help", 0, true, "Get help"},
        {"Contents1", "Contents", 0, true, "Get help to use the program"},
        {"About1", "About", 0, true, "Program version"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        QAction* item = Item(row.Name);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->text(), row.Caption);
        const QVariant context = item->property("helpContext");
        EXPECT_EQ(context.isValid() ? context.toInt() : -1, row.Context);
        EXPECT_EQ(item->isEnabled(), row.Enabled);
        Window().StatusBar1()->showMessage("previous");
        item->showStatusText(Window().menuBar());
        EXPECT_EQ(Status(), row.Hint);
    }
    auto names = [](const QList<QAction*>& actions) {
        QStringList list;
        for (QAction* action : actions) list << (action->isSeparator() ? "-" : action->objectName());
        return list.join(' ');
    };
    EXPECT_EQ(names(Window().menuBar()->actions()), QString("Newtable1 Options1 Results1 Help1"));
    EXPECT_EQ(names(Item("Newtable1")->menu()->actions()), QString("New1 Read1 Save1 Bulkprocessing1 - Exit2"));
    EXPECT_EQ(names(Item("Read1")->menu()->actions()), QString("fromnewfile1 fromsamefile1"));
    EXPECT_EQ(names(Item("Save1")->menu()->actions()), QString("tonewfile1 tosamefile1"));
    EXPECT_EQ(names(Item("Results1")->menu()->actions()), QString("Store1 Edit1"));
    EXPECT_EQ(names(Item("Help1")->menu()->actions()), QString("Contents1 - About1"));
}

// Only the whole texts "*1" and "*2" are replaced; the part after the first
// bar is shown; an empty hint empties the status bar.
TEST_F(MainWindow, HintsShowThePartAfterTheFirstBarAndReplaceStarOneAndTwo) {
    Start();
    const std::pair<QString, QString> cases[] = {
        {"Type table data", "Type table data"}, {"Short|Long hint", "Long hint"}, {"a|b|c", "b|c"},
        {"before|", ""}, {"", ""}, {"*1", "You have not yet read data"}, {"*2", "You have not yet saved data"},
        {"*1 ", "*1 "}, {"*12", "*12"}, {"x|*1", "*1"}};
    for (const auto& [hint, shown] : cases) EXPECT_EQ(Hint(hint), shown) << hint.toStdString();
}

// ------------------------------------------------------------ placement

// First start: the design placement and the grid derived from it. Nothing
// is stored before the close, which writes both placements once, in order,
// as decimal text.
TEST_F(MainWindow, FirstStartUsesTheDesignPlacementAndTheCloseStoresBoth) {
    Start();
    EXPECT_EQ(Frame(), QRect(280, 201, 559, 361));
    const Placement grid = Window().Commands().GridPlacement();
    EXPECT_EQ(grid, DerivedGrid());
    TypeTable(kTable2x3);
    EXPECT_TRUE(settings.Writes().empty());
    Place({312, 147, 600, 400});
    Item("Exit2")->trigger();
    EXPECT_FALSE(Window().isVisible());
    const std::vector<MemorySettingsStore::Write> expected = {
        {"MainSetup", "Top", "147"}, {"MainSetup", "Left", "312"}, {"MainSetup", "Height", "400"},
        {"MainSetup", "Width", "600"}, {"GridSetup", "Top", std::to_string(grid.Top)},
        {"GridSetup", "Left", std::to_string(grid.Left)}, {"GridSetup", "Height", std::to_string(grid.Height)},
        {"GridSetup", "Width", std::to_string(grid.Width)}};
    EXPECT_EQ(settings.Writes(), expected);
}

// A stored window value applies only above 0, a grid value only from 1 on;
// text that is no number, or a value that is no text, counts as not stored.
// Grid values not applied are derived from the window as it then stands.
TEST_F(MainWindow, StoredPlacementAppliesOnlyWhereItIsAValidValue) {
    struct Case {
        std::vector<const char*> Main, Grid;  // Top, Left, Height, Width; nullptr: not text
        QRect Window;
        Placement ExpectedGrid;  // -1: derived
    };
    const Case cases[] = {
        {{"150", "320", "400", "620"}, {"10", "20", "300", "500"}, {320, 150, 620, 400}, {10, 20, 300, 500}},
        {{"150", "0", "400", "620"}, {}, {280, 150, 620, 400}, {}},
        {{"-5", "-300", "0", "-1"}, {}, {280, 201, 559, 361}, {}},
        {{}, {"0", "77", "abc", "12x"}, {280, 201, 559, 361}, {-1, 77, -1, -1}},
        {{nullptr, "300"}, {"", "", nullptr, ""}, {300, 201, 559, 361}, {}},
    };
    const char* const names[] = {"Top", "Left", "Height", "Width"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Window.x());
        settings.Clear();
        for (std::size_t k = 0; k < c.Main.size(); ++k)
            c.Main[k] ? settings.WriteText("MainSetup", names[k], c.Main[k]) : settings.SetNonText("MainSetup", names[k]);
        for (std::size_t k = 0; k < c.Grid.size(); ++k)
            c.Grid[k] ? settings.WriteText("GridSetup", names[k], c.Grid[k]) : settings.SetNonText("GridSetup", names[k]);
        Start();
        EXPECT_EQ(Frame(), c.Window);
        const Placement derived = DerivedGrid(), want = c.ExpectedGrid;
        EXPECT_EQ(Window().Commands().GridPlacement(),
                  (Placement{want.Top < 0 ? derived.Top : want.Top, want.Left < 0 ? derived.Left : want.Left,
                             want.Height < 0 ? derived.Height : want.Height,
                             want.Width < 0 ? derived.Width : want.Width}));
    }
    // The rest of the start-up happened: the hint handler is in place.
    EXPECT_EQ(Hint("*1"), QString("You have not yet read data"));
}

// New shows the grid at the grid placement; an accepted grid gives its
// placement back, a cancelled one does not; the next start restores the
// window and the grid as the close stored them.
TEST_F(MainWindow, TheGridAndWindowPlacementsCarryOverToTheNextStart) {
    Start();
    const Placement grid = Window().Commands().GridPlacement();
    QRect shownAt;
    modals.When(&program->InputGrid, [&] {
        shownAt = program->InputGrid.frameGeometry();
        program->InputGrid.move(57, 66);
        FillAndAccept(kTable2x3);
    });
    Window().New1Click();
    EXPECT_EQ(shownAt, QRect(grid.Left, grid.Top, grid.Width, grid.Height));
    const Placement taken = Window().Commands().GridPlacement();
    EXPECT_EQ(taken, program->InputGrid.CurrentPlacement());
    EXPECT_EQ(QPoint(taken.Left, taken.Top), QPoint(57, 66));
    modals.When(&program->InputGrid, [this] {
        program->InputGrid.move(90, 95);
        program->InputGrid.reject();
    });
    Window().New1Click();
    EXPECT_EQ(Window().Commands().GridPlacement(), taken);

    Place({310, 170, 620, 420});
    Window().close();
    Start();
    EXPECT_EQ(Frame(), QRect(310, 170, 620, 420));
    EXPECT_EQ(Window().Commands().GridPlacement(), taken);
}

// Options open at the main window's top, 50 pixels right of its left; the
// editor at its top left; About centred on it; wherever it stands.
TEST_F(MainWindow, ModalWindowsOpenWhereTheMainWindowStands) {
    Start();
    TypeTable({{"1", "2"}, {"3", "4"}});
    for (const QPoint& at : {QPoint(300, 220), QPoint(40, 500)}) {
        Window().move(at);
        QApplication::processEvents();
        QPoint options, editor, about;
        modals.When(&program->Options, [&] { options = program->Options.pos(); });
        Item("Options1")->trigger();
        modals.When(&program->Results, [&] { editor = program->Results.pos(); });
        Item("Edit1")->trigger();
        modals.When(&program->About, [&] { about = program->About.frameGeometry().center(); });
        Item("About1")->trigger();
        EXPECT_EQ(options, at + QPoint(50, 0));
        EXPECT_EQ(editor, at);
        EXPECT_LE((about - Window().frameGeometry().center()).manhattanLength(), 2);
    }
}

// ------------------------------------------------------- New and Store

// The worked example typed into the grid: banner, observed block, 521
// sample points; Save and Results on afterwards. Store moves the report to
// the editor without showing it; a second report replaces the first in the
// pane and follows it directly in the editor; an empty pane stores nothing.
TEST_F(MainWindow, NewAnalysesTheTypedTableAndStoreMovesItToTheEditor) {
    Start();
    EXPECT_FALSE(Enabled("Results1"));
    TypeTable(kTable2x3);
    const QStringList first = Report();
    ASSERT_GE(first.size(), 10);
    EXPECT_EQ(first[0], QString(" "));
    EXPECT_TRUE(first[1].startsWith("Zelkat" + QString(16, ' '))) << first[1].toStdString();
    EXPECT_EQ(first.mid(2, kObserved2x3.size()), kObserved2x3);
    EXPECT_TRUE(first.contains("Number of sample points = 521"));
    EXPECT_EQ(Status(), QString("Number of sample points = 521"));
    EXPECT_TRUE(first[first.size() - 2].startsWith("  Used time : ")) << first[first.size() - 2].toStdString();
    EXPECT_EQ(first.last(), QString(""));
    EXPECT_TRUE(Enabled("Save1") && Enabled("Results1") && Enabled("Newtable1") && Enabled("Options1"));
    EXPECT_FALSE(Enabled("fromsamefile1") || Enabled("tosamefile1"));

    Item("Store1")->trigger();
    EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
    EXPECT_FALSE(program->Results.isVisible());
    Item("Store1")->trigger();
    TypeTable(kTable3x3Margins20);
    TypeTable({{"1", "2"}, {"3", "4"}});
    const QStringList second = Report();
    EXPECT_EQ(second.mid(2, kObserved2x2.size()), kObserved2x2);
    EXPECT_EQ(CountStartingWith(second, "Zelkat"), 1);
    Item("Store1")->trigger();
    EXPECT_EQ(EditorLines(), first + second);
}

// A one-row table asks for its proportions; closing the proportions grid
// without Return abandons the run, Return gives the expected numbers.
TEST_F(MainWindow, AOneRowTableAsksForItsProportions) {
    Start();
    AnalysisOptions options;
    options.Expected = options.Row = true;
    program->Options.SetCurrent(options);
    modals.When(&program->InputGrid, [this] { FillAndAccept({{"12", "7", "5"}}); });
    modals.When(&program->ProGrid, [this] { program->ProGrid.close(); });
    Window().New1Click();
    EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
    EXPECT_FALSE(State().Running);
    EXPECT_TRUE(Enabled("Newtable1") && Enabled("Save1"));

    modals.When(&program->InputGrid, [this] { FillAndAccept({{"12", "7", "5"}}); });
    modals.When(&program->ProGrid, [this] {
        TextGrid& weights = program->ProGrid.Grid();
        EXPECT_EQ(weights.RowCount() * weights.ColCount(), 3);
        for (int k = 0; k < 3; ++k) weights.SetCell(k, 0, k < 2 ? "1" : "2");
        program->ProGrid.Return1Click();
    });
    Window().New1Click();
    const QStringList blocks = {"Observed Numbers.", "    12     7     5  |     24", "",
                                "Expected Numbers.", "   6.0   6.0  12.0  |     24", "",
                                "Row percentages.",  "  50.0  29.2  20.8  |  100.0", ""};
    EXPECT_EQ(Report().mid(2, blocks.size()), blocks);
}

// A row of zeros is refused with its message; a 1 x 1 table gives no report
// and no message. Neither leaves a menu disabled.
TEST_F(MainWindow, TablesThatCannotBeAnalysedLeaveThePaneEmptyAndTheMenusOn) {
    Start();
    EXPECT_CALL(dialogs, Message(_, QString("All zeros in row 2"), QString("Error"), _));
    for (const Rows& rows : {Rows{{"1", "2"}, {"0", "0"}, {"3", "4"}}, Rows{{"5"}}}) {
        TypeTable(rows);
        EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
        EXPECT_TRUE(Enabled("Newtable1") && Enabled("Options1") && Enabled("Results1"));
        EXPECT_FALSE(State().Running);
    }
}

// ------------------------------------------------------- Read and Save

// Reading walks through every table of the file, its name in the "*1" hint,
// then gives "No data avaiable" and turns "from same file" and Save off; so
// does a cancelled dialog. Exit closes the data file kept open between reads.
TEST_F(MainWindow, ReadsEveryTableOfAFileThenReportsNoData) {
    Start();
    ReadFromNewFile(std::nullopt);
    EXPECT_EQ(Report(), QStringList{kNoData});
    EXPECT_EQ(Status(), kNoData);
    EXPECT_FALSE(Enabled("Results1") || Enabled("fromsamefile1"));

    const QString path = WriteFile("three.dat", kThreeTables);
    ReadFromNewFile(path);
    EXPECT_EQ(Hint("*1"), "Read table data from " + path);
    for (const QStringList& observed : {kObserved2x3, kObserved2x2, kObserved3x3}) {
        EXPECT_EQ(Report().mid(2, observed.size()), observed);
        EXPECT_TRUE(Enabled("fromsamefile1") && Enabled("Save1"));
        Item("fromsamefile1")->trigger();
    }
    EXPECT_EQ(Report(), QStringList{kNoData});
    EXPECT_FALSE(Enabled("fromsamefile1") || Enabled("Save1"));

    ReadFromNewFile(path);
    const QDir descriptors("/proc/self/fd");
    auto isOpen = [&] {
        for (const QFileInfo& fd : descriptors.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
            if (QFileInfo(fd.symLinkTarget()).canonicalFilePath() == QFileInfo(path).canonicalFilePath()) return true;
        return false;
    };
    if (!descriptors.exists()) return;
    EXPECT_TRUE(isOpen());
    Item("Exit2")->trigger();
    EXPECT_FALSE(isOpen());
}

// A ragged table is a data error: its message, no run, the report stays.
TEST_F(MainWindow, ARaggedTableGivesTheErrorAndKeepsTheReport) {
    Start();
    TypeTable(kTable2x3);
    const QStringList before = Report();
    const QString path = WriteFile("ragged.dat", "1 2 3\n4 5\n\n");
    EXPECT_CALL(dialogs, ErrorAbort(_, "Data error reading file " + path));
    ReadFromNewFile(path);
    EXPECT_EQ(Report(), before);
    EXPECT_TRUE(Enabled("Save1"));
}

// A cancelled "to new file" still turns "to same file" on, which then asks
// for the name; "to same file" appends without a dialog, its name in the
// "*2" hint; both tables read back.
TEST_F(MainWindow, SavesToNewThenSameFileAndReadsBothBack) {
    Start();
    TypeTable(kTable2x3);
    EXPECT_CALL(dialogs, SaveFileName(_, kSaveDataFilter, QString("dat"), _)).WillOnce(Return(std::nullopt));
    Item("tonewfile1")->trigger();
    EXPECT_TRUE(Enabled("tosamefile1"));
    const QString path = folder.filePath("saved.dat");
    EXPECT_CALL(dialogs, SaveFileName(_, kSaveDataFilter, QString("dat"), _)).WillOnce(Return(path));
    Item("tosamefile1")->trigger();
    Item("tosamefile1")->trigger();
    EXPECT_EQ(Hint("*2"), "Save table data to " + path);
    const QStringList table = {"   10   20   30", "    5   15   20", ""};
    EXPECT_EQ(FileLines(path), table + table);
    ReadFromNewFile(path);
    Item("fromsamefile1")->trigger();
    EXPECT_EQ(Report().mid(2, kObserved2x3.size()), kObserved2x3);
    Item("fromsamefile1")->trigger();
    EXPECT_EQ(Report(), QStringList{kNoData});
}

// Bulk processing writes every table's report to the result file (emptied
// first), or to the editor when no result file is chosen; the pane stays
// empty. The data file proposed the second time is the one just processed.
TEST_F(MainWindow, BulkProcessingReportsEveryTableToTheResultFileOrTheEditor) {
    Start();
    const QString data = WriteFile("bulk.dat", kThreeTables);
    const QString result = WriteFile("bulk.txt", "old contents\n");
    for (const QString& proposed : {QString(""), data}) {
        const bool toFile = proposed.isEmpty();
        EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), proposed)).WillOnce(Return(data));
        EXPECT_CALL(dialogs, SaveFileName(_, kTextFilter, QString("txt"), _))
            .WillOnce(Return(toFile ? std::optional<QString>(result) : std::nullopt));
        progress->StartRun();
        Item("Bulkprocessing1")->trigger();
        const QStringList lines = toFile ? FileLines(result) : EditorLines();
        EXPECT_EQ(lines.value(0), QString(" "));
        ExpectTheThreeTablesInOrder(lines);
        EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
        EXPECT_EQ(EditorLines().isEmpty(), toFile);
    }
    EXPECT_FALSE(FileLines(result).contains("old contents"));
}

// Breaking off one table of bulk processing writes its interruption and
// goes on with the next table.
TEST_F(MainWindow, BreakingOffOneTableOfBulkProcessingGoesOnWithTheNext) {
    Start();
    progress->At([this] { ClickStatusBar(Window()); });
    EXPECT_CALL(dialogs, Question(_, kAbort, _)).WillOnce(Return(true));
    const QString result = folder.filePath("long.txt");
    BulkWithTheLongTableFirst(result);
    const QStringList lines = FileLines(result);
    const qsizetype stop = lines.indexOf(QRegularExpression("^ Calculations interrupted at sample point nr \\d+$"));
    EXPECT_GT(IndexOfBlock(lines, kObservedLong), 0);
    EXPECT_GT(stop, IndexOfBlock(lines, kObservedLong));
    ExpectTheThreeTablesInOrder(lines.mid(stop));
}

// Closing the window during bulk processing breaks the run off; the window
// closes once the run is off the stack, storing its placement once.
TEST_F(MainWindow, ClosingDuringBulkProcessingClosesOnceItHasStopped) {
    Start();
    bool visibleRightAfterClose = false;
    progress->At([&] {
        Window().close();
        visibleRightAfterClose = Window().isVisible();
    });
    const QString result = folder.filePath("long.txt");
    BulkWithTheLongTableFirst(result);
    EXPECT_TRUE(visibleRightAfterClose) << "the window closed while the run was still on the stack";
    EXPECT_FALSE(State().Running);
    EXPECT_TRUE(ProcessEventsUntil([this] { return !Window().isVisible(); }));
    EXPECT_EQ(settings.Writes().size(), 8u);
    EXPECT_FALSE(State().Table.Exists()) << "the table is released at close";
    const QStringList lines = FileLines(result);
    EXPECT_EQ(CountStartingWith(lines, " Calculations interrupted at sample point nr "), 1);
    EXPECT_GE(IndexOfBlock(lines, kObservedLong), 0);
}

// -------------------------------------------------------- during a run

// While a table runs, Table and Options are off, Save on, and Results only
// once a first run has ended; the progress bar and "N  Click to break" show.
// "No" appends the point being visited ahead of the rest of the report (with
// the trace on, also the number of points printed); the run ends normally.
TEST_F(MainWindow, DuringARunTheMenusFollowTheRunAndNoLetsItGoOn) {
    Start();
    for (const bool trace : {false, true}) {
        SCOPED_TRACE(trace);
        AnalysisOptions options;
        options.Details = trace;
        options.Track = 0;
        program->Options.SetCurrent(options);
        if (trace)
            EXPECT_CALL(dialogs, SaveFileName(_, kTextFilter, QString("txt"), _))
                .WillOnce(Return(folder.filePath("details.txt")));
        QString statusAtDisplay;
        std::uint64_t count = 0;
        bool barShown = false;
        progress->At([&] {
            statusAtDisplay = Status();
            count = State().SamplePointCount;
            barShown = ProgressBar()->isVisible() && Window().StatusBar1()->isAncestorOf(ProgressBar());
            ClickStatusBar(Window());
        });
        EXPECT_CALL(dialogs, Question(_, kAbort, _)).WillOnce([&] {
            EXPECT_FALSE(Enabled("Newtable1") || Enabled("Options1"));
            EXPECT_TRUE(Enabled("Save1"));
            EXPECT_EQ(Enabled("Results1"), trace) << "Results goes on when the first run ends";
            return false;
        });
        TypeTable(kTable3x3Margins20);
        EXPECT_TRUE(progress->Done());
        EXPECT_TRUE(barShown);
        EXPECT_FALSE(ProgressBar()->isVisible());
        EXPECT_EQ(count % 10000, 0u);
        EXPECT_EQ(statusAtDisplay, QString::number(count) + "  Click to break");

        const QStringList lines = Report();
        EXPECT_EQ(lines.filter(QRegularExpression("^Sample point no ")).size(), 1);
        const qsizetype at = lines.indexOf(QRegularExpression("^Sample point no " + QString::number(count) + " at .+$"));
        EXPECT_GT(at, IndexOfBlock(lines, {"Observed Numbers.", "     6     7     7  |     20"}));
        EXPECT_TRUE(IsSamplePoint(lines, at + 1, {20, 20, 20}, {20, 20, 20}));
        EXPECT_EQ(lines.value(at + 4).contains(QRegularExpression("^Number of sample points printed: \\d+$")), trace);
        EXPECT_LT(at, lines.indexOf("Number of sample points = 26796"));
        EXPECT_EQ(Status(), QString("Number of sample points = 26796"));
        EXPECT_TRUE(Enabled("Newtable1") && Enabled("Options1") && Enabled("Results1"));
    }
}

// Each "No" adds the point then visited and the run goes on; "Yes" stops it
// after the point being visited with the interruption lines and no exact
// test blocks. A click after the run asks nothing.
TEST_F(MainWindow, LongTableBreaksOffAfterNoThenYes) {
    Start();
    AnalysisOptions options;
    options.ExaCStest = true;
    program->Options.SetCurrent(options);
    for (int k = 0; k < 3; ++k) progress->At([this] { ClickStatusBar(Window()); });
    EXPECT_CALL(dialogs, Question(_, kAbort, _)).WillOnce(Return(false)).WillOnce(Return(false)).WillOnce(Return(true));
    TypeTable(kLongTable);
    EXPECT_TRUE(progress->Done());

    const QStringList lines = Report();
    EXPECT_EQ(lines.mid(2, kObservedLong.size()), kObservedLong);
    const QRegularExpression progressLine("^Sample point no (\\d+) at .+$");
    std::vector<std::uint64_t> counts;
    for (qsizetype k = 0; k < lines.size(); ++k) {
        if (!progressLine.match(lines[k]).hasMatch()) continue;
        counts.push_back(progressLine.match(lines[k]).captured(1).toULongLong());
        EXPECT_TRUE(IsLongTablePoint(lines, k + 1)) << "after line " << k;
    }
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_LT(counts[0], counts[1]);
    const QRegularExpression stopLine("^ Calculations interrupted at sample point nr (\\d+)$");
    const qsizetype yesAt = lines.indexOf(stopLine);
    ASSERT_GT(yesAt, 0);
    EXPECT_GT(stopLine.match(lines[yesAt]).captured(1).toULongLong(), counts[1]);
    EXPECT_TRUE(IsLongTablePoint(lines, yesAt + 1));
    ASSERT_EQ(lines.size(), yesAt + 8) << "the report ends with the interruption lines";
    EXPECT_TRUE(lines[yesAt + 5].startsWith(" Sum of probabilities ")) << lines[yesAt + 5].toStdString();
    EXPECT_TRUE(lines[yesAt + 6].startsWith("  Used time : ")) << lines[yesAt + 6].toStdString();
    EXPECT_EQ(CountStartingWith(lines, "Number of sample points = ") + CountStartingWith(lines, "Exact"), 0);
    EXPECT_EQ(Status(), lines[yesAt]);
    EXPECT_TRUE(Enabled("Newtable1") && Enabled("Options1") && Enabled("Results1"));
    ClickStatusBar(Window());
}

// Store during a run takes the lines written so far, and the run writes the
// rest into the emptied pane; Edit during the run shows them, and the run
// goes on after the editor closes.
TEST_F(MainWindow, StoreAndEditDuringARunTakeTheLinesWrittenSoFar) {
    Start();
    TypeTable({{"1", "2"}, {"3", "4"}});
    Item("Store1")->trigger();
    const QStringList first = EditorLines();
    QStringList shown;
    progress->At([this] { Item("Store1")->trigger(); });
    progress->At([&] {
        modals.When(&program->Results, [&] { shown = EditorLines(); });
        Item("Edit1")->trigger();
    });
    progress->At([this] { ClickStatusBar(Window()); });
    EXPECT_CALL(dialogs, Question(_, kAbort, _)).WillOnce(Return(true));
    TypeTable(kLongTable);
    EXPECT_TRUE(progress->Done());

    const QStringList stored = EditorLines();
    EXPECT_EQ(shown, stored);
    EXPECT_EQ(stored.mid(0, first.size()), first);
    EXPECT_EQ(stored.mid(first.size() + 2, kObservedLong.size()), kObservedLong);
    EXPECT_EQ(CountStartingWith(stored, " Calculations interrupted"), 0);
    EXPECT_TRUE(Report().value(0).startsWith(" Calculations interrupted at sample point nr "));
}

}  // namespace
}  // namespace kelvorin::mainwindowtest
