// The main window as the user meets it: its menu, the hints in its status
// bar, the stored placement of the window and of the entry grid, the Table
// commands and the Results commands reached through it, and what it does
// while a long exact calculation runs (progress, break-off, close).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "MainWindowTestSupport.h"
#include "QtSettingsStore.h"

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

[[maybe_unused]] static void PrintTo(const QStringList& lines, std::ostream* out) {
    *out << '{';
    for (const QString& line : lines) *out << "\n  \"" << line.toStdString() << '"';
    *out << "\n}";
}

namespace kelvorin {

[[maybe_unused]] static void PrintTo(const Placement& p, std::ostream* out) {
    *out << "{Top " << p.Top << ", Left " << p.Left << ", Height " << p.Height << ", Width " << p.Width << '}';
}

namespace mainwindowtest {
namespace {

using ::testing::_;
using ::testing::Return;
using ::testing::StrictMock;

const QString kDataFilter = "Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*";
const QString kSaveDataFilter = "Data file (*.dat)|*.dat";
const QString kTextFilter = "Text (*.txt)|*.txt";
const QString kNoData = "No data avaiable";

using Rows = std::vector<std::vector<std::string>>;

// The 2 x 3 table of the descriptive report's worked example, its observed
// block, and two more tables with their observed blocks.
const Rows kTable2x3 = {{"10", "20", "30"}, {"5", "15", "20"}};
const QStringList kObserved2x3 = {
    "Observed Numbers.",
    "    10    20    30  |     60",
    "     5    15    20  |     40",
    "--------------------+-------",
    "    15    35    50  |    100",
    "",
};
const QStringList kObserved2x2 = {
    "Observed Numbers.",
    "     1     2  |      3",
    "     3     4  |      7",
    "--------------+-------",
    "     4     6  |     10",
    "",
};
const QStringList kObserved3x3 = {
    "Observed Numbers.",
    "     7     3     2  |     12",
    "     1     5     9  |     15",
    "     2     2     8  |     12",
    "--------------------+-------",
    "    10    10    19  |     39",
    "",
};
// A data file holding the three tables, separated by single empty lines.
const QByteArray kThreeTables = "10 20 30\n5 15 20\n\n1 2\n3 4\n\n7 3 2\n1 5 9\n2 2 8\n";

// A 3 x 3 table whose margins are all 20: 26796 sample points, so the run
// shows its progress twice and ends within a moment.
const Rows kTable3x3Margins20 = {{"6", "7", "7"}, {"7", "6", "7"}, {"7", "7", "6"}};

// A 4 x 4 table with about ninety million sample points: its run goes on
// for a long time unless it is broken off.
const Rows kLongTable = {{"1", "3", "10", "6"}, {"2", "3", "10", "7"}, {"1", "6", "14", "12"}, {"0", "1", "9", "11"}};
const std::vector<int> kLongRowTotals = {20, 22, 33, 21};
const std::vector<int> kLongColTotals = {4, 13, 43, 36};
const QStringList kObservedLong = {
    "Observed Numbers.",
    "     1     3    10     6  |     20",
    "     2     3    10     7  |     22",
    "     1     6    14    12  |     33",
    "     0     1     9    11  |     21",
    "--------------------------+-------",
    "     4    13    43    36  |     96",
    "",
};

// The whole-number values of a line, or nothing when it holds anything else.
std::optional<std::vector<int>> Numbers(const QString& line) {
    std::vector<int> values;
    for (const QString& part : line.split(' ', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok) return std::nullopt;
        values.push_back(value);
    }
    return values;
}

// Whether LINES[FROM..] are the rows of a table with these row and column
// totals (a sample point of the table that has them).
::testing::AssertionResult IsSamplePoint(const QStringList& lines, qsizetype from, const std::vector<int>& rowTotals,
                                         const std::vector<int>& colTotals) {
    const qsizetype rows = static_cast<qsizetype>(rowTotals.size());
    if (from < 0 || from + rows > lines.size()) return ::testing::AssertionFailure() << "too few lines after " << from;
    std::vector<int> colSums(colTotals.size(), 0);
    for (qsizetype i = 0; i < rows; ++i) {
        const QString& line = lines[from + i];
        const std::optional<std::vector<int>> cells = Numbers(line);
        if (!cells || cells->size() != colTotals.size())
            return ::testing::AssertionFailure() << "not a table row: \"" << line.toStdString() << '"';
        int rowSum = 0;
        for (std::size_t j = 0; j < cells->size(); ++j) {
            if ((*cells)[j] < 0)
                return ::testing::AssertionFailure() << "negative cell in \"" << line.toStdString() << '"';
            rowSum += (*cells)[j];
            colSums[j] += (*cells)[j];
        }
        // Each cell takes four characters: a blank and a field of three.
        if (line.size() != static_cast<qsizetype>(4 * colTotals.size()))
            return ::testing::AssertionFailure() << "row not in fields of four: \"" << line.toStdString() << '"';
        if (rowSum != rowTotals[static_cast<std::size_t>(i)])
            return ::testing::AssertionFailure() << "row total " << rowSum << " in \"" << line.toStdString() << '"';
    }
    if (colSums != colTotals) return ::testing::AssertionFailure() << "column totals differ";
    return ::testing::AssertionSuccess();
}

// The position of BLOCK as consecutive lines of LINES, from FROM on; -1 when
// it is not there.
qsizetype IndexOfBlock(const QStringList& lines, const QStringList& block, qsizetype from = 0) {
    for (qsizetype k = from; k + block.size() <= lines.size(); ++k)
        if (lines.mid(k, block.size()) == block) return k;
    return -1;
}

qsizetype CountStartingWith(const QStringList& lines, const QString& start) {
    qsizetype count = 0;
    for (const QString& line : lines)
        if (line.startsWith(start)) ++count;
    return count;
}

// The lines of a text in which every line ends with a line break.
QStringList LinesOf(QString text) {
    if (text.endsWith('\n')) text.chop(1);
    if (text.isEmpty()) return {};
    return text.split('\n');
}

// The lines of a file, carriage returns before the line feeds removed.
QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {"<missing>"};
    QString text = QString::fromUtf8(file.readAll());
    text.remove('\r');
    return LinesOf(text);
}

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll();
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
        modals.Clear();
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

    QAction* Item(const char* name) {
        QAction* item = Window().Item(name);
        EXPECT_NE(item, nullptr) << "no menu item " << name;
        return item;
    }
    bool Enabled(const char* name) {
        QAction* item = Item(name);
        return item != nullptr && item->isEnabled();
    }
    QString HintShownFor(const QString& hint) {
        Window().ShowMenuHint(hint);
        return Status();
    }

    // Fills the entry grid with ROWS, as typed, and accepts it.
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

    void UseAllExactTests() {
        AnalysisOptions options;
        options.ExaLRtest = true;
        options.ExaCStest = true;
        options.CountPos = true;
        program->Options.SetCurrent(options);
    }

    QString WriteFile(const QString& name, const QByteArray& bytes) {
        const QString path = folder.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return path;
    }

    // Table > Read > from new file, the open dialog answering ANSWER.
    void ReadFromNewFile(const std::optional<QString>& answer) {
        EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(answer));
        progress->StartRun();
        Window().fromnewfile1Click();
    }

    std::vector<MemorySettingsStore::Write> PlacementWrites() const {
        std::vector<MemorySettingsStore::Write> writes;
        for (const MemorySettingsStore::Write& write : settings.Writes())
            if (write.Section == "MainSetup" || write.Section == "GridSetup") writes.push_back(write);
        return writes;
    }

    StrictMock<MockDialogs> dialogs;
    MemorySettingsStore settings;
    QTemporaryDir folder;
    ModalDriver modals;
    std::unique_ptr<Program> program;
    std::unique_ptr<ProgressDriver> progress;
};

// ------------------------------------------------------------------- window

