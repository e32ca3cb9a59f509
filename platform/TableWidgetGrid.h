// The text grids of the entry and proportions windows over a QTableWidget,
// and the item delegate that hands the key presses of such a grid (and of
// its open cell editor) to the window that owns it.
#pragma once

#include <QPointer>
#include <QStyledItemDelegate>
#include <functional>
#include <string>

#include "Ports.h"

class QKeyEvent;
class QTableWidget;

namespace kelvorin {

// A TextGrid over a table widget, which it does not own. Cells are the
// widget's items: a cell without an item reads as "". The grid never has
// fewer than one row and one column; a cell outside it reads as "" and
// writing one is ignored.
class TableWidgetGrid : public TextGrid {
public:
    explicit TableWidgetGrid(QTableWidget* table) : table_(table) {}

    int RowCount() const override;
    int ColCount() const override;
    void SetRowCount(int rows) override;
    void SetColCount(int cols) override;
    std::string Cell(int col, int row) const override;
    void SetCell(int col, int row, const std::string& text) override;
    void Redraw() override;

private:
    QTableWidget* table_;
};

// The item delegate of a grid window. It offers every key press that reaches
// the grid to the window's handler first; the handler returns true when it
// has dealt with the key, and the grid's ordinary behaviour follows
// otherwise. While a cell editor is open its key presses are offered too,
// except Right and End while the caret is not at the end of the text (they
// keep moving the caret then). A handler that acts on a key from an open
// editor calls CommitEdit first, so the typed text is in the cell.
class GridKeyDelegate : public QStyledItemDelegate {
public:
    using KeyHandler = std::function<bool(int key, Qt::KeyboardModifiers modifiers)>;

    // Becomes GRID's item delegate and watches its key presses; GRID owns it.
    GridKeyDelegate(QTableWidget* grid, KeyHandler handler);

    // Writes the text of the open cell editor into its cell and closes the
    // editor; does nothing when no editor is open.
    void CommitEdit();
    bool Editing() const { return !editor_.isNull(); }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableWidget* grid_;
    KeyHandler handler_;
    mutable QPointer<QWidget> editor_;
};

}  // namespace kelvorin
