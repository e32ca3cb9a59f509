#include "TProGrid.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace kelvorin {

namespace {

bool PlainKey(Qt::KeyboardModifiers modifiers) {
    return (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
}

}  // namespace

TProGrid::TProGrid(QWidget* parent)
    : QDialog(parent),
      MainMenu1(new QMenuBar(this)),
      Clearall1(nullptr),
      Return1(nullptr),
      StatusBar1(new QStatusBar(this)),
      StringGrid1(new QTableWidget(1, 1, this)),
      grid_(StringGrid1),
      keys_(new GridKeyDelegate(StringGrid1, [this](int key, Qt::KeyboardModifiers shift) {
          return StringGrid1KeyDown(key, shift);
      })) {
    setObjectName("ProGrid");
    setWindowTitle("Type proportions/probabilities");

    MainMenu1->setObjectName("MainMenu1");
    Clearall1 = MainMenu1->addAction("Clear all");
    Clearall1->setObjectName("Clearall1");
    Return1 = MainMenu1->addAction("Return");
    Return1->setObjectName("Return1");
    connect(Clearall1, &QAction::triggered, this, [this] { Clearall1Click(); });
    connect(Return1, &QAction::triggered, this, [this] { Return1Click(); });

    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->showMessage("Type nothing  ==> Uniform distribution");

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

    resize(420, 200);
}

bool TProGrid::ShowModalOk() { return exec() == QDialog::Accepted; }

void TProGrid::Clearall1Click() {
    keys_->CommitEdit();
    grid_.EmptyCells();
    grid_.Redraw();
}

// Return takes the weights as they stand; the analysis run converts them.
void TProGrid::Return1Click() {
    keys_->CommitEdit();
    accept();
}

bool TProGrid::StringGrid1KeyDown(int key, Qt::KeyboardModifiers shift) {
    // Shifted arrows keep selecting a range of cells.
    if (!PlainKey(shift)) return false;
    if (key != Qt::Key_Right && key != Qt::Key_Down && key != Qt::Key_Return && key != Qt::Key_Enter &&
        key != Qt::Key_End)
        return false;

    keys_->CommitEdit();
    const int col = std::max(StringGrid1->currentColumn(), 0);
    const int row = std::max(StringGrid1->currentRow(), 0);
    const bool lastCol = col >= grid_.ColCount() - 1;
    const bool lastRow = row >= grid_.RowCount() - 1;
    switch (key) {
        case Qt::Key_Right:
            if (lastCol) {
                accept();
            } else {
                StringGrid1->setCurrentCell(row, col + 1);
            }
            break;
        case Qt::Key_Down:
            if (lastRow) {
                accept();
            } else {
                StringGrid1->setCurrentCell(row + 1, col);
            }
            break;
        case Qt::Key_End:
            for (int r = 0; r < grid_.RowCount(); ++r)
                for (int c = 0; c < grid_.ColCount(); ++c) grid_.SetCell(c, r, "1");
            StringGrid1->setCurrentCell(grid_.RowCount() - 1, grid_.ColCount() - 1);
            break;
        default:  // Enter: down a one-column grid, along a row otherwise
            if (grid_.ColCount() == 1) {
                if (lastRow) {
                    accept();
                } else {
                    StringGrid1->setCurrentCell(row + 1, col);
                }
            } else if (lastCol) {
                accept();
            } else {
                StringGrid1->setCurrentCell(row, col + 1);
            }
            break;
    }
    return true;
}

void TProGrid::FormActivate() { StringGrid1->setCurrentCell(0, 0); }

// Each showing is one activation of the window: it starts at cell (0, 0),
// with the keyboard focus in the grid.
void TProGrid::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    FormActivate();
    StringGrid1->setFocus();
}

// Escape is an ordinary key of the grid here, not a way to close the window.
void TProGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && PlainKey(event->modifiers())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace kelvorin