TEST_F(MainWindow, HasItsCaptionReportPaneAndStatusBar) {
    Start();
    EXPECT_EQ(Window().windowTitle(), QString("Kelvorin"));

    QPlainTextEdit* memo = Window().Memo1();
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->objectName(), QString("Memo1"));
    EXPECT_EQ(Window().centralWidget(), memo);
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->toPlainText(), QString(""));
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(memo->font().pointSize(), 9);
    EXPECT_TRUE(QFontInfo(memo->font()).fixedPitch());

    QStatusBar* bar = Window().StatusBar1();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->objectName(), QString("StatusBar1"));
    EXPECT_EQ(Window().statusBar(), bar);
    EXPECT_EQ(bar->height(), 19);
    EXPECT_EQ(Status(), QString(""));
    ASSERT_NE(ProgressBar(), nullptr);
    EXPECT_FALSE(ProgressBar()->isVisible());
}

TEST_F(MainWindow, TheOtherFiveWindowsExistHiddenWithTheirCaptions) {
    Start();
    const std::vector<std::pair<QWidget*, QString>> windows = {
        {&program->Options, "Options"},
        {&program->InputGrid, "InputGrid"},
        {&program->Results, "Results"},
        {&program->About, "About"},
        {&program->ProGrid, "Type proportions/probabilities"},
    };
    for (const auto& [window, caption] : windows) {
        EXPECT_EQ(window->windowTitle(), caption);
        EXPECT_FALSE(window->isVisible()) << caption.toStdString();
    }
}

// --------------------------------------------------------------------- menu

TEST_F(MainWindow, MenuBarHoldsTableOptionsResultsAndHelp) {
    Start();
    QStringList names;
    for (QAction* action : Window().menuBar()->actions()) names << action->objectName();
    EXPECT_EQ(names, QStringList({"Newtable1", "Options1", "Results1", "Help1"}));
    // Options is a command of the bar itself, the others open a menu.
    EXPECT_EQ(Item("Options1")->menu(), nullptr);
    EXPECT_NE(Item("Newtable1")->menu(), nullptr);
    EXPECT_NE(Item("Results1")->menu(), nullptr);
    EXPECT_NE(Item("Help1")->menu(), nullptr);
}

TEST_F(MainWindow, SubmenusHoldTheirItemsInOrderWithSeparators) {
    Start();
    auto itemsOf = [this](const char* name) {
        QStringList names;
        QAction* item = Item(name);
        if (item == nullptr || item->menu() == nullptr) return names;
        for (QAction* action : item->menu()->actions())
            names << (action->isSeparator() ? "-" + action->objectName() : action->objectName());
        return names;
    };
    EXPECT_EQ(itemsOf("Newtable1"), QStringList({"New1", "Read1", "Save1", "Bulkprocessing1", "-N2", "Exit2"}));
    EXPECT_EQ(itemsOf("Read1"), QStringList({"fromnewfile1", "fromsamefile1"}));
    EXPECT_EQ(itemsOf("Save1"), QStringList({"tonewfile1", "tosamefile1"}));
    EXPECT_EQ(itemsOf("Results1"), QStringList({"Store1", "Edit1"}));
    EXPECT_EQ(itemsOf("Help1"), QStringList({"Contents1", "-N1", "About1"}));
}

struct MenuItemRow {
    const char* Name;
    QString Caption;
    int HelpContext;
    bool EnabledAtStart;
    // What the status bar shows when the item is highlighted at start-up.
    QString HintShown;
};

const std::vector<MenuItemRow>& MenuItems() {
    static const std::vector<MenuItemRow> rows = {
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
        {"Help1", "                       &Help", 0, true, "Get help"},
        {"Contents1", "Contents", 0, true, "Get help to use the program"},
        {"About1", "About", 0, true, "Program version"},
    };
    return rows;
}

TEST_F(MainWindow, EveryItemHasItsCaptionHelpContextAndStartState) {
    Start();
    for (const MenuItemRow& row : MenuItems()) {
        SCOPED_TRACE(row.Name);
        QAction* item = Item(row.Name);
        if (item == nullptr) continue;
        EXPECT_EQ(item->text(), row.Caption);
        EXPECT_EQ(item->property("helpContext").toInt(), row.HelpContext);
        EXPECT_TRUE(item->property("helpContext").isValid());
        EXPECT_EQ(item->isEnabled(), row.EnabledAtStart);
    }
}

TEST_F(MainWindow, HelpCaptionKeepsItsTwentyThreeLeadingBlanks) {
    Start();
    const QString caption = Item("Help1")->text();
    EXPECT_EQ(caption, QString(23, ' ') + "&Help");
    EXPECT_EQ(caption.indexOf('&'), 23);
}

TEST_F(MainWindow, HighlightingAnItemShowsItsHint) {
    Start();
    for (const MenuItemRow& row : MenuItems()) {
        SCOPED_TRACE(row.Name);
        QAction* item = Item(row.Name);
        if (item == nullptr) continue;
        Window().ShowMenuHint("previous text");
        // The hint travels from the menu bar to the main window, as when
        // the item is highlighted in an open menu.
        item->showStatusText(Window().menuBar());
        EXPECT_EQ(Status(), row.HintShown);
    }
}

// -------------------------------------------------------------------- hints

TEST_F(MainWindow, HintsShowThePartAfterTheFirstBar) {
    Start();
    EXPECT_EQ(HintShownFor("Type table data"), QString("Type table data"));
    EXPECT_EQ(HintShownFor("Short|Long hint text"), QString("Long hint text"));
    EXPECT_EQ(HintShownFor("a|b|c"), QString("b|c"));
    EXPECT_EQ(HintShownFor("|after"), QString("after"));
    EXPECT_EQ(HintShownFor("before|"), QString(""));
}

TEST_F(MainWindow, AnEmptyHintEmptiesTheStatusBar) {
    Start();
    EXPECT_EQ(HintShownFor("Finish the program"), QString("Finish the program"));
    EXPECT_EQ(HintShownFor(""), QString(""));
}

TEST_F(MainWindow, OnlyTheWholeTextsStarOneAndStarTwoAreReplaced) {
    Start();
    EXPECT_EQ(HintShownFor("*1"), QString("You have not yet read data"));
    EXPECT_EQ(HintShownFor("*2"), QString("You have not yet saved data"));
    EXPECT_EQ(HintShownFor("*1 "), QString("*1 "));
    EXPECT_EQ(HintShownFor("*12"), QString("*12"));
    EXPECT_EQ(HintShownFor("x|*1"), QString("*1"));
    EXPECT_EQ(HintShownFor("*"), QString("*"));
}

TEST_F(MainWindow, AStatusTipEventGoesThroughTheHintHandler) {
    Start();
    QStatusTipEvent readTip("*1");
    QApplication::sendEvent(&Window(), &readTip);
    EXPECT_EQ(Status(), QString("You have not yet read data"));
    QStatusTipEvent saveTip("*2");
    QApplication::sendEvent(&Window(), &saveTip);
    EXPECT_EQ(Status(), QString("You have not yet saved data"));
    QStatusTipEvent barTip("Short|Long");
    QApplication::sendEvent(&Window(), &barTip);
    EXPECT_EQ(Status(), QString("Long"));
    QStatusTipEvent emptyTip("");
    QApplication::sendEvent(&Window(), &emptyTip);
    EXPECT_EQ(Status(), QString(""));
}

TEST_F(MainWindow, ReadHintNamesTheFileOnceOneWasRead) {
    Start();
    const QString path = WriteFile("hint.dat", kThreeTables);
    EXPECT_EQ(HintShownFor("*1"), QString("You have not yet read data"));
    ReadFromNewFile(path);
    EXPECT_EQ(HintShownFor("*1"), "Read table data from " + path);
    // The real path of the hint: the highlighted item's own hint.
    Item("fromsamefile1")->showStatusText(Window().menuBar());
    EXPECT_EQ(Status(), "Read table data from " + path);
}

TEST_F(MainWindow, NewForgetsTheDataFileEvenWhenTheGridIsCancelled) {
    Start();
    const QString path = WriteFile("forget.dat", kThreeTables);
    ReadFromNewFile(path);
    ASSERT_EQ(HintShownFor("*1"), "Read table data from " + path);
    modals.When(&program->InputGrid, [this] { program->InputGrid.reject(); });
    Window().New1Click();
    EXPECT_EQ(HintShownFor("*1"), QString("You have not yet read data"));
}

