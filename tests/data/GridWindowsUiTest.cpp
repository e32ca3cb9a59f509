// The entry grid and proportions windows as the user drives them: keys (also
// in an open cell editor), status texts, menu commands, the entry grid's check.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>

#include "MockDialogs.h"
#include "TInputGrid.h"
#include "TProGrid.h"
#include "WindowFrames.h"
#include "engine/FakePorts.h"

namespace kelvorin {
namespace {

using Cell = std::pair<int, int>;  // (column, row), or (columns, rows)
using QTexts = std::vector<QString>;

void Press(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text), release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

// Types DIGIT into the current cell, which opens its editor; returns the editor.
QWidget* TypeInto(QTableWidget* grid, char digit) {
    Press(grid, Qt::Key_0 + (digit - '0'), Qt::NoModifier, QString(QChar(digit)));
    for (QLineEdit* edit : grid->viewport()->findChildren<QLineEdit*>())
        if (edit->isVisible()) return edit;
    ADD_FAILURE() << "no cell editor opened";
    return grid;
}

// Shapes the grid COLS x ROWS and fills it row by row with TEXTS, then "".
void Fill(TextGrid& grid, int cols, int rows, const std::vector<std::string>& texts = {}) {
    grid.SetColCount(cols);
    grid.SetRowCount(rows);
    for (std::size_t k = 0; k < std::size_t(cols * rows); ++k)
        grid.SetCell(int(k) % cols, int(k) / cols, k < texts.size() ? texts[k] : "");
}

bool ClosedWith(const QDialog& window, int result) { return !window.isVisible() && window.result() == result; }
Cell Current(const QTableWidget* grid) { return {grid->currentColumn(), grid->currentRow()}; }
Cell Shape(TextGrid& grid) { return {grid.ColCount(), grid.RowCount()}; }

// Windows are shown without a modal loop (accept() and reject() close them as
// exec()); every message must be a box captioned "Error" without an icon.
class InputGridTest : public ::testing::Test {
protected:
    InputGridTest() {
        SetDialogService(&dialogs);
        EXPECT_CALL(dialogs, Message(&window, ::testing::_, QString("Error"), DialogService::Icon::None))
            .WillRepeatedly([this](QWidget*, const QString& text, auto&&...) { messages.push_back(text); });
    }
    ~InputGridTest() override { SetDialogService(nullptr); }
    QString Status() const { return window.findChild<QStatusBar*>("StatusBar1")->currentMessage(); }

