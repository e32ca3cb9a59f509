#include "GridWindow.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace kelvorin {

GridWindow::GridWindow(const char* name, int rows, int cols, QWidget* parent)
    : QDialog(parent),
      MainMenu1(new QMenuBar(this)),
      StatusBar1(new QStatusBar(this)),
      StringGrid1(new QTableWidget(rows, cols, this)),
      grid_(StringGrid1),
      keys_(new GridKeyDelegate(StringGrid1, [this](int key, Qt::KeyboardModifiers shift) {
          return StringGrid1KeyDown(key, shift);
      })) {
    setObjectName(name);
    MainMenu1->setObjectName("MainMenu1");
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);

    StringGrid1->setObjectName("StringGrid1");
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->horizontalHeader()->setDefaultSectionSize(64);
    StringGrid1->setShowGrid(true);
    StringGrid1->setSelectionMode(QAbstractItemView::ContiguousSelection);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
    StringGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(StringGrid1);
    layout->addWidget(StatusBar1);
}

bool GridWindow::PlainKey(Qt::KeyboardModifiers modifiers) {
    return (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
}

bool GridWindow::StringGrid1KeyDown(int key, Qt::KeyboardModifiers shift) {
    if (!PlainKey(shift)) return false;
    if (key != Qt::Key_Right && key != Qt::Key_Down && key != Qt::Key_Return && key != Qt::Key_Enter &&
        key != Qt::Key_End)
        return false;
    keys_->CommitEdit();
    GridKey(key, std::max(StringGrid1->currentColumn(), 0), std::max(StringGrid1->currentRow(), 0));
    return true;
}

void GridWindow::EmptyAllCells() {
    keys_->CommitEdit();
    grid_.EmptyCells();
    grid_.Redraw();
}

void GridWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    FormActivate();
    StringGrid1->setFocus();
}

void GridWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && PlainKey(event->modifiers())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace kelvorin