TEST_F(MainWindow, SaveHintNamesTheFileOnceOneWasSaved) {
    Start();
    TypeTable(kTable2x3);
    EXPECT_EQ(HintShownFor("*2"), QString("You have not yet saved data"));
    const QString path = folder.filePath("saved.dat");
    EXPECT_CALL(dialogs, SaveFileName(_, kSaveDataFilter, QString("dat"), _)).WillOnce(Return(path));
    Window().tonewfile1Click();
    EXPECT_EQ(HintShownFor("*2"), "Save table data to " + path);
    Item("tosamefile1")->showStatusText(Window().menuBar());
    EXPECT_EQ(Status(), "Save table data to " + path);
}

// ---------------------------------------------------------------- placement

TEST_F(MainWindow, FirstStartUsesTheDesignPlacementAndDerivesTheGrid) {
    Start();
    EXPECT_EQ(Window().pos(), QPoint(280, 201));
    EXPECT_EQ(Window().size(), QSize(559, 361));
    // The client area lies below the menu bar.
    const int clientHeight = Window().height() - Window().menuBar()->height();
    const Placement expected{201 + 55, 280 + 8, clientHeight - 30, 559 - 20};
    EXPECT_EQ(Window().Commands().GridPlacement(), expected);
}

TEST_F(MainWindow, NewShowsTheEntryGridAtTheGridPlacement) {
    Start();
    const Placement grid = Window().Commands().GridPlacement();
    Placement shownAt;
    modals.When(&program->InputGrid, [this, &shownAt, grid] {
        shownAt = program->InputGrid.CurrentPlacement();
        const QRect frame = program->InputGrid.frameGeometry();
        EXPECT_EQ(frame, QRect(grid.Left, grid.Top, grid.Width, grid.Height));
        FillAndAccept(kTable2x3);
    });
    Window().New1Click();
    EXPECT_EQ(shownAt, grid);
}

TEST_F(MainWindow, CloseWritesBothPlacementsAsDecimalText) {
    Start();
    const Placement grid = Window().Commands().GridPlacement();
    Window().move(312, 147);
    Window().resize(600, 400);
    QApplication::processEvents();
    ASSERT_EQ(Window().pos(), QPoint(312, 147));
    ASSERT_EQ(Window().size(), QSize(600, 400));

    Item("Exit2")->trigger();
    EXPECT_FALSE(Window().isVisible());

    using W = MemorySettingsStore::Write;
    const std::vector<W> expected = {
        {"MainSetup", "Top", "147"},
        {"MainSetup", "Left", "312"},
        {"MainSetup", "Height", "400"},
        {"MainSetup", "Width", "600"},
        {"GridSetup", "Top", std::to_string(grid.Top)},
        {"GridSetup", "Left", std::to_string(grid.Left)},
        {"GridSetup", "Height", std::to_string(grid.Height)},
        {"GridSetup", "Width", std::to_string(grid.Width)},
    };
    const std::vector<W> writes = PlacementWrites();
    ASSERT_EQ(writes.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(writes[k].Section, expected[k].Section) << k;
        EXPECT_EQ(writes[k].Name, expected[k].Name) << k;
        EXPECT_EQ(writes[k].Value, expected[k].Value) << k;
    }
    // The grid values written are those derived at start-up.
    EXPECT_EQ(grid.Top, 201 + 55);
    EXPECT_EQ(grid.Left, 280 + 8);
}

TEST_F(MainWindow, NothingIsStoredBeforeTheWindowCloses) {
    Start();
    TypeTable(kTable2x3);
    EXPECT_TRUE(PlacementWrites().empty());
}

TEST_F(MainWindow, ARestartRestoresWhatTheCloseStored) {
    Start();
    Window().move(310, 170);
    Window().resize(620, 420);
    QApplication::processEvents();
    const Placement grid = Window().Commands().GridPlacement();
    Window().close();
    ASSERT_FALSE(Window().isVisible());

    Start();
    EXPECT_EQ(Window().pos(), QPoint(310, 170));
    EXPECT_EQ(Window().size(), QSize(620, 420));
    EXPECT_EQ(Window().Commands().GridPlacement(), grid);
}

TEST_F(MainWindow, StoredValuesAboveZeroAreApplied) {
    settings.WriteInteger("MainSetup", "Top", 150);
    settings.WriteInteger("MainSetup", "Left", 320);
    settings.WriteInteger("MainSetup", "Height", 400);
    settings.WriteInteger("MainSetup", "Width", 620);
    settings.WriteInteger("GridSetup", "Top", 10);
    settings.WriteInteger("GridSetup", "Left", 20);
    settings.WriteInteger("GridSetup", "Height", 300);
    settings.WriteInteger("GridSetup", "Width", 500);
    Start();
    EXPECT_EQ(Window().pos(), QPoint(320, 150));
    EXPECT_EQ(Window().size(), QSize(620, 400));
    EXPECT_EQ(Window().Commands().GridPlacement(), (Placement{10, 20, 300, 500}));
}

TEST_F(MainWindow, AStoredLeftOfZeroKeepsTheDesignLeft) {
    settings.WriteInteger("MainSetup", "Top", 150);
    settings.WriteInteger("MainSetup", "Left", 0);
    settings.WriteInteger("MainSetup", "Height", 400);
    settings.WriteInteger("MainSetup", "Width", 620);
    Start();
    EXPECT_EQ(Window().pos(), QPoint(280, 150));
    EXPECT_EQ(Window().size(), QSize(620, 400));
    // The grid is derived from the window as it stands with its stored values.
    const int clientHeight = Window().height() - Window().menuBar()->height();
    EXPECT_EQ(Window().Commands().GridPlacement(), (Placement{150 + 55, 280 + 8, clientHeight - 30, 620 - 20}));
}

TEST_F(MainWindow, NegativeStoredValuesKeepTheDesignPlacement) {
    settings.WriteInteger("MainSetup", "Top", -5);
    settings.WriteInteger("MainSetup", "Left", -300);
    settings.WriteInteger("MainSetup", "Height", 0);
    settings.WriteInteger("MainSetup", "Width", -1);
    Start();
    EXPECT_EQ(Window().pos(), QPoint(280, 201));
    EXPECT_EQ(Window().size(), QSize(559, 361));
}

TEST_F(MainWindow, GridValuesThatAreNotNumbersOrBelowOneAreDerived) {
    settings.WriteText("GridSetup", "Top", "0");
    settings.WriteText("GridSetup", "Left", "77");
    settings.WriteText("GridSetup", "Height", "abc");
    settings.WriteText("GridSetup", "Width", "12x");
    Start();
    const int clientHeight = Window().height() - Window().menuBar()->height();
    EXPECT_EQ(Window().Commands().GridPlacement(), (Placement{201 + 55, 77, clientHeight - 30, 559 - 20}));
}

TEST_F(MainWindow, AStoredValueThatIsNotTextCountsAsNotStored) {
    settings.SetNonText("MainSetup", "Top");
    settings.WriteInteger("MainSetup", "Left", 300);
    settings.SetNonText("GridSetup", "Height");
    Start();
    EXPECT_EQ(Window().pos(), QPoint(300, 201));
    const int clientHeight = Window().height() - Window().menuBar()->height();
    EXPECT_EQ(Window().Commands().GridPlacement().Height, clientHeight - 30);
    // The rest of the start-up still happened: the hint handler and the
    // analysis work.
    EXPECT_EQ(HintShownFor("*1"), QString("You have not yet read data"));
    TypeTable(kTable2x3);
    EXPECT_EQ(Report().mid(2, kObserved2x3.size()), kObserved2x3);
}

TEST_F(MainWindow, AnAcceptedGridGivesItsPlacementBackForTheNextStart) {
    Start();
    modals.When(&program->InputGrid, [this] {
        program->InputGrid.move(57, 66);
        program->InputGrid.resize(333, 222);
        FillAndAccept(kTable2x3);
    });
    Window().New1Click();
    const Placement taken = Window().Commands().GridPlacement();
    EXPECT_EQ(taken, program->InputGrid.CurrentPlacement());
    EXPECT_EQ(taken.Top, 66);
    EXPECT_EQ(taken.Left, 57);

    // A cancelled grid gives nothing back.
    modals.When(&program->InputGrid, [this] {
        program->InputGrid.move(90, 95);
        program->InputGrid.reject();
    });
    Window().New1Click();
    EXPECT_EQ(Window().Commands().GridPlacement(), taken);

    Window().close();
    EXPECT_EQ(settings.ReadText("GridSetup", "Top"), std::optional<std::string>("66"));
    EXPECT_EQ(settings.ReadText("GridSetup", "Left"), std::optional<std::string>("57"));
    EXPECT_EQ(settings.ReadText("GridSetup", "Height"), std::optional<std::string>(std::to_string(taken.Height)));
    EXPECT_EQ(settings.ReadText("GridSetup", "Width"), std::optional<std::string>(std::to_string(taken.Width)));

    // The next start shows the grid there.
    Start();
    EXPECT_EQ(Window().Commands().GridPlacement(), taken);
}

