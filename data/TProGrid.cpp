#include "TProGrid.h"

#include <QAction>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableWidget>
#include <algorithm>

namespace kelvorin {

TProGrid::TProGrid(QWidget* parent) : GridWindow("ProGrid", 1, 1, parent), Clearall1(nullptr), Return1(nullptr) {
    setWindowTitle("Type proportions/probabilities");

    Clearall1 = MainMenu1->addAction("Clear all");
    Clearall1->setObjectName("Clearall1");
    Return1 = MainMenu1->addAction("Return");
    Return1->setObjectName("Return1");
    connect(Clearall1, &QAction::triggered, this, [this] { Clearall1Click(); });
    connect(Return1, &QAction::triggered, this, [this] { Return1Click(); });

    StatusBar1->showMessage("Type nothing  ==> Uniform distribution");

    resize(420, 200);
}

bool TProGrid::ShowModalOk() { return exec() == QDialog::Accepted; }

void TProGrid::Clearall1Click() { EmptyAllCells(); }

// Return takes the weights as they stand; the analysis run converts them.
void TProGrid::Return1Click() {
    keys_->CommitEdit();
    accept();
}

void TProGrid::GridKey(int key, int col, int row) {
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
}

void TProGrid::FormActivate() { StringGrid1->setCurrentCell(0, 0); }

}  // namespace kelvorin