    ::testing::StrictMock<testdialogs::MockDialogs> dialogs;
    fakes::SettableOptions options;
    TInputGrid window{&options};
    QTableWidget* grid = window.findChild<QTableWidget*>("StringGrid1");
    QTexts messages;
};

// Enter follows the entry order read at each key press (row by row for 0,
// else column by column) and closes after the check; Enter, Right and End
// in an open cell editor act on its text committed first.
TEST_F(InputGridTest, EnterFollowsTheEntryOrderAndKeysInAnEditorCommitItsText) {
    for (const auto& [inputData, expected] : std::vector<std::pair<int, std::vector<Cell>>>{
             {0, {{1, 0}, {0, 1}, {1, 1}}}, {1, {{0, 1}, {1, 0}, {1, 1}}}, {-1, {{0, 1}, {1, 0}, {1, 1}}}}) {
        Fill(window.Grid(), 2, 2, {"1", "2", "3", "4"});
        window.show();
        options.options.InputData = inputData;
        std::vector<Cell> visited;
        for (int i = 0; i < 3; ++i) {
            Press(grid, Qt::Key_Return);
            visited.push_back(Current(grid));
        }
        EXPECT_EQ(visited, expected) << inputData;
        Press(grid, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(ClosedWith(window, QDialog::Accepted)) << inputData;
    }
    Fill(window.Grid(), 2, 2, {"", "2", "3", ""});
    options.options.InputData = 0;
    window.show();
    grid->setCurrentCell(0, 0);
    Press(TypeInto(grid, '1'), Qt::Key_Return);
    EXPECT_EQ(Current(grid), Cell(1, 0));
    grid->setCurrentCell(1, 1);
    Press(TypeInto(grid, '9'), Qt::Key_Right);
    EXPECT_EQ(Current(grid), Cell(2, 1));
    grid->setCurrentCell(0, 1);
    Press(TypeInto(grid, '7'), Qt::Key_End);  // the new empty column is trimmed
    EXPECT_TRUE(ClosedWith(window, QDialog::Accepted));
    EXPECT_EQ(window.Grid().Cell(0, 0) + window.Grid().Cell(1, 0) + window.Grid().Cell(1, 1), "179");
}

// The check trims empty trailing columns and rows in at most six passes (a
// blank is not empty), then names the first faulty cell of each row.
TEST_F(InputGridTest, CheckTrimsEmptyEdgesThenNamesTheFirstFaultyCellOfEachRow) {
    struct Case {
        Cell shape;
        std::vector<std::string> texts;
        Cell shapeAfter;
        QTexts messages;
        bool passes = false;
    };
    const std::vector<Case> cases = {
        {{4, 4}, {"5", "6", "", "", "7", "8"}, {2, 2}, {}, true},
        {{3, 3}, {"1", "2", "", "3", "4", "9", "5", "6", ""}, {3, 3}, {"Data error at (1,3).", "Data error at (3,3)."}},
        {{3, 3}, {"1", "x", "-1", "4", "5", "6", "3.5", "8", "9"}, {3, 3},
         {"Data error at (1,2).", "Data error at (3,1)."}},
        {{2, 2}, {"1", " ", "3", ""}, {2, 2}, {"Data error at (1,2).", "Data error at (2,2)."}},
        {{6, 1}, {"5"}, {1, 1}, {}, true},
        {{1, 6}, {"5"}, {1, 1}, {}, true},
        {{8, 1}, {"5"}, {2, 1}, {}},
        {{1, 8}, {"5"}, {1, 2}, {}},
        {{2, 2}, {}, {1, 1}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.shape.first << " x " << c.shape.second);
        Fill(window.Grid(), c.shape.first, c.shape.second, c.texts);
        messages.clear();
        EXPECT_EQ(window.CheckEntryGrid(), c.passes);
        EXPECT_EQ(Shape(window.Grid()), c.shapeAfter);
        EXPECT_EQ(messages, c.messages);
    }
}

// A count cell is blanks, an optional sign and digits, at most 2147483647 and
// not negative: catches a cell that no table may hold passing the check.
TEST_F(InputGridTest, CountCellsMustBeWholeNumbersOfZeroOrMore) {
    for (const auto& [text, passes] : std::vector<std::pair<std::string, bool>>{
             {"0", true}, {"007", true}, {"  12", true}, {"+3", true}, {"-0", true}, {"2147483647", true},
             {"2147483648", false}, {"3.5", false}, {"-1", false}, {"", false}, {" ", false}, {"a", false},
             {"12 ", false}, {"1 2", false}, {"+", false}, {"1e3", false}, {"0x1F", false}}) {
        Fill(window.Grid(), 2, 2, {text, "2", "3", "4"});
        messages.clear();
        EXPECT_EQ(window.CheckEntryGrid(), passes) << "'" << text << "'";
        EXPECT_EQ(messages, passes ? QTexts{} : QTexts{"Data error at (1,1)."}) << "'" << text << "'";
    }
}

// After End the window stays open with the last faulty cell current and the
// grid focused; after Return it closes with Cancel, the faulty text kept.
TEST_F(InputGridTest, FaultyCellsAfterReturnCloseWithCancelAndKeepTheirText) {
    Fill(window.Grid(), 3, 3, {"1", "x", "-1", "4", "5", "6", "3.5", "8", "9"});
    window.show();
    Press(grid, Qt::Key_End);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(Current(grid), Cell(0, 2));
    EXPECT_EQ(window.focusWidget(), grid);
    window.findChild<QAction*>("Return1")->trigger();
    EXPECT_TRUE(ClosedWith(window, QDialog::Rejected));
    EXPECT_EQ(messages.size(), 4u);
    EXPECT_EQ(window.Grid().Cell(1, 0), "x");
}

// Alt with a letter in an open cell editor types nothing (a menu key whose
// letter no item has); the cell keeps what was typed.
TEST_F(InputGridTest, AltWithALetterTypesNothingIntoACell) {
    Fill(window.Grid(), 2, 2, {"", "2", "3", "4"});
    window.show();
    QWidget* editor = TypeInto(grid, '6');
    Press(editor, Qt::Key_X, Qt::AltModifier, "x");
    Press(editor, Qt::Key_Q, Qt::AltModifier | Qt::ShiftModifier, "Q");
    Press(grid, Qt::Key_Down);
    EXPECT_EQ(window.Grid().Cell(0, 0), "6");
}

// Right and Down grow the grid at its edge (not when shifted), the status names
// the ways to extend, Clear All keeps the size and the current cell. A Read
// reshapes the grid while the window is hidden: the next showing sets the
// status even though its first cell was current already.
TEST_F(InputGridTest, ArrowsExtendTheGridAndTheStatusNamesTheWays) {
    Fill(window.Grid(), 2, 2, {"1", "2", "3", "4"});
    window.show();
    Press(grid, Qt::Key_Right);
    EXPECT_EQ(Status(), QString("Use Arrow right to extend table"));
    Press(grid, Qt::Key_Right, Qt::ShiftModifier);
    Press(grid, Qt::Key_Right);
    Press(grid, Qt::Key_Down);
    EXPECT_EQ(Status(), QString("Use Arrow right or Arrow down to extend table"));
    Press(grid, Qt::Key_Down);
    EXPECT_EQ(Shape(window.Grid()), Cell(3, 3));
    EXPECT_EQ(Current(grid), Cell(2, 2));
    EXPECT_EQ(window.Grid().Cell(2, 1) + window.Grid().Cell(1, 1), "4");  // new cells empty, old ones kept
    grid->setCurrentCell(2, 0);  // by program, as a mouse click would
    EXPECT_EQ(Status(), QString("Use Arrow down to extend table"));
    window.findChild<QAction*>("ClearAll1")->trigger();
    for (int k = 0; k < 9; ++k) EXPECT_EQ(window.Grid().Cell(k % 3, k / 3), "") << k;
    EXPECT_EQ(Current(grid), Cell(0, 2));
    grid->setCurrentCell(0, 0);
    Press(grid, Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible());  // Escape does not close it
    window.close();
    Fill(window.Grid(), 1, 3);
    window.show();
    EXPECT_EQ(Status(), QString("Use Arrow right to extend table"));
    // A check that trims the current cell's column away and fails leaves
    // the status naming the ways from the cell that is current now.
    window.close();
    Fill(window.Grid(), 2, 1, {"1", "2"});
    window.show();
    grid->setCurrentCell(0, 1);
    for (int k = 0; k < 7; ++k) Press(grid, Qt::Key_Right);
    Press(grid, Qt::Key_End);
    EXPECT_TRUE(window.isVisible() && messages.empty());
    EXPECT_EQ(Shape(window.Grid()), Cell(3, 1));
    EXPECT_EQ(Current(grid), Cell(2, 0));
    EXPECT_EQ(Status(), QString("Use Arrow right or Arrow down to extend table"));
}

// The proportions window: Down or Enter moves along a column, Right or Enter
// along a row, closing it with OK past the end; Clear all empties, Return commits the
// text typed, End sets every weight to 1. Catches keys that move the wrong
// way or lose typed weights.
TEST(ProGridTest, KeysMoveThroughTheCategoriesAndCommitOrSetTheWeights) {
    TProGrid window;
    auto* grid = window.findChild<QTableWidget*>("StringGrid1");
    auto weights = [&] { return window.Grid().Cell(0, 0) + window.Grid().Cell(0, 1) + window.Grid().Cell(0, 2); };
    for (const auto& [shape, key] : {std::pair{Cell(1, 3), Qt::Key_Down}, std::pair{Cell(3, 1), Qt::Key_Right},
                                     std::pair{Cell(1, 3), Qt::Key_Return}, std::pair{Cell(3, 1), Qt::Key_Enter}}) {
        Fill(window.Grid(), shape.first, shape.second);
        window.show();
        Press(grid, key);
        Press(grid, key);
        EXPECT_EQ(Current(grid), shape.first == 1 ? Cell(0, 2) : Cell(2, 0));
        Press(grid, key);
        EXPECT_TRUE(ClosedWith(window, QDialog::Accepted)) << key;
    }
    Fill(window.Grid(), 1, 3, {"2", "0.5", "x"});
    window.show();
    window.findChild<QAction*>("Clearall1")->trigger();
    Press(TypeInto(grid, '2'), Qt::Key_Down);
    TypeInto(grid, '3');
    window.findChild<QAction*>("Return1")->trigger();
    EXPECT_TRUE(ClosedWith(window, QDialog::Accepted));
    EXPECT_EQ(weights(), "23");
    window.show();
    Press(grid, Qt::Key_End);
    EXPECT_EQ(weights(), "111");
}

// Under a window manager, which frames a window only once it is shown: the
// placement read back after an accepted entry is the one the window was
// given, however often it is shown, in one session or in a new one (a
// window of its own each time, as at every start of the program). Run by
// the test GridPlacementUnderAWindowManager; elsewhere windows have no frame.
TEST(WindowManager, TheEntryGridKeepsItsPlacementAcrossShowingsAndSessions) {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X display with a window manager";
    // A window manager frames the windows here (a placement read back
    // unchanged would prove nothing without one).
    QWidget framed;
    framed.show();
    ASSERT_TRUE(testwindows::Framed(framed));
    fakes::SettableOptions options;
    const Placement given{100, 120, 300, 400};
    Placement placement = given;
    for (int session = 0; session < 3; ++session) {
        TInputGrid window{&options};
        for (int showing = 0; showing < 3; ++showing) {
            QTimer::singleShot(400, &window, [&] { window.accept(); });
            ASSERT_TRUE(window.ShowModalAt(placement));
            placement = window.CurrentPlacement();
            EXPECT_EQ(placement, given) << "session " << session << ", showing " << showing;
        }
    }
}

}  // namespace
}  // namespace kelvorin