// The per-user store of the platform, kept in the tests' temporary folder.
class MainWindowUserSettings : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        ClearPlacement();
    }
    void TearDown() override {
        MainWindow::TearDown();
        ClearPlacement();
    }
    static void ClearPlacement() {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
        store.remove("MainSetup");
        store.remove("GridSetup");
        store.sync();
    }
    static QString Stored(const QString& key) {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
        return store.value(key).toString();
    }
};

TEST_F(MainWindowUserSettings, PlacementSurvivesARestart) {
    {
        QtSettingsStore store;
        Start(store);
        EXPECT_EQ(Window().pos(), QPoint(280, 201));
        Window().move(333, 144);
        Window().resize(640, 380);
        QApplication::processEvents();
        Window().close();
        progress.reset();
        program.reset();
    }
    EXPECT_EQ(Stored("MainSetup/Top"), QString("144"));
    EXPECT_EQ(Stored("MainSetup/Left"), QString("333"));
    EXPECT_EQ(Stored("MainSetup/Height"), QString("380"));
    EXPECT_EQ(Stored("MainSetup/Width"), QString("640"));
    EXPECT_EQ(Stored("GridSetup/Top"), QString("256"));
    EXPECT_EQ(Stored("GridSetup/Left"), QString("288"));

    {
        QtSettingsStore store;
        Start(store);
        EXPECT_EQ(Window().pos(), QPoint(333, 144));
        EXPECT_EQ(Window().size(), QSize(640, 380));
        EXPECT_EQ(Window().Commands().GridPlacement().Top, 256);
        EXPECT_EQ(Window().Commands().GridPlacement().Left, 288);
        progress.reset();
        program.reset();
    }
}

TEST_F(MainWindowUserSettings, AGridHeightThatIsNotANumberIsDerived) {
    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat");
        store.setValue("MainSetup/Left", "0");
        store.setValue("MainSetup/Top", "120");
        store.setValue("GridSetup/Height", "tall");
        store.setValue("GridSetup/Width", "450");
        store.sync();
    }
    QtSettingsStore store;
    Start(store);
    EXPECT_EQ(Window().pos(), QPoint(280, 120));
    const int clientHeight = Window().height() - Window().menuBar()->height();
    EXPECT_EQ(Window().Commands().GridPlacement(), (Placement{120 + 55, 280 + 8, clientHeight - 30, 450}));
    progress.reset();
    program.reset();
}

// ---------------------------------------------------------- windows opened

TEST_F(MainWindow, OptionsOpenAtTheMainWindowsTopFiftyPixelsRight) {
    Start();
    Window().move(300, 220);
    QApplication::processEvents();
    QPoint shownAt;
    modals.When(&program->Options, [this, &shownAt] {
        shownAt = program->Options.pos();
        program->Options.reject();
    });
    Item("Options1")->trigger();
    EXPECT_EQ(shownAt, QPoint(350, 220));
}

TEST_F(MainWindow, AboutIsCentredOnTheMainWindow) {
    Start();
    Window().move(260, 180);
    QApplication::processEvents();
    QPoint aboutCentre;
    modals.When(&program->About, [this, &aboutCentre] {
        aboutCentre = program->About.frameGeometry().center();
        program->About.reject();
    });
    Item("About1")->trigger();
    // Both windows as they stand on the screen, frames included; a pixel
    // of rounding either way.
    const QPoint mainCentre = Window().frameGeometry().center();
    EXPECT_LE(std::abs(aboutCentre.x() - mainCentre.x()), 1)
        << "About centre x " << aboutCentre.x() << ", main centre x " << mainCentre.x();
    EXPECT_LE(std::abs(aboutCentre.y() - mainCentre.y()), 1)
        << "About centre y " << aboutCentre.y() << ", main centre y " << mainCentre.y();
}

// ---------------------------------------------------------------------- New

TEST_F(MainWindow, NewAnalysesTheTypedTable) {
    Start();
    TypeTable(kTable2x3);
    const QStringList lines = Report();
    ASSERT_GE(lines.size(), 8);
    EXPECT_EQ(lines[0], QString(" "));
    EXPECT_TRUE(lines[1].startsWith("Zelkat" + QString(16, ' '))) << lines[1].toStdString();
    EXPECT_GT(lines[1].size(), 22);
    EXPECT_EQ(lines.mid(2, kObserved2x3.size()), kObserved2x3);
    // 16 x 36 first-row pairs, less the 55 whose sum is below 10.
    EXPECT_TRUE(lines.contains("Number of sample points = 521"));
    EXPECT_EQ(Status(), QString("Number of sample points = 521"));
    EXPECT_TRUE(lines.last().isEmpty());
    EXPECT_TRUE(lines[lines.size() - 2].startsWith("  Used time : ")) << lines[lines.size() - 2].toStdString();

    EXPECT_TRUE(Enabled("Save1"));
    EXPECT_TRUE(Enabled("Results1"));
    EXPECT_TRUE(Enabled("Newtable1"));
    EXPECT_TRUE(Enabled("Options1"));
    EXPECT_FALSE(Enabled("fromsamefile1"));
    EXPECT_FALSE(Enabled("tosamefile1"));
    EXPECT_FALSE(State().Running);
}

TEST_F(MainWindow, NewOpensTheGridWithTheLastTableRead) {
    Start();
    const QString path = WriteFile("last.dat", kThreeTables);
    ReadFromNewFile(path);
    Rows shown;
    modals.When(&program->InputGrid, [this, &shown] {
        const TextGrid& grid = program->InputGrid.Grid();
        for (int row = 0; row < grid.RowCount(); ++row) {
            shown.emplace_back();
            for (int col = 0; col < grid.ColCount(); ++col) shown.back().push_back(grid.Cell(col, row));
        }
        program->InputGrid.Return1Click();
    });
    Window().New1Click();
    EXPECT_EQ(shown, kTable2x3);
    EXPECT_EQ(Report().mid(2, kObserved2x3.size()), kObserved2x3);
}

TEST_F(MainWindow, NewCancelledKeepsTheReportAndTheMenus) {
    Start();
    TypeTable(kTable2x3);
    const QStringList before = Report();
    modals.When(&program->InputGrid, [this] { program->InputGrid.reject(); });
    Window().New1Click();
    EXPECT_EQ(Report(), before);
    EXPECT_TRUE(Enabled("Save1"));
    EXPECT_TRUE(Enabled("Results1"));
}

TEST_F(MainWindow, ASecondTableReplacesTheFirstReport) {
    Start();
    TypeTable(kTable2x3);
    TypeTable({{"1", "2"}, {"3", "4"}});
    const QStringList lines = Report();
    EXPECT_EQ(lines.mid(2, kObserved2x2.size()), kObserved2x2);
    EXPECT_EQ(IndexOfBlock(lines, kObserved2x3), -1);
    EXPECT_EQ(CountStartingWith(lines, "Zelkat"), 1);
}

TEST_F(MainWindow, ResultsStaysDisabledUntilTheFirstRunHasEnded) {
    Start();
    EXPECT_FALSE(Enabled("Results1"));
    ReadFromNewFile(std::nullopt);
    EXPECT_FALSE(Enabled("Results1"));
    TypeTable(kTable2x3);
    EXPECT_TRUE(Enabled("Results1"));
    ReadFromNewFile(std::nullopt);
    EXPECT_TRUE(Enabled("Results1"));
}

