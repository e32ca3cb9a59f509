// The entry grid window: its keys, status texts, Clear All, Return and the
// check that trims the grid and reports faulty cells.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <string>
#include <utility>
#include <vector>

#include "DialogService.h"
#include "TInputGrid.h"

namespace kelvorin {
namespace {

struct ShownMessage {
    QString text;
    QString caption;
    DialogService::Icon icon;
};

// Answers every dialog at once and records the messages.
class RecordingDialogs : public DialogService {
public:
    void Message(QWidget*, const QString& text, const QString& caption, Icon icon) override {
        messages.push_back({text, caption, icon});
    }
    bool Question(QWidget*, const QString&, const QString&) override { return false; }
    void ErrorAbort(QWidget*, const QString& text) override { messages.push_back({text, "", Icon::Error}); }
    std::optional<QString> OpenFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> SaveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }

    std::vector<ShownMessage> messages;
};

class FixedOptions : public OptionsProvider {
public:
    AnalysisOptions Current() const override { return options; }
    AnalysisOptions options;
};

class InputGridTest : public ::testing::Test {
protected:
    InputGridTest() : window(&options) {
        SetDialogService(&dialogs);
        grid = window.findChild<QTableWidget*>("StringGrid1");
        status = window.findChild<QStatusBar*>("StatusBar1");
    }
    ~InputGridTest() override { SetDialogService(nullptr); }

    // Makes the grid COLS x ROWS and fills it row by row with TEXTS.
    void Fill(int cols, int rows, const std::vector<std::string>& texts) {
        window.Grid().SetColCount(cols);
        window.Grid().SetRowCount(rows);
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j) window.Grid().SetCell(j, i, texts[static_cast<std::size_t>(i * cols + j)]);
    }

    // Shows the window without a modal loop: the handlers close it with
    // accept() or reject() as they would close exec().
    void Open() {
        window.setResult(-1);
        window.show();
    }

    void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, QWidget* target = nullptr,
               const QString& text = QString()) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(target ? target : grid, &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
        QApplication::sendEvent(target ? target : grid, &release);
    }

    std::pair<int, int> Current() const { return {grid->currentColumn(), grid->currentRow()}; }
    QString Status() const { return status->currentMessage(); }
    bool ClosedWith(int result) const { return !window.isVisible() && window.result() == result; }

    std::vector<QString> MessageTexts() const {
        std::vector<QString> texts;
        for (const auto& m : dialogs.messages) texts.push_back(m.text);
        return texts;
    }

    RecordingDialogs dialogs;
    FixedOptions options;
    TInputGrid window;
    QTableWidget* grid = nullptr;
    QStatusBar* status = nullptr;
};

using Cell = std::pair<int, int>;  // (column, row)

TEST_F(InputGridTest, StartsAsAnEmptyTwoByTwoGridWithItsNamedParts) {
    EXPECT_EQ(window.windowTitle(), QString("InputGrid"));
    ASSERT_NE(grid, nullptr);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(window.Grid().ColCount(), 2);
    EXPECT_EQ(window.Grid().RowCount(), 2);
    EXPECT_EQ(window.Grid().Cell(1, 1), "");
    EXPECT_EQ(Status(), QString());
    auto* clearAll = window.findChild<QAction*>("ClearAll1");
    auto* ret = window.findChild<QAction*>("Return1");
    ASSERT_NE(clearAll, nullptr);
    ASSERT_NE(ret, nullptr);
    EXPECT_EQ(clearAll->text(), QString("&Clear All"));
    EXPECT_EQ(ret->text(), QString("&Return"));
    EXPECT_NE(window.findChild<QWidget*>("MainMenu1"), nullptr);
}

