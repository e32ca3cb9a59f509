// The text grid over a table widget, and the delegate that routes the keys of
// the grid and of its open cell editor to a window's handler.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableWidget>
#include <vector>

#include "TableWidgetGrid.h"

namespace kelvorin {
namespace {

void Press(QWidget* target, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

// The cell editor that is open in TABLE, or nullptr.
QLineEdit* OpenEditor(QTableWidget& table) {
    for (QLineEdit* edit : table.viewport()->findChildren<QLineEdit*>())
        if (edit->isVisible()) return edit;
    return nullptr;
}

TEST(TableWidgetGrid, CountsFollowTheWidgetAndNeverDropBelowOne) {
    QTableWidget table(3, 2);  // 3 rows, 2 columns
    TableWidgetGrid grid(&table);
    EXPECT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(grid.ColCount(), 2);

    grid.SetColCount(5);
    grid.SetRowCount(4);
    EXPECT_EQ(table.columnCount(), 5);
    EXPECT_EQ(table.rowCount(), 4);

    grid.SetColCount(0);
    grid.SetRowCount(-2);
    EXPECT_EQ(table.columnCount(), 1);
    EXPECT_EQ(table.rowCount(), 1);
}

TEST(TableWidgetGrid, CellsAreAddressedColumnFirstAndReadEmptyWithoutItem) {
    QTableWidget table(2, 3);
    TableWidgetGrid grid(&table);
    EXPECT_EQ(grid.Cell(2, 1), "");
    EXPECT_EQ(table.item(1, 2), nullptr);

    grid.SetCell(2, 1, "17");
    ASSERT_NE(table.item(1, 2), nullptr);
    EXPECT_EQ(table.item(1, 2)->text(), QString("17"));
    EXPECT_EQ(table.item(2, 1), nullptr);

    // An existing item is rewritten, not replaced by an empty one.
    grid.SetCell(2, 1, "");
    EXPECT_EQ(grid.Cell(2, 1), "");
    table.setItem(0, 1, new QTableWidgetItem("typed"));
    EXPECT_EQ(grid.Cell(1, 0), "typed");
}

TEST(TableWidgetGrid, CellsOutsideTheGridAreIgnored) {
    QTableWidget table(2, 2);
    TableWidgetGrid grid(&table);
    grid.SetCell(2, 0, "5");
    grid.SetCell(0, 2, "5");
    grid.SetCell(-1, 0, "5");
    EXPECT_EQ(table.rowCount(), 2);
    EXPECT_EQ(table.columnCount(), 2);
    EXPECT_EQ(grid.Cell(2, 0), "");
    EXPECT_EQ(grid.Cell(0, -1), "");
}

TEST(TableWidgetGrid, ShrinkingDropsCellsAndGrowingAddsEmptyOnes) {
    QTableWidget table(2, 2);
    TableWidgetGrid grid(&table);
    grid.SetCell(1, 1, "9");
    grid.SetCell(0, 0, "1");
    grid.SetColCount(1);
    grid.SetColCount(2);
    EXPECT_EQ(grid.Cell(1, 1), "");
    EXPECT_EQ(grid.Cell(0, 0), "1");
}

TEST(TableWidgetGrid, TextIsUtf8OnTheGridSide) {
    QTableWidget table(1, 1);
    TableWidgetGrid grid(&table);
    grid.SetCell(0, 0, "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC");  // "Größe €"
    EXPECT_EQ(table.item(0, 0)->text(), QString::fromUtf8("Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC"));
    table.item(0, 0)->setText(QString(QChar(0x00E9)));
    EXPECT_EQ(grid.Cell(0, 0), "\xC3\xA9");
}

class GridKeyDelegateTest : public ::testing::Test {
protected:
    GridKeyDelegateTest() : table(2, 3) {
        delegate = new GridKeyDelegate(&table, [this](int key, Qt::KeyboardModifiers) {
            keys.push_back(key);
            if (key != handledKey) return false;
            // The handler sees the committed text of the cell it acts on.
            delegate->CommitEdit();
            return true;
        });
        table.show();
        table.setCurrentCell(0, 0);
    }

    QTableWidget table;
    GridKeyDelegate* delegate;
    std::vector<int> keys;
    int handledKey = Qt::Key_Down;
};

TEST_F(GridKeyDelegateTest, HandledKeysAreConsumedOthersKeepTheGridBehaviour) {
    Press(&table, Qt::Key_Down);
    EXPECT_EQ(keys, std::vector<int>{Qt::Key_Down});
    EXPECT_EQ(table.currentRow(), 0);  // the handler took it

    Press(&table, Qt::Key_Right);
    EXPECT_EQ(keys.back(), Qt::Key_Right);
    EXPECT_EQ(table.currentColumn(), 1);  // the grid moved as usual
}

TEST_F(GridKeyDelegateTest, AKeyFromAnOpenEditorIsHandledWithTheTextCommitted) {
    Press(&table, Qt::Key_4, "4");
    QLineEdit* editor = OpenEditor(table);
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(delegate->Editing());
    Press(editor, Qt::Key_2, "2");

    Press(editor, Qt::Key_Down);
    EXPECT_EQ(keys.back(), Qt::Key_Down);
    EXPECT_FALSE(delegate->Editing());
    ASSERT_NE(table.item(0, 0), nullptr);
    EXPECT_EQ(table.item(0, 0)->text(), QString("42"));
}

TEST_F(GridKeyDelegateTest, RightAndEndStayInTheEditorUntilTheCaretIsAtTheEnd) {
    handledKey = Qt::Key_Right;
    Press(&table, Qt::Key_1, "1");
    QLineEdit* editor = OpenEditor(table);
    ASSERT_NE(editor, nullptr);
    Press(editor, Qt::Key_2, "2");
    editor->setCursorPosition(0);
    keys.clear();

    Press(editor, Qt::Key_Right);
    Press(editor, Qt::Key_End);
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(editor->cursorPosition(), 2);
    EXPECT_TRUE(delegate->Editing());

    Press(editor, Qt::Key_Right);
    EXPECT_EQ(keys, std::vector<int>{Qt::Key_Right});
    EXPECT_FALSE(delegate->Editing());
    EXPECT_EQ(table.item(0, 0)->text(), QString("12"));
}

TEST_F(GridKeyDelegateTest, CommitEditWritesTheTypedTextAndDoesNothingWithoutEditor) {
    delegate->CommitEdit();  // no editor: nothing happens
    EXPECT_EQ(table.item(0, 0), nullptr);

    Press(&table, Qt::Key_7, "7");
    ASSERT_TRUE(delegate->Editing());
    delegate->CommitEdit();
    EXPECT_FALSE(delegate->Editing());
    ASSERT_NE(table.item(0, 0), nullptr);
    EXPECT_EQ(table.item(0, 0)->text(), QString("7"));
}

}  // namespace
}  // namespace kelvorin