TEST_F(MainWindow, AOneRowTableAsksForItsProportions) {
    Start();
    AnalysisOptions options;
    options.Expected = true;
    options.Row = true;
    program->Options.SetCurrent(options);
    int categoriesShown = 0;
    modals.When(&program->InputGrid, [this] { FillAndAccept({{"12", "7", "5"}}); });
    modals.When(&program->ProGrid, [this, &categoriesShown] {
        TextGrid& weights = program->ProGrid.Grid();
        categoriesShown = weights.RowCount() * weights.ColCount();
        EXPECT_EQ(weights.RowCount(), 1);
        weights.SetCell(0, 0, "1");
        weights.SetCell(1, 0, "1");
        weights.SetCell(2, 0, "2");
        program->ProGrid.Return1Click();
    });
    Window().New1Click();
    EXPECT_TRUE(modals.Done());
    EXPECT_EQ(categoriesShown, 3);

    const QStringList lines = Report();
    const QStringList blocks = {
        "Observed Numbers.", "    12     7     5  |     24", "",
        "Expected Numbers.", "   6.0   6.0  12.0  |     24", "",
        "Row percentages.",  "  50.0  29.2  20.8  |  100.0", "",
    };
    EXPECT_EQ(lines.mid(2, blocks.size()), blocks);
    EXPECT_TRUE(Enabled("Results1"));
}

TEST_F(MainWindow, ProportionsWindowClosedWithoutReturnAbandonsTheRun) {
    Start();
    modals.When(&program->InputGrid, [this] { FillAndAccept({{"12", "7", "5"}}); });
    modals.When(&program->ProGrid, [this] { program->ProGrid.close(); });
    Window().New1Click();
    EXPECT_TRUE(modals.Done());
    EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
    EXPECT_FALSE(State().Running);
    EXPECT_TRUE(Enabled("Newtable1"));
    EXPECT_TRUE(Enabled("Results1"));
    EXPECT_TRUE(Enabled("Save1"));
}

TEST_F(MainWindow, ARowOfZerosIsRefusedAndLeavesTheMenusEnabled) {
    Start();
    EXPECT_CALL(dialogs, Message(_, QString("All zeros in row 2"), QString("Error"), _));
    TypeTable({{"1", "2"}, {"0", "0"}, {"3", "4"}});
    EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
    EXPECT_TRUE(Enabled("Newtable1"));
    EXPECT_TRUE(Enabled("Options1"));
    EXPECT_TRUE(Enabled("Results1"));
    EXPECT_TRUE(Enabled("Save1"));
}

TEST_F(MainWindow, AOneByOneTableGivesNoReportAndNoMessage) {
    Start();
    TypeTable({{"5"}});
    EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
    EXPECT_TRUE(Enabled("Results1"));
    EXPECT_FALSE(State().Running);
}

// ------------------------------------------------------------ during a run

TEST_F(MainWindow, TableAndOptionsAreDisabledWhileTheTableRuns) {
    Start();
    QString statusAtDisplay;
    std::uint64_t countAtDisplay = 0;
    progress->At([&] {
        statusAtDisplay = Status();
        countAtDisplay = State().SamplePointCount;
        ClickStatusBar(Window());
    });
    struct Menus {
        bool Table = true, Options = true, Save = false, Results = true;
    } during;
    EXPECT_CALL(dialogs, Question(_, QString("Abort calculation ?"), _)).WillOnce([&] {
        during.Table = Enabled("Newtable1");
        during.Options = Enabled("Options1");
        during.Save = Enabled("Save1");
        during.Results = Enabled("Results1");
        return false;
    });
    TypeTable(kTable3x3Margins20);
    EXPECT_TRUE(progress->Done());

    EXPECT_FALSE(during.Table);
    EXPECT_FALSE(during.Options);
    EXPECT_TRUE(during.Save);
    EXPECT_FALSE(during.Results) << "Results is enabled only when the first run ends";
    EXPECT_GT(countAtDisplay, 0u);
    EXPECT_EQ(countAtDisplay % 10000, 0u);
    EXPECT_EQ(statusAtDisplay, QString::number(countAtDisplay) + "  Click to break");

    // The run went on after No, and ended normally.
    const QStringList lines = Report();
    EXPECT_TRUE(lines.contains("Number of sample points = 26796"));
    EXPECT_EQ(Status(), QString("Number of sample points = 26796"));
    EXPECT_TRUE(Enabled("Newtable1"));
    EXPECT_TRUE(Enabled("Options1"));
    EXPECT_TRUE(Enabled("Results1"));
    EXPECT_TRUE(Enabled("Save1"));
}

TEST_F(MainWindow, NoAppendsTheSamplePointBeingVisited) {
    Start();
    std::uint64_t countAtDisplay = 0;
    progress->At([&] {
        countAtDisplay = State().SamplePointCount;
        ClickStatusBar(Window());
    });
    EXPECT_CALL(dialogs, Question(_, QString("Abort calculation ?"), _)).WillOnce(Return(false));
    TypeTable(kTable3x3Margins20);

    const QStringList lines = Report();
    const qsizetype at = lines.indexOf(QRegularExpression("^Sample point no .*"));
    ASSERT_GE(at, 0);
    const QRegularExpression pattern("^Sample point no (\\d+) at (.+)$");
    const QRegularExpressionMatch match = pattern.match(lines[at]);
    ASSERT_TRUE(match.hasMatch()) << lines[at].toStdString();
    EXPECT_EQ(match.captured(1), QString::number(countAtDisplay));
    EXPECT_TRUE(IsSamplePoint(lines, at + 1, {20, 20, 20}, {20, 20, 20}));
    // The progress lines stand ahead of the report lines still to come.
    EXPECT_LT(at, lines.indexOf("Number of sample points = 26796"));
    EXPECT_GT(at, IndexOfBlock(lines, QStringList{"Observed Numbers.", "     6     7     7  |     20"}));
    EXPECT_EQ(lines.filter(QRegularExpression("^Sample point no ")).size(), 1);
}

TEST_F(MainWindow, ProgressBarIsShownOnlyWhileTheTableRuns) {
    Start();
    ASSERT_NE(ProgressBar(), nullptr);
    EXPECT_FALSE(ProgressBar()->isVisible());
    bool visibleAtDisplay = false;
    bool insideStatusBar = false;
    progress->At([&] {
        visibleAtDisplay = ProgressBar()->isVisible();
        insideStatusBar = Window().StatusBar1()->isAncestorOf(ProgressBar());
    });
    TypeTable(kTable3x3Margins20);
    EXPECT_TRUE(progress->Done());
    EXPECT_TRUE(visibleAtDisplay);
    EXPECT_TRUE(insideStatusBar);
    EXPECT_FALSE(ProgressBar()->isVisible());
}

TEST_F(MainWindow, LongTableBreaksOffAfterNoThenYes) {
    Start();
    UseAllExactTests();
    bool progressShown = false;
    progress->At([&] {
        progressShown = ProgressBar()->isVisible();
        ClickStatusBar(Window());
    });
    progress->At([&] { ClickStatusBar(Window()); });
    EXPECT_CALL(dialogs, Question(_, QString("Abort calculation ?"), _))
        .WillOnce(Return(false))
        .WillOnce(Return(true));
    TypeTable(kLongTable);
    EXPECT_TRUE(progress->Done());
    EXPECT_TRUE(progressShown);
    EXPECT_FALSE(ProgressBar()->isVisible());

    const QStringList lines = Report();
    EXPECT_EQ(lines.mid(2, kObservedLong.size()), kObservedLong);

    // No: the sample point then visited, and the run went on.
    const QRegularExpression progressLine("^Sample point no (\\d+) at .+$");
    const qsizetype noAt = lines.indexOf(progressLine);
    ASSERT_GE(noAt, 0);
    EXPECT_EQ(lines.filter(QRegularExpression("^Sample point no ")).size(), 1);
    const std::uint64_t noCount = progressLine.match(lines[noAt]).captured(1).toULongLong();
    EXPECT_GT(noCount, 0u);
    EXPECT_EQ(noCount % 10000, 0u);
    EXPECT_TRUE(IsSamplePoint(lines, noAt + 1, kLongRowTotals, kLongColTotals));

    // Yes: the run stops after the sample point being visited.
    const QRegularExpression stopLine("^ Calculations interrupted at sample point nr (\\d+)$");
    const qsizetype yesAt = lines.indexOf(stopLine);
    ASSERT_GT(yesAt, noAt + 4);
    const std::uint64_t yesCount = stopLine.match(lines[yesAt]).captured(1).toULongLong();
    EXPECT_GT(yesCount, noCount);
    EXPECT_EQ(yesCount % 10000, 0u);
    EXPECT_TRUE(IsSamplePoint(lines, yesAt + 1, kLongRowTotals, kLongColTotals));
    ASSERT_EQ(lines.size(), yesAt + 8) << "the report ends with the interruption lines";
    EXPECT_TRUE(lines[yesAt + 5].startsWith(" Sum of probabilities ")) << lines[yesAt + 5].toStdString();
    EXPECT_TRUE(lines[yesAt + 6].startsWith("  Used time : ")) << lines[yesAt + 6].toStdString();
    EXPECT_EQ(lines[yesAt + 7], QString(""));
    EXPECT_EQ(Status(), lines[yesAt]);

    // No exact test block for a broken-off run.
    EXPECT_EQ(CountStartingWith(lines, "Number of sample points = "), 0);
    EXPECT_EQ(CountStartingWith(lines, "Exact"), 0);

    EXPECT_FALSE(State().Running);
    EXPECT_TRUE(Enabled("Newtable1"));
    EXPECT_TRUE(Enabled("Options1"));
    EXPECT_TRUE(Enabled("Results1"));
    EXPECT_TRUE(Enabled("Save1"));

    // A click after the run asks nothing (the question was expected twice).
    ClickStatusBar(Window());
    EXPECT_EQ(Status(), lines[yesAt]);
}

