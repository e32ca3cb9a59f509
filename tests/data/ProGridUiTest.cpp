// The proportions window: the keys that close it or move through a one-row
// or one-column grid, End, Clear all and Return.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <string>
#include <utility>
#include <vector>

#include "TProGrid.h"

namespace kelvorin {
namespace {

using Cell = std::pair<int, int>;  // (column, row)

class ProGridTest : public ::testing::Test {
protected:
    ProGridTest() {
        grid = window.findChild<QTableWidget*>("StringGrid1");
        status = window.findChild<QStatusBar*>("StatusBar1");
    }

    // Shapes the grid as the analysis run does for a one-way table.
    void Shape(int cols, int rows) {
        window.Grid().SetColCount(cols);
        window.Grid().SetRowCount(rows);
    }

    // Shows the window without a modal loop; the handlers close it with
    // accept() as they would close exec().
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

    Cell Current() const { return {grid->currentColumn(), grid->currentRow()}; }
    bool ClosedWithOk() const { return !window.isVisible() && window.result() == QDialog::Accepted; }

    TProGrid window;
    QTableWidget* grid = nullptr;
    QStatusBar* status = nullptr;
};

TEST_F(ProGridTest, StartsAsOneCellWithTheUniformHint) {
    EXPECT_EQ(window.windowTitle(), QString("Type proportions/probabilities"));
    ASSERT_NE(grid, nullptr);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(window.Grid().ColCount(), 1);
    EXPECT_EQ(window.Grid().RowCount(), 1);
    EXPECT_EQ(status->currentMessage(), QString("Type nothing  ==> Uniform distribution"));
    auto* clearAll = window.findChild<QAction*>("Clearall1");
    auto* ret = window.findChild<QAction*>("Return1");
    ASSERT_NE(clearAll, nullptr);
    ASSERT_NE(ret, nullptr);
    EXPECT_EQ(clearAll->text(), QString("Clear all"));
    EXPECT_EQ(ret->text(), QString("Return"));
    EXPECT_NE(window.findChild<QWidget*>("MainMenu1"), nullptr);
}

TEST_F(ProGridTest, OpensAtTheFirstCellWithTheGridFocused) {
    Shape(1, 4);
    Open();
    grid->setCurrentCell(3, 0);
    window.close();
    Open();
    EXPECT_EQ(Current(), Cell(0, 0));
    EXPECT_EQ(window.focusWidget(), grid);
    EXPECT_EQ(status->currentMessage(), QString("Type nothing  ==> Uniform distribution"));
}

TEST_F(ProGridTest, RightClosesAOneColumnGridFromAnyRow) {
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        Shape(1, 3);
        Open();
        grid->setCurrentCell(row, 0);
        Press(Qt::Key_Right);
        EXPECT_TRUE(ClosedWithOk());
    }
}

TEST_F(ProGridTest, DownClosesAOneRowGridFromAnyColumn) {
    for (int col = 0; col < 3; ++col) {
        SCOPED_TRACE(col);
        Shape(3, 1);
        Open();
        grid->setCurrentCell(0, col);
        Press(Qt::Key_Down);
        EXPECT_TRUE(ClosedWithOk());
    }
}

TEST_F(ProGridTest, DownMovesThroughAOneColumnGridAndClosesAtTheLastRow) {
    Shape(1, 3);
    Open();
    Press(Qt::Key_Down);
    EXPECT_EQ(Current(), Cell(0, 1));
    Press(Qt::Key_Down);
    EXPECT_EQ(Current(), Cell(0, 2));
    EXPECT_TRUE(window.isVisible());
    Press(Qt::Key_Down);
    EXPECT_TRUE(ClosedWithOk());
    EXPECT_EQ(window.Grid().RowCount(), 3);
}

TEST_F(ProGridTest, RightMovesThroughAOneRowGridAndClosesAtTheLastColumn) {
    Shape(3, 1);
    Open();
    Press(Qt::Key_Right);
    Press(Qt::Key_Right);
    EXPECT_EQ(Current(), Cell(2, 0));
    EXPECT_TRUE(window.isVisible());
    Press(Qt::Key_Right);
    EXPECT_TRUE(ClosedWithOk());
    EXPECT_EQ(window.Grid().ColCount(), 3);
}

TEST_F(ProGridTest, EnterGoesDownAOneColumnGridAndClosesOnTheLastCell) {
    Shape(1, 3);
    Open();
    Press(Qt::Key_Return);
    EXPECT_EQ(Current(), Cell(0, 1));
    Press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(Current(), Cell(0, 2));
    EXPECT_TRUE(window.isVisible());
    Press(Qt::Key_Return);
    EXPECT_TRUE(ClosedWithOk());
}

TEST_F(ProGridTest, EnterGoesAlongAOneRowGridAndClosesOnTheLastCell) {
    Shape(3, 1);
    Open();
    Press(Qt::Key_Return);
    EXPECT_EQ(Current(), Cell(1, 0));
    Press(Qt::Key_Return);
    EXPECT_EQ(Current(), Cell(2, 0));
    EXPECT_TRUE(window.isVisible());
    Press(Qt::Key_Return);
    EXPECT_TRUE(ClosedWithOk());
}

TEST_F(ProGridTest, EndFillsOnesAndMovesToTheLastCellThenEnterCloses) {
    for (const Cell& shape : {Cell(4, 1), Cell(1, 4)}) {
        SCOPED_TRACE(shape.first);
        Shape(shape.first, shape.second);
        window.Grid().SetCell(0, 0, "7");
        Open();
        Press(Qt::Key_End);
        EXPECT_TRUE(window.isVisible());
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(window.Grid().Cell(shape.first == 1 ? 0 : i, shape.first == 1 ? i : 0), "1") << i;
        EXPECT_EQ(Current(), Cell(shape.first - 1, shape.second - 1));
        Press(Qt::Key_Return);
        EXPECT_TRUE(ClosedWithOk());
    }
}

TEST_F(ProGridTest, ClearAllEmptiesEveryCellAndKeepsTheShape) {
    Shape(3, 1);
    window.Grid().SetCell(0, 0, "2");
    window.Grid().SetCell(1, 0, "0.5");
    window.Grid().SetCell(2, 0, "x");
    Open();
    window.findChild<QAction*>("Clearall1")->trigger();
    for (int col = 0; col < 3; ++col) EXPECT_EQ(window.Grid().Cell(col, 0), "") << col;
    EXPECT_EQ(window.Grid().ColCount(), 3);
    EXPECT_EQ(window.Grid().RowCount(), 1);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(ProGridTest, ReturnClosesWithOkWhateverIsTyped) {
    Shape(2, 1);
    window.Grid().SetCell(0, 0, "abc");
    window.Grid().SetCell(1, 0, "-3");
    Open();
    window.findChild<QAction*>("Return1")->trigger();
    EXPECT_TRUE(ClosedWithOk());
    EXPECT_EQ(window.Grid().Cell(0, 0), "abc");
}

TEST_F(ProGridTest, TheCloseBoxAndEscape) {
    Open();
    Press(Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible());
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
}

TEST_F(ProGridTest, LeftAndUpKeepTheGridBehaviour) {
    Shape(1, 3);
    Open();
    grid->setCurrentCell(2, 0);
    Press(Qt::Key_Up);
    EXPECT_EQ(Current(), Cell(0, 1));
    Press(Qt::Key_Left);
    EXPECT_TRUE(window.isVisible());
}

// The open cell editor of the grid, or nullptr.
QLineEdit* OpenEditor(QTableWidget* grid) {
    for (QLineEdit* edit : grid->viewport()->findChildren<QLineEdit*>())
        if (edit->isVisible()) return edit;
    return nullptr;
}

TEST_F(ProGridTest, KeysInAnOpenEditorCommitTheTypedWeight) {
    Shape(1, 2);
    Open();
    Press(Qt::Key_2, Qt::NoModifier, grid, "2");
    QLineEdit* editor = OpenEditor(grid);
    ASSERT_NE(editor, nullptr);
    Press(Qt::Key_Return, Qt::NoModifier, editor);
    EXPECT_EQ(window.Grid().Cell(0, 0), "2");
    EXPECT_EQ(Current(), Cell(0, 1));

    Press(Qt::Key_5, Qt::NoModifier, grid, "5");
    editor = OpenEditor(grid);
    ASSERT_NE(editor, nullptr);
    Press(Qt::Key_Right, Qt::NoModifier, editor);
    EXPECT_TRUE(ClosedWithOk());
    EXPECT_EQ(window.Grid().Cell(0, 1), "5");
}

TEST_F(ProGridTest, ReturnCommitsAnOpenEditor) {
    Shape(2, 1);
    Open();
    Press(Qt::Key_3, Qt::NoModifier, grid, "3");
    ASSERT_NE(OpenEditor(grid), nullptr);
    window.Return1Click();
    EXPECT_TRUE(ClosedWithOk());
    EXPECT_EQ(window.Grid().Cell(0, 0), "3");
}

// Runs the modal loop; ACT drives the open window. A window still open after
// a while is closed with Cancel, so the test cannot hang.
template <typename Act>
bool RunModal(TProGrid& window, Act act) {
    QTimer::singleShot(0, &window, [&window, act] { act(window); });
    QTimer::singleShot(10000, &window, [&window] {
        ADD_FAILURE() << "the window stayed open";
        window.done(QDialog::Rejected);
    });
    return window.ShowModalOk();
}

TEST_F(ProGridTest, ShowModalOkTellsOkFromCancel) {
    Shape(1, 3);
    EXPECT_TRUE(RunModal(window, [this](TProGrid&) { Press(Qt::Key_Right); }));
    EXPECT_FALSE(RunModal(window, [](TProGrid& w) { w.close(); }));
}

}  // namespace
}  // namespace kelvorin
