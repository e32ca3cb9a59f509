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
}

// Counts never drop below one; cells are addressed column first, read empty
// without an item, outside the grid are ignored, go with a shrink, and are
// UTF-8 on the grid's side.
TEST(TableWidgetGrid, AddressesCellsColumnFirstWithinItsCounts) {
    QTableWidget table(2, 3);  // 2 rows, 3 columns
    TableWidgetGrid grid(&table);
    EXPECT_EQ(QSize(grid.ColCount(), grid.RowCount()), QSize(3, 2));
    EXPECT_EQ(grid.Cell(2, 1), "");
    grid.SetCell(2, 1, "17");
    EXPECT_EQ(table.item(1, 2)->text(), QString("17"));
    grid.SetCell(0, 0, "Gr\xC3\xB6\xC3\x9F" "e");
    EXPECT_EQ(table.item(0, 0)->text(), QString::fromUtf8("Gr\xC3\xB6\xC3\x9F" "e"));
    table.item(0, 0)->setText(QString(QChar(0x00E9)));
    EXPECT_EQ(grid.Cell(0, 0), "\xC3\xA9");
    grid.SetCell(3, 0, "5");
    grid.SetCell(-1, 0, "5");
    EXPECT_EQ(QSize(table.columnCount(), table.rowCount()), QSize(3, 2));
    grid.SetColCount(2);
    grid.SetColCount(3);
    EXPECT_EQ(grid.Cell(2, 1), "");
    grid.SetColCount(0);
    grid.SetRowCount(-2);
    EXPECT_EQ(QSize(table.columnCount(), table.rowCount()), QSize(1, 1));
}

class GridKeyDelegateTest : public ::testing::Test {
protected:
    GridKeyDelegateTest() : table(2, 3) {
        delegate = new GridKeyDelegate(&table, [this](int key, Qt::KeyboardModifiers) {
            keys.push_back(key);
            if (key != handledKey) return false;
            delegate->CommitEdit();  // the handler sees the committed text
            return true;
        });
        table.show();
        table.setCurrentCell(0, 0);
    }
    QLineEdit* OpenEditor() {
        for (QLineEdit* edit : table.viewport()->findChildren<QLineEdit*>())
            if (edit->isVisible()) return edit;
        return nullptr;
    }
    QTableWidget table;
    GridKeyDelegate* delegate;
    std::vector<int> keys;
    int handledKey = Qt::Key_Down;
};

// A handled key is consumed; others keep the grid's behaviour; a handled key
// from an open editor commits its text first; CommitEdit without an editor
// does nothing.
TEST_F(GridKeyDelegateTest, HandledKeysAreConsumedWithTheTypedTextCommitted) {
    delegate->CommitEdit();
    EXPECT_EQ(table.item(0, 0), nullptr);
    Press(&table, Qt::Key_Down);
    EXPECT_EQ(table.currentRow(), 0);
    Press(&table, Qt::Key_Right);
    EXPECT_EQ(table.currentColumn(), 1);
    EXPECT_EQ(keys, (std::vector<int>{Qt::Key_Down, Qt::Key_Right}));

    Press(&table, Qt::Key_4, "4");
    ASSERT_NE(OpenEditor(), nullptr);
    EXPECT_TRUE(delegate->Editing());
    Press(OpenEditor(), Qt::Key_2, "2");
    Press(OpenEditor(), Qt::Key_Down);
    EXPECT_EQ(keys.back(), Qt::Key_Down);
    EXPECT_FALSE(delegate->Editing());
    EXPECT_EQ(table.item(0, 1)->text(), QString("42"));
}

// Right and End stay in the editor until the caret is at the end.
TEST_F(GridKeyDelegateTest, RightAndEndStayInTheEditorUntilTheCaretIsAtTheEnd) {
    handledKey = Qt::Key_Right;
    Press(&table, Qt::Key_1, "1");
    QLineEdit* editor = OpenEditor();
    ASSERT_NE(editor, nullptr);
    Press(editor, Qt::Key_2, "2");
    editor->setCursorPosition(0);
    keys.clear();
    Press(editor, Qt::Key_Right);
    Press(editor, Qt::Key_End);
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(editor->cursorPosition(), 2);
    Press(editor, Qt::Key_Right);
    EXPECT_EQ(keys, std::vector<int>{Qt::Key_Right});
    EXPECT_FALSE(delegate->Editing());
    EXPECT_EQ(table.item(0, 0)->text(), QString("12"));
}

}  // namespace
}  // namespace kelvorin