TEST_F(MainWindow, StoreDuringARunTakesTheLinesWrittenSoFar) {
    Start();
    TypeTable({{"1", "2"}, {"3", "4"}});
    ASSERT_TRUE(Enabled("Results1"));
    bool storeEnabled = false;
    progress->At([&] {
        storeEnabled = Enabled("Results1") && Enabled("Store1");
        Item("Store1")->trigger();
        ClickStatusBar(Window());
    });
    EXPECT_CALL(dialogs, Question(_, QString("Abort calculation ?"), _)).WillOnce(Return(true));
    TypeTable(kLongTable);
    EXPECT_TRUE(storeEnabled);

    const QStringList stored = EditorLines();
    ASSERT_GE(stored.size(), 2 + kObservedLong.size());
    EXPECT_EQ(stored[0], QString(" "));
    EXPECT_TRUE(stored[1].startsWith("Zelkat"));
    EXPECT_EQ(stored.mid(2, kObservedLong.size()), kObservedLong);
    EXPECT_EQ(IndexOfBlock(stored, kObserved2x2), -1) << "only the running report was stored";
    EXPECT_EQ(CountStartingWith(stored, " Calculations interrupted"), 0);

    const QStringList rest = Report();
    ASSERT_FALSE(rest.isEmpty());
    EXPECT_TRUE(rest.first().startsWith(" Calculations interrupted at sample point nr ")) << rest.first().toStdString();
    EXPECT_EQ(CountStartingWith(rest, "Zelkat"), 0);
}

TEST_F(MainWindow, ClosingDuringARunBreaksItOffAndClosesAfterIt) {
    Start();
    bool visibleRightAfterClose = false;
    progress->At([&] {
        Window().close();
        // The run is still on the stack: the window may not be gone yet.
        visibleRightAfterClose = Window().isVisible();
    });
    TypeTable(kLongTable);
    EXPECT_TRUE(progress->Done());
    EXPECT_TRUE(visibleRightAfterClose) << "the window closed while the run was still on the stack";

    const QStringList lines = Report();
    EXPECT_EQ(CountStartingWith(lines, " Calculations interrupted at sample point nr "), 1);
    EXPECT_FALSE(State().Running);

    EXPECT_TRUE(ProcessEventsUntil([this] { return !Window().isVisible(); }))
        << "the window did not close once the run had ended";
    EXPECT_EQ(settings.ReadText("MainSetup", "Top"), std::optional<std::string>("201"));
    EXPECT_EQ(settings.ReadText("MainSetup", "Left"), std::optional<std::string>("280"));
    EXPECT_EQ(settings.ReadText("MainSetup", "Height"), std::optional<std::string>("361"));
    EXPECT_EQ(settings.ReadText("MainSetup", "Width"), std::optional<std::string>("559"));
    EXPECT_TRUE(settings.ReadText("GridSetup", "Top").has_value());
    EXPECT_EQ(PlacementWrites().size(), 8u) << "the placement is written once";
    EXPECT_FALSE(Window().Engine().State().Table.Exists()) << "the table is released at close";
    // Events after the close do no harm.
    QApplication::processEvents();
}

TEST_F(MainWindow, EachNoAddsItsOwnProgressBlock) {
    Start();
    for (int k = 0; k < 4; ++k) progress->At([this] { ClickStatusBar(Window()); });
    EXPECT_CALL(dialogs, Question(_, QString("Abort calculation ?"), _))
        .WillOnce(Return(false))
        .WillOnce(Return(false))
        .WillOnce(Return(false))
        .WillOnce(Return(true));
    TypeTable(kLongTable);
    EXPECT_TRUE(progress->Done());

    const QStringList lines = Report();
    const QRegularExpression progressLine("^Sample point no (\\d+) at .+$");
    std::vector<std::uint64_t> counts;
    for (qsizetype k = 0; k < lines.size(); ++k) {
        const QRegularExpressionMatch match = progressLine.match(lines[k]);
        if (!match.hasMatch()) continue;
        counts.push_back(match.captured(1).toULongLong());
        EXPECT_TRUE(IsSamplePoint(lines, k + 1, kLongRowTotals, kLongColTotals)) << "after line " << k;
    }
    ASSERT_EQ(counts.size(), 3u);
    EXPECT_LT(counts[0], counts[1]);
    EXPECT_LT(counts[1], counts[2]);
    EXPECT_EQ(CountStartingWith(lines, " Calculations interrupted at sample point nr "), 1);
}

TEST_F(MainWindow, NoWithTheTraceOfMarkedPointsAlsoCountsThePrintedOnes) {
    Start();
    AnalysisOptions options;
    options.Details = true;
    options.Track = 0;
    program->Options.SetCurrent(options);
    const QString details = folder.filePath("details.txt");
    EXPECT_CALL(dialogs, SaveFileName(_, kTextFilter, QString("txt"), _)).WillOnce(Return(details));
    progress->At([this] { ClickStatusBar(Window()); });
    EXPECT_CALL(dialogs, Question(_, QString("Abort calculation ?"), _)).WillOnce(Return(false));
    TypeTable(kTable3x3Margins20);

    const QStringList lines = Report();
    const qsizetype at = lines.indexOf(QRegularExpression("^Sample point no \\d+ at .+$"));
    ASSERT_GE(at, 0);
    EXPECT_TRUE(IsSamplePoint(lines, at + 1, {20, 20, 20}, {20, 20, 20}));
    ASSERT_GT(lines.size(), at + 4);
    EXPECT_TRUE(QRegularExpression("^Number of sample points printed: \\d+$").match(lines[at + 4]).hasMatch())
        << lines[at + 4].toStdString();
    EXPECT_TRUE(QFile::exists(details));
}

TEST_F(MainWindow, NoWithoutTheTraceAddsNoPrintedCount) {
    Start();
    AnalysisOptions options;
    options.Track = 0;
    program->Options.SetCurrent(options);
    progress->At([this] { ClickStatusBar(Window()); });
    EXPECT_CALL(dialogs, Question(_, QString("Abort calculation ?"), _)).WillOnce(Return(false));
    TypeTable(kTable3x3Margins20);
    EXPECT_EQ(CountStartingWith(Report(), "Number of sample points printed"), 0);
}

TEST_F(MainWindow, EditDuringARunShowsTheStoredTextAndTheRunGoesOn) {
    Start();
    TypeTable({{"1", "2"}, {"3", "4"}});
    const QStringList first = Report();
    Item("Store1")->trigger();
    QStringList shownLines;
    progress->At([&] {
        modals.When(&program->Results, [&] {
            shownLines = LinesOf(program->Results.RichEdit1()->toPlainText());
            program->Results.Return1()->trigger();
        });
        Item("Edit1")->trigger();
    });
    TypeTable(kTable3x3Margins20);
    EXPECT_TRUE(progress->Done());
    EXPECT_EQ(shownLines, first);
    EXPECT_TRUE(Report().contains("Number of sample points = 26796"));
}