TEST_F(InputGridTest, EnterRowByRowVisitsEveryCellThenChecksAndClosesWithOk) {
    options.options.InputData = 0;
    Fill(2, 2, {"1", "2", "3", "4"});
    Open();
    EXPECT_EQ(Current(), Cell(0, 0));
    std::vector<Cell> visited;
    for (int i = 0; i < 3; ++i) {
        Press(Qt::Key_Return);
        visited.push_back(Current());
    }
    EXPECT_EQ(visited, (std::vector<Cell>{{1, 0}, {0, 1}, {1, 1}}));
    EXPECT_TRUE(window.isVisible());
    Press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(ClosedWith(QDialog::Accepted));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(InputGridTest, EnterColumnByColumnForAnyOtherOptionValue) {
    for (int inputData : {1, -1}) {
        SCOPED_TRACE(inputData);
        options.options.InputData = inputData;
        Fill(2, 2, {"1", "2", "3", "4"});
        Open();
        std::vector<Cell> visited;
        for (int i = 0; i < 3; ++i) {
            Press(Qt::Key_Return);
            visited.push_back(Current());
        }
        EXPECT_EQ(visited, (std::vector<Cell>{{0, 1}, {1, 0}, {1, 1}}));
        Press(Qt::Key_Return);
        EXPECT_TRUE(ClosedWith(QDialog::Accepted));
    }
}

TEST_F(InputGridTest, EnterReadsTheOrderAtEachKeyPress) {
    Fill(3, 3, std::vector<std::string>(9, "1"));
    Open();
    options.options.InputData = 0;
    Press(Qt::Key_Return);
    EXPECT_EQ(Current(), Cell(1, 0));
    options.options.InputData = 1;
    Press(Qt::Key_Return);
    EXPECT_EQ(Current(), Cell(1, 1));
}

TEST_F(InputGridTest, EndChecksAndClosesFromAnyCell) {
    Fill(3, 2, {"1", "2", "3", "4", "5", "6"});
    Open();
    Press(Qt::Key_End);
    EXPECT_TRUE(ClosedWith(QDialog::Accepted));
}

TEST_F(InputGridTest, EmptyTrailingColumnsAndRowsAreTrimmedBeforeTheCheck) {
    std::vector<std::string> texts(16, "");
    texts[0] = "5";
    texts[1] = "6";
    texts[4] = "7";
    texts[5] = "8";
    Fill(4, 4, texts);
    Open();
    window.Return1Click();
    EXPECT_TRUE(ClosedWith(QDialog::Accepted));
    EXPECT_EQ(window.Grid().ColCount(), 2);
    EXPECT_EQ(window.Grid().RowCount(), 2);
    EXPECT_EQ(window.Grid().Cell(1, 1), "8");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(InputGridTest, APartlyFilledLastColumnStaysAndItsEmptyCellsAreErrors) {
    Fill(3, 3, {"1", "2", "", "3", "4", "9", "5", "6", ""});
    Open();
    window.Return1Click();
    EXPECT_TRUE(ClosedWith(QDialog::Rejected));
    EXPECT_EQ(window.Grid().ColCount(), 3);
    EXPECT_EQ(MessageTexts(), (std::vector<QString>{"Data error at (1,3).", "Data error at (3,3)."}));
}

TEST_F(InputGridTest, OneMessagePerFaultyRowInRowOrderAndTheLastFaultBecomesCurrent) {
    // Faults at row 1 column 2, row 1 column 3 and row 3 column 1.
    Fill(3, 3, {"1", "x", "-1", "4", "5", "6", "3.5", "8", "9"});
    Open();
    Press(Qt::Key_End);
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, QString("Data error at (1,2)."));
    EXPECT_EQ(dialogs.messages[1].text, QString("Data error at (3,1)."));
    for (const auto& m : dialogs.messages) {
        EXPECT_EQ(m.caption, QString("Error"));
        EXPECT_EQ(m.icon, DialogService::Icon::None);
    }
    EXPECT_EQ(Current(), Cell(0, 2));
    EXPECT_EQ(window.focusWidget(), grid);
}

TEST_F(InputGridTest, FaultyCellsAfterReturnCloseWithCancelAndKeepTheirText) {
    Fill(2, 2, {"1", "2", "3", "a"});
    Open();
    window.Return1Click();
    EXPECT_TRUE(ClosedWith(QDialog::Rejected));
    EXPECT_EQ(MessageTexts(), std::vector<QString>{"Data error at (2,2)."});
    EXPECT_EQ(window.Grid().Cell(1, 1), "a");
}

// Each text is checked in cell (1, 1) of a 2 x 2 grid whose other cells hold
// counts; the last column and row are never empty, so nothing is trimmed.
class CountTextTest : public InputGridTest, public ::testing::WithParamInterface<std::pair<std::string, bool>> {};

TEST_P(CountTextTest, OnlyWholeNumbersOfZeroOrMorePass) {
    const auto& [text, passes] = GetParam();
    Fill(2, 2, {"1", "2", "3", "4"});
    window.Grid().SetCell(0, 0, text);
    Open();
    EXPECT_EQ(window.CheckEntryGrid(), passes);
    if (passes) {
        EXPECT_TRUE(dialogs.messages.empty());
    } else {
        EXPECT_EQ(MessageTexts(), std::vector<QString>{"Data error at (1,1)."});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CountTextTest,
    ::testing::Values(std::pair<std::string, bool>{"0", true}, std::pair<std::string, bool>{"007", true},
                      std::pair<std::string, bool>{"12", true}, std::pair<std::string, bool>{"  12", true},
                      std::pair<std::string, bool>{"+3", true}, std::pair<std::string, bool>{"-0", true},
                      std::pair<std::string, bool>{"2147483647", true},
                      std::pair<std::string, bool>{"2147483648", false},
                      std::pair<std::string, bool>{"3.5", false}, std::pair<std::string, bool>{"-1", false},
                      std::pair<std::string, bool>{"", false}, std::pair<std::string, bool>{" ", false},
                      std::pair<std::string, bool>{"a", false}, std::pair<std::string, bool>{"12 ", false},
                      std::pair<std::string, bool>{"1 2", false}, std::pair<std::string, bool>{"+", false},
                      std::pair<std::string, bool>{"1e3", false}, std::pair<std::string, bool>{"0x1F", false}));

TEST_F(InputGridTest, AnEmptyGridFailsSilently) {
    Fill(2, 2, {"", "", "", ""});
    Open();
    Press(Qt::Key_End);
    EXPECT_TRUE(window.isVisible());
    grid->setCurrentCell(grid->rowCount() - 1, grid->columnCount() - 1);
    Press(Qt::Key_Return);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.Grid().ColCount(), 1);
    EXPECT_EQ(window.Grid().RowCount(), 1);
    window.Return1Click();
    EXPECT_TRUE(ClosedWith(QDialog::Rejected));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(InputGridTest, FiveEmptyTrailingColumnsAreTrimmedInOneCheckSixAreNot) {
    // Five: five passes remove one column each, the sixth removes nothing.
    Fill(6, 1, {"5", "", "", "", "", ""});
    EXPECT_TRUE(window.CheckEntryGrid());
    EXPECT_EQ(window.Grid().ColCount(), 1);

    // Six: all six passes remove something, so the check fails silently and
    // keeps what it removed; the next attempt finishes the trimming.
    Fill(7, 1, {"5", "", "", "", "", "", ""});
    Open();
    Press(Qt::Key_End);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.Grid().ColCount(), 1);
    Press(Qt::Key_End);
    EXPECT_TRUE(ClosedWith(QDialog::Accepted));

    Fill(9, 1, {"5", "", "", "", "", "", "", "", ""});
    EXPECT_FALSE(window.CheckEntryGrid());
    EXPECT_EQ(window.Grid().ColCount(), 3);
    EXPECT_TRUE(window.CheckEntryGrid());
    EXPECT_EQ(window.Grid().ColCount(), 1);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(InputGridTest, TrailingRowsAreTrimmedLikeColumns) {
    Fill(1, 8, {"5", "", "", "", "", "", "", ""});
    EXPECT_FALSE(window.CheckEntryGrid());
    EXPECT_EQ(window.Grid().RowCount(), 2);
    EXPECT_TRUE(window.CheckEntryGrid());
    EXPECT_EQ(window.Grid().RowCount(), 1);
}

TEST_F(InputGridTest, ABlankCellIsNotEmptyForTrimming) {
    Fill(2, 2, {"1", " ", "3", ""});
    EXPECT_FALSE(window.CheckEntryGrid());
    EXPECT_EQ(window.Grid().ColCount(), 2);
    EXPECT_EQ(window.Grid().RowCount(), 2);
    EXPECT_EQ(MessageTexts(), (std::vector<QString>{"Data error at (1,2).", "Data error at (2,2)."}));
}

TEST_F(InputGridTest, RightInTheLastColumnAddsAnEmptyColumn) {
    Fill(2, 2, {"1", "2", "3", "4"});
    Open();
    Press(Qt::Key_Right);
    EXPECT_EQ(window.Grid().ColCount(), 2);
    EXPECT_EQ(Current(), Cell(1, 0));
    EXPECT_EQ(Status(), QString("Use Arrow right to extend table"));

    Press(Qt::Key_Right);
    EXPECT_EQ(window.Grid().ColCount(), 3);
    EXPECT_EQ(window.Grid().RowCount(), 2);
    EXPECT_EQ(Current(), Cell(2, 0));
    EXPECT_EQ(window.Grid().Cell(2, 0), "");
    EXPECT_EQ(window.Grid().Cell(2, 1), "");
    EXPECT_EQ(window.Grid().Cell(1, 1), "4");
    EXPECT_EQ(Status(), QString("Use Arrow right to extend table"));

    grid->setCurrentCell(1, 2);  // by program, as a mouse click would
    EXPECT_EQ(Status(), QString("Use Arrow right or Arrow down to extend table"));
}

TEST_F(InputGridTest, DownInTheLastRowAddsAnEmptyRow) {
    Fill(2, 2, {"1", "2", "3", "4"});
    Open();
    Press(Qt::Key_Down);
    EXPECT_EQ(window.Grid().RowCount(), 2);
    EXPECT_EQ(Status(), QString("Use Arrow down to extend table"));
    Press(Qt::Key_Down);
    EXPECT_EQ(window.Grid().RowCount(), 3);
    EXPECT_EQ(window.Grid().ColCount(), 2);
    EXPECT_EQ(Current(), Cell(0, 2));
    EXPECT_EQ(window.Grid().Cell(1, 2), "");
    EXPECT_EQ(Status(), QString("Use Arrow down to extend table"));
}

TEST_F(InputGridTest, StatusTextNamesTheWaysToExtendFromTheCurrentCell) {
    Fill(3, 3, std::vector<std::string>(9, ""));
    Open();
    const std::vector<std::pair<Cell, QString>> cases = {
        {{1, 1}, ""},
        {{2, 0}, "Use Arrow right to extend table"},
        {{0, 2}, "Use Arrow down to extend table"},
        {{2, 2}, "Use Arrow right or Arrow down to extend table"},
        {{0, 0}, ""},
    };
    for (const auto& [cell, text] : cases) {
        grid->setCurrentCell(cell.second, cell.first);
        EXPECT_EQ(Status(), text) << cell.first << "," << cell.second;
    }
}

TEST_F(InputGridTest, LeftAndUpKeepTheGridBehaviour) {
    Fill(3, 3, std::vector<std::string>(9, "1"));
    Open();
    grid->setCurrentCell(2, 2);
    Press(Qt::Key_Left);
    Press(Qt::Key_Up);
    EXPECT_EQ(Current(), Cell(1, 1));
    EXPECT_EQ(window.Grid().ColCount(), 3);
}

TEST_F(InputGridTest, ShiftedArrowsSelectARangeWithoutGrowingTheGrid) {
    Fill(2, 2, {"1", "2", "3", "4"});
    Open();
    grid->setCurrentCell(1, 1);
    Press(Qt::Key_Right, Qt::ShiftModifier);
    Press(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(window.Grid().ColCount(), 2);
    EXPECT_EQ(window.Grid().RowCount(), 2);
}

TEST_F(InputGridTest, ClearAllEmptiesTheCellsAndKeepsSizeAndCurrentCell) {
    Fill(3, 2, {"1", "2", "3", "4", "5", "6"});
    Open();
    grid->setCurrentCell(1, 2);
    window.ClearAll1Click();
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(window.Grid().Cell(j, i), "") << j << "," << i;
    EXPECT_EQ(window.Grid().ColCount(), 3);
    EXPECT_EQ(window.Grid().RowCount(), 2);
    EXPECT_EQ(Current(), Cell(2, 1));
    EXPECT_TRUE(window.isVisible());
}

TEST_F(InputGridTest, MenuCommandsRunTheirHandlers) {
    Fill(2, 2, {"1", "2", "3", "4"});
    Open();
    window.findChild<QAction*>("ClearAll1")->trigger();
    EXPECT_EQ(window.Grid().Cell(0, 0), "");
    window.Grid().SetCell(1, 1, "1");
    window.findChild<QAction*>("Return1")->trigger();
    EXPECT_TRUE(ClosedWith(QDialog::Rejected));
    EXPECT_EQ(MessageTexts(), (std::vector<QString>{"Data error at (1,1).", "Data error at (2,1)."}));
}

TEST_F(InputGridTest, EachShowingStartsAtTheFirstCellWithTheTableAsLeft) {
    Fill(2, 2, {"1", "2", "3", "4"});
    Open();
    grid->setCurrentCell(1, 1);
    window.close();  // the close box
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_FALSE(window.isVisible());

    Open();
    EXPECT_EQ(Current(), Cell(0, 0));
    EXPECT_EQ(window.Grid().Cell(1, 1), "4");
    EXPECT_EQ(Status(), QString());
}

TEST_F(InputGridTest, ANewShowingRefreshesTheStatusEvenWhenTheFirstCellWasCurrent) {
    Fill(2, 2, {"1", "2", "3", "4"});
    Open();
    EXPECT_EQ(Status(), QString());
    window.close();
    // A table read from a file reshapes the grid while the window is hidden.
    Fill(1, 3, {"1", "2", "3"});
    ASSERT_EQ(Current(), Cell(0, 0));
    Open();
    EXPECT_EQ(Status(), QString("Use Arrow right to extend table"));
}

TEST_F(InputGridTest, EscapeDoesNotCloseTheWindow) {
    Open();
    Press(Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible());
}

// The open cell editor of the grid, or nullptr.
QLineEdit* OpenEditor(QTableWidget* grid) {
    for (QLineEdit* edit : grid->viewport()->findChildren<QLineEdit*>())
        if (edit->isVisible()) return edit;
    return nullptr;
}

TEST_F(InputGridTest, EnterInAnOpenEditorCommitsTheTextThenMoves) {
    Fill(2, 2, {"", "2", "3", "4"});
    Open();
    Press(Qt::Key_1, Qt::NoModifier, grid, "1");
    QLineEdit* editor = OpenEditor(grid);
    ASSERT_NE(editor, nullptr);
    Press(Qt::Key_5, Qt::NoModifier, editor, "5");
    Press(Qt::Key_Return, Qt::NoModifier, editor);
    EXPECT_EQ(window.Grid().Cell(0, 0), "15");
    EXPECT_EQ(Current(), Cell(1, 0));
    EXPECT_EQ(OpenEditor(grid), nullptr);
}

TEST_F(InputGridTest, ArrowsAndEndInAnOpenEditorActOnTheCommittedText) {
    Fill(2, 2, {"1", "2", "3", ""});
    Open();
    grid->setCurrentCell(1, 1);
    Press(Qt::Key_9, Qt::NoModifier, grid, "9");
    QLineEdit* editor = OpenEditor(grid);
    ASSERT_NE(editor, nullptr);
    Press(Qt::Key_Right, Qt::NoModifier, editor);
    EXPECT_EQ(window.Grid().Cell(1, 1), "9");
    EXPECT_EQ(window.Grid().ColCount(), 3);
    EXPECT_EQ(Current(), Cell(2, 1));

    // The new column is empty, so End trims it before checking.
    grid->setCurrentCell(0, 1);
    Press(Qt::Key_7, Qt::NoModifier, grid, "7");
    editor = OpenEditor(grid);
    ASSERT_NE(editor, nullptr);
    Press(Qt::Key_End, Qt::NoModifier, editor);
    EXPECT_TRUE(ClosedWith(QDialog::Accepted));
    EXPECT_EQ(window.Grid().Cell(1, 0), "7");
    EXPECT_EQ(window.Grid().ColCount(), 2);
}

TEST_F(InputGridTest, ReturnCommitsAnOpenEditorBeforeChecking) {
    Fill(2, 2, {"1", "2", "3", ""});
    Open();
    grid->setCurrentCell(1, 1);
    Press(Qt::Key_4, Qt::NoModifier, grid, "4");
    ASSERT_NE(OpenEditor(grid), nullptr);
    window.Return1Click();
    EXPECT_TRUE(ClosedWith(QDialog::Accepted));
    EXPECT_EQ(window.Grid().Cell(1, 1), "4");
    EXPECT_TRUE(dialogs.messages.empty());
}

// Runs the modal loop; ACT drives the open window. The loop is bounded: a
// window still open after a while is closed with Cancel.
template <typename Act>
bool RunModal(TInputGrid& window, const Placement& placement, Act act) {
    QTimer::singleShot(0, &window, [&window, act] { act(window); });
    QTimer::singleShot(10000, &window, [&window] {
        ADD_FAILURE() << "the window stayed open";
        window.done(QDialog::Rejected);
    });
    return window.ShowModalAt(placement);
}

TEST_F(InputGridTest, ShowModalAtPlacesTheWindowAndReportsOk) {
    Fill(2, 2, {"1", "2", "3", "4"});
    const Placement placement{120, 80, 260, 340};
    bool wasVisible = false;
    Placement shown;
    const bool ok = RunModal(window, placement, [&](TInputGrid& w) {
        wasVisible = w.isVisible();
        shown = w.CurrentPlacement();
        Press(Qt::Key_End);
    });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(wasVisible);
    EXPECT_EQ(shown, placement);
    EXPECT_EQ(window.CurrentPlacement(), placement);
}

TEST_F(InputGridTest, ShowModalAtReportsCancelAndKeepsUnsetValues) {
    Open();
    window.move(30, 40);
    window.resize(300, 200);
    const Placement before = window.CurrentPlacement();
    window.close();
    Placement shown;
    const bool ok = RunModal(window, Placement{-1, 0, -1, 250}, [&](TInputGrid& w) {
        shown = w.CurrentPlacement();
        w.close();
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(shown.Top, before.Top);
    EXPECT_EQ(shown.Left, before.Left);
    EXPECT_EQ(shown.Height, before.Height);
    EXPECT_EQ(shown.Width, 250);
}

}  // namespace
}  // namespace kelvorin
