#include "TableWidgetGrid.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableWidget>
#include <algorithm>
#include <utility>

namespace kelvorin {

int TableWidgetGrid::RowCount() const { return table_->rowCount(); }

int TableWidgetGrid::ColCount() const { return table_->columnCount(); }

void TableWidgetGrid::SetRowCount(int rows) { table_->setRowCount(std::max(rows, 1)); }

void TableWidgetGrid::SetColCount(int cols) { table_->setColumnCount(std::max(cols, 1)); }

std::string TableWidgetGrid::Cell(int col, int row) const {
    const QTableWidgetItem* item = table_->item(row, col);
    return item ? item->text().toStdString() : std::string();
}

void TableWidgetGrid::SetCell(int col, int row, const std::string& text) {
    if (col < 0 || row < 0 || col >= table_->columnCount() || row >= table_->rowCount()) return;
    const QString value = QString::fromStdString(text);
    if (QTableWidgetItem* item = table_->item(row, col)) {
        item->setText(value);
    } else {
        table_->setItem(row, col, new QTableWidgetItem(value));
    }
}

void TableWidgetGrid::Redraw() { table_->viewport()->update(); }

namespace {

// True when the caret of EDITOR stands at the end of its text, with no
// selection or with a selection from the start to the end: Right and End
// have nothing left to do inside the text then.
bool AtRightSide(QObject* editor) {
    const auto* line = qobject_cast<QLineEdit*>(editor);
    if (line == nullptr) return true;
    const int length = static_cast<int>(line->text().size());
    if (line->hasSelectedText()) return line->selectionStart() == 0 && line->selectionEnd() == length;
    return line->cursorPosition() == length;
}

}  // namespace

GridKeyDelegate::GridKeyDelegate(QTableWidget* grid, KeyHandler handler)
    : QStyledItemDelegate(grid), grid_(grid), handler_(std::move(handler)) {
    grid_->setItemDelegate(this);
    grid_->installEventFilter(this);
}

void GridKeyDelegate::CommitEdit() {
    QWidget* editor = editor_.data();
    if (editor == nullptr) return;
    editor_.clear();
    emit commitData(editor);
    emit closeEditor(editor, QAbstractItemDelegate::NoHint);
}

QWidget* GridKeyDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    editor_ = editor;
    return editor;
}

void GridKeyDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
    if (editor_.data() == editor) editor_.clear();
    QStyledItemDelegate::destroyEditor(editor, index);
}

bool GridKeyDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grid_) {
        // The grid itself is no editor: nothing but its keys concern us here.
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        return handler_(key->key(), key->modifiers());
    }
    if (event->type() == QEvent::KeyPress && watched == editor_.data()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool caretKey = key->key() == Qt::Key_Right || key->key() == Qt::Key_End;
        if ((!caretKey || AtRightSide(watched)) && handler_(key->key(), key->modifiers())) return true;
        // Alt with a letter is a menu key that found no item (one that did
        // never comes here), not a character of the cell: typed into it, it
        // would turn a count or weight into text. AltGr (Ctrl+Alt on some
        // systems) does type characters.
        const Qt::KeyboardModifiers modifiers = key->modifiers();
        if (modifiers.testFlag(Qt::AltModifier) && !modifiers.testFlag(Qt::ControlModifier) && !key->text().isEmpty())
            return true;
    }
    return QStyledItemDelegate::eventFilter(watched, event);
}

}  // namespace kelvorin