// ------------------------------------------------------------- Read / Save

TEST_F(MainWindow, ReadsEveryTableOfAFileThenReportsNoData) {
    Start();
    const QString path = WriteFile("three.dat", kThreeTables);
    EXPECT_FALSE(Enabled("fromsamefile1"));

    ReadFromNewFile(path);
    EXPECT_EQ(Report().mid(2, kObserved2x3.size()), kObserved2x3);
    EXPECT_TRUE(Enabled("fromsamefile1"));
    EXPECT_TRUE(Enabled("Save1"));

    Item("fromsamefile1")->trigger();
    EXPECT_EQ(Report().mid(2, kObserved2x2.size()), kObserved2x2);
    EXPECT_TRUE(Enabled("fromsamefile1"));

    Item("fromsamefile1")->trigger();
    EXPECT_EQ(Report().mid(2, kObserved3x3.size()), kObserved3x3);
    EXPECT_TRUE(Enabled("fromsamefile1"));

    Item("fromsamefile1")->trigger();
    EXPECT_EQ(Report(), QStringList{kNoData});
    EXPECT_EQ(Status(), kNoData);
    EXPECT_FALSE(Enabled("fromsamefile1"));
    EXPECT_FALSE(Enabled("Save1"));
    EXPECT_TRUE(Enabled("Results1"));
}

TEST_F(MainWindow, ReadCancelledReportsNoDataAndKeepsFromSameFile) {
    Start();
    ReadFromNewFile(std::nullopt);
    EXPECT_EQ(Report(), QStringList{kNoData});
    EXPECT_EQ(Status(), kNoData);
    EXPECT_FALSE(Enabled("Save1"));
    EXPECT_FALSE(Enabled("fromsamefile1"));

    const QString path = WriteFile("one.dat", "1 2\n3 4\n");
    ReadFromNewFile(path);
    ASSERT_TRUE(Enabled("fromsamefile1"));
    ASSERT_TRUE(Enabled("Save1"));

    ReadFromNewFile(std::nullopt);
    EXPECT_EQ(Report(), QStringList{kNoData});
    EXPECT_EQ(Status(), kNoData);
    EXPECT_FALSE(Enabled("Save1"));
    EXPECT_TRUE(Enabled("fromsamefile1"));
    EXPECT_EQ(HintShownFor("*1"), QString("You have not yet read data"));
}

TEST_F(MainWindow, FromSameFileAfterNewAsksForAFile) {
    Start();
    const QString first = WriteFile("first.dat", kThreeTables);
    ReadFromNewFile(first);
    TypeTable({{"1", "2"}, {"3", "4"}});
    ASSERT_TRUE(Enabled("fromsamefile1"));

    const QString second = WriteFile("second.dat", "7 3 2\n1 5 9\n2 2 8\n");
    EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), QString(""))).WillOnce(Return(second));
    Item("fromsamefile1")->trigger();
    EXPECT_EQ(Report().mid(2, kObserved3x3.size()), kObserved3x3);
    EXPECT_EQ(HintShownFor("*1"), "Read table data from " + second);
}

TEST_F(MainWindow, ARaggedTableGivesTheErrorAndKeepsTheReport) {
    Start();
    TypeTable(kTable2x3);
    const QStringList before = Report();
    const QString path = WriteFile("ragged.dat", "1 2 3\n4 5\n\n");
    EXPECT_CALL(dialogs, ErrorAbort(_, "Data error reading file " + path));
    ReadFromNewFile(path);
    EXPECT_EQ(Report(), before);
    EXPECT_TRUE(Enabled("Save1"));
    EXPECT_FALSE(Enabled("fromsamefile1"));
}

TEST_F(MainWindow, SavesToNewThenSameFileAndReadsBothBack) {
    Start();
    EXPECT_FALSE(Enabled("Save1"));
    EXPECT_FALSE(Enabled("tosamefile1"));
    TypeTable(kTable2x3);
    ASSERT_TRUE(Enabled("Save1"));

    const QString path = folder.filePath("saved.dat");
    EXPECT_CALL(dialogs, SaveFileName(_, kSaveDataFilter, QString("dat"), _)).WillOnce(Return(path));
    Item("tonewfile1")->trigger();
    EXPECT_TRUE(Enabled("tosamefile1"));
    EXPECT_EQ(FileLines(path), QStringList({"   10   20   30", "    5   15   20", ""}));

    // To the same file: appended, without a dialog.
    Item("tosamefile1")->trigger();
    EXPECT_EQ(FileLines(path),
              QStringList({"   10   20   30", "    5   15   20", "", "   10   20   30", "    5   15   20", ""}));

    ReadFromNewFile(path);
    EXPECT_EQ(Report().mid(2, kObserved2x3.size()), kObserved2x3);
    Item("fromsamefile1")->trigger();
    EXPECT_EQ(Report().mid(2, kObserved2x3.size()), kObserved2x3);
    Item("fromsamefile1")->trigger();
    EXPECT_EQ(Report(), QStringList{kNoData});
}

TEST_F(MainWindow, SaveToNewFileEnablesSameFileEvenWhenCancelled) {
    Start();
    TypeTable(kTable2x3);
    EXPECT_CALL(dialogs, SaveFileName(_, kSaveDataFilter, QString("dat"), _)).WillOnce(Return(std::nullopt));
    Item("tonewfile1")->trigger();
    EXPECT_TRUE(Enabled("tosamefile1"));
    EXPECT_EQ(HintShownFor("*2"), QString("You have not yet saved data"));

    // The next "to same file" asks for the name, and creates the file.
    const QString path = folder.filePath("later.dat");
    EXPECT_CALL(dialogs, SaveFileName(_, kSaveDataFilter, QString("dat"), _)).WillOnce(Return(path));
    Item("tosamefile1")->trigger();
    EXPECT_EQ(FileLines(path), QStringList({"   10   20   30", "    5   15   20", ""}));
}

// ---------------------------------------------------------- Bulk processing

TEST_F(MainWindow, BulkProcessingWritesEveryReportToTheResultFile) {
    Start();
    const QString data = WriteFile("bulk.dat", kThreeTables);
    const QString result = WriteFile("bulk.txt", "old contents\n");
    EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(data));
    EXPECT_CALL(dialogs, SaveFileName(_, kTextFilter, QString("txt"), _)).WillOnce(Return(result));
    progress->StartRun();
    Item("Bulkprocessing1")->trigger();

    EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
    EXPECT_TRUE(EditorLines().isEmpty());

    const QStringList lines = FileLines(result);
    EXPECT_FALSE(lines.contains("old contents")) << "the result file starts empty";
    EXPECT_EQ(CountStartingWith(lines, "Zelkat" + QString(16, ' ')), 3);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines[0], QString(" "));
    const qsizetype first = IndexOfBlock(lines, kObserved2x3);
    const qsizetype second = IndexOfBlock(lines, kObserved2x2);
    const qsizetype third = IndexOfBlock(lines, kObserved3x3);
    EXPECT_GE(first, 0);
    EXPECT_GT(second, first);
    EXPECT_GT(third, second);
    EXPECT_EQ(CountStartingWith(lines, "Number of sample points = "), 3);
    EXPECT_FALSE(Enabled("fromsamefile1"));
}

TEST_F(MainWindow, BulkProcessingWithoutResultFileFillsTheEditor) {
    Start();
    const QString data = WriteFile("bulk.dat", kThreeTables);
    EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(data));
    EXPECT_CALL(dialogs, SaveFileName(_, kTextFilter, QString("txt"), _)).WillOnce(Return(std::nullopt));
    progress->StartRun();
    Item("Bulkprocessing1")->trigger();

    EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
    const QStringList lines = EditorLines();
    EXPECT_EQ(CountStartingWith(lines, "Zelkat" + QString(16, ' ')), 3);
    const qsizetype first = IndexOfBlock(lines, kObserved2x3);
    const qsizetype second = IndexOfBlock(lines, kObserved2x2);
    const qsizetype third = IndexOfBlock(lines, kObserved3x3);
    EXPECT_GE(first, 0);
    EXPECT_GT(second, first);
    EXPECT_GT(third, second);
    EXPECT_TRUE(Enabled("Results1"));
}

TEST_F(MainWindow, BulkProcessingCancelledWithoutDataFileDoesNothing) {
    Start();
    TypeTable(kTable2x3);
    const QStringList before = Report();
    EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(std::nullopt));
    Item("Bulkprocessing1")->trigger();
    EXPECT_EQ(Report(), before);
    EXPECT_TRUE(EditorLines().isEmpty());
}

TEST_F(MainWindow, BulkProcessingProposesTheLastDataFileAndReadsFromIt) {
    Start();
    const QString first = WriteFile("first.dat", "1 2\n3 4\n");
    ReadFromNewFile(first);
    const QString data = WriteFile("bulk.dat", kThreeTables);
    EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), first)).WillOnce(Return(data));
    EXPECT_CALL(dialogs, SaveFileName(_, kTextFilter, QString("txt"), _)).WillOnce(Return(std::nullopt));
    Item("Bulkprocessing1")->trigger();
    EXPECT_EQ(HintShownFor("*1"), "Read table data from " + data);
    EXPECT_EQ(CountStartingWith(EditorLines(), "Zelkat"), 3);
}

TEST_F(MainWindow, ClosingDuringBulkProcessingClosesOnceItHasStopped) {
    Start();
    QByteArray tables;
    for (const auto& row : kLongTable) {
        for (const std::string& cell : row) tables += QByteArray(" ") + cell.c_str();
        tables += "\n";
    }
    tables += "\n" + kThreeTables;
    const QString data = WriteFile("long.dat", tables);
    const QString result = folder.filePath("long.txt");
    EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(data));
    EXPECT_CALL(dialogs, SaveFileName(_, kTextFilter, QString("txt"), _)).WillOnce(Return(result));
    progress->At([this] { Window().close(); });
    progress->StartRun();
    Item("Bulkprocessing1")->trigger();
    EXPECT_TRUE(progress->Done());
    EXPECT_FALSE(State().Running);

    EXPECT_TRUE(ProcessEventsUntil([this] { return !Window().isVisible(); }))
        << "the window did not close once the processing had stopped";
    EXPECT_EQ(PlacementWrites().size(), 8u);
    // The broken-off table's report went to the result file.
    const QStringList lines = FileLines(result);
    EXPECT_EQ(CountStartingWith(lines, " Calculations interrupted at sample point nr "), 1);
    EXPECT_GE(IndexOfBlock(lines, kObservedLong), 0);
    QApplication::processEvents();
}

TEST_F(MainWindow, BreakingOffOneTableOfBulkProcessingGoesOnWithTheNext) {
    Start();
    QByteArray tables;
    for (const auto& row : kLongTable) {
        for (const std::string& cell : row) tables += QByteArray(" ") + cell.c_str();
        tables += "\n";
    }
    tables += "\n" + kThreeTables;
    const QString data = WriteFile("long.dat", tables);
    const QString result = folder.filePath("long.txt");
    EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(data));
    EXPECT_CALL(dialogs, SaveFileName(_, kTextFilter, QString("txt"), _)).WillOnce(Return(result));
    progress->At([this] { ClickStatusBar(Window()); });
    EXPECT_CALL(dialogs, Question(_, QString("Abort calculation ?"), _)).WillOnce(Return(true));
    progress->StartRun();
    Item("Bulkprocessing1")->trigger();
    EXPECT_TRUE(progress->Done());

    const QStringList lines = FileLines(result);
    EXPECT_EQ(CountStartingWith(lines, "Zelkat" + QString(16, ' ')), 4);
    const qsizetype broken = IndexOfBlock(lines, kObservedLong);
    const qsizetype stop = lines.indexOf(QRegularExpression("^ Calculations interrupted at sample point nr \\d+$"));
    const qsizetype first = IndexOfBlock(lines, kObserved2x3);
    const qsizetype second = IndexOfBlock(lines, kObserved2x2);
    const qsizetype third = IndexOfBlock(lines, kObserved3x3);
    EXPECT_GE(broken, 0);
    EXPECT_GT(stop, broken);
    EXPECT_GT(first, stop);
    EXPECT_GT(second, first);
    EXPECT_GT(third, second);
    EXPECT_EQ(CountStartingWith(lines, "Number of sample points = "), 3);
    EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
    EXPECT_TRUE(Window().isVisible());
}

// ------------------------------------------------------------------ Results

TEST_F(MainWindow, StoreMovesTheReportToTheEditor) {
    Start();
    TypeTable(kTable2x3);
    const QStringList first = Report();
    Item("Store1")->trigger();
    EXPECT_EQ(Window().Memo1()->toPlainText(), QString(""));
    EXPECT_EQ(EditorLines(), first);
    EXPECT_FALSE(program->Results.isVisible()) << "Store does not show the editor";

    // An empty pane changes nothing.
    Item("Store1")->trigger();
    EXPECT_EQ(EditorLines(), first);

    // A second report follows the first directly.
    TypeTable({{"1", "2"}, {"3", "4"}});
    const QStringList second = Report();
    Item("Store1")->trigger();
    EXPECT_EQ(EditorLines(), first + second);
}

TEST_F(MainWindow, EditOpensTheEditorAtTheMainWindowsTopLeft) {
    Start();
    TypeTable(kTable2x3);
    const QStringList report = Report();
    Item("Store1")->trigger();
    Window().move(333, 244);
    QApplication::processEvents();
    const QSize editorSize = program->Results.size();

    const QString saved = folder.filePath("results.txt");
    EXPECT_CALL(dialogs, SaveFileName(_, kTextFilter, QString("txt"), _)).WillOnce(Return(saved));
    QPoint shownAt;
    QSize shownSize;
    QStringList shownLines;
    QString countAfterErase;
    QString textAfterErase = "<not erased>";
    modals.When(&program->Results, [&] {
        TResults& editor = program->Results;
        shownAt = editor.pos();
        shownSize = editor.size();
        shownLines = LinesOf(editor.RichEdit1()->toPlainText());
        editor.Savetofile1()->trigger();
        editor.Eraseall1()->trigger();
        textAfterErase = editor.RichEdit1()->toPlainText();
        countAfterErase = editor.StatusBar1()->currentMessage();
        editor.Return1()->trigger();
    });
    Item("Edit1")->trigger();

    EXPECT_EQ(shownAt, QPoint(333, 244));
    EXPECT_EQ(shownSize, editorSize);
    EXPECT_EQ(shownLines, report);
    EXPECT_EQ(textAfterErase, QString(""));
    EXPECT_EQ(countAfterErase, QString("0"));

    // The saved file: the text with every line break as CR LF.
    const QByteArray bytes = FileBytes(saved);
    QByteArray expected;
    for (const QString& line : report) expected += line.toUtf8() + "\r\n";
    EXPECT_EQ(bytes, expected);

    // The editor stays available, now empty.
    EXPECT_TRUE(Enabled("Results1"));
    EXPECT_TRUE(EditorLines().isEmpty());
}

// --------------------------------------------------------------------- Exit

// Whether this process holds a file descriptor open on PATH.
bool IsOpenHere(const QString& path) {
    const QString wanted = QFileInfo(path).canonicalFilePath();
    const QDir descriptors("/proc/self/fd");
    for (const QFileInfo& entry : descriptors.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo(entry.symLinkTarget()).canonicalFilePath() == wanted) return true;
    }
    return false;
}

TEST_F(MainWindow, CloseClosesTheDataFileKeptOpenBetweenReads) {
    if (!QDir("/proc/self/fd").exists()) GTEST_SKIP() << "no /proc/self/fd here";
    Start();
    const QString path = WriteFile("kept.dat", kThreeTables);
    ReadFromNewFile(path);
    EXPECT_TRUE(IsOpenHere(path)) << "the data file stays open for the next read";
    Item("Exit2")->trigger();
    EXPECT_FALSE(Window().isVisible());
    EXPECT_FALSE(IsOpenHere(path));
}

TEST_F(MainWindow, ExitClosesTheWindowWithoutAnyTableAnalysed) {
    Start();
    Item("Exit2")->trigger();
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(PlacementWrites().size(), 8u);
}

}  // namespace
}  // namespace mainwindowtest
}  // namespace kelvorin
