// The proportions window: one weight per category of a one-row or one-column
// table (a row of cells or a column, as the table), an empty cell counting
// as 1. The analysis run shapes and empties its
// grid, shows it modally for a typed table and reads the weights afterwards;
// the data file reader fills it from a proportions block.
#pragma once

#include "GridWindow.h"
#include "Ports.h"

class QAction;

namespace kelvorin {

class TProGrid : public GridWindow, public ModalWindow {
    Q_OBJECT

public:
    explicit TProGrid(QWidget* parent = nullptr);

    // Shows the window modally; true when it closed with OK.
    bool ShowModalOk() override;

    // Event handlers.
    void Clearall1Click();
    void Return1Click();
    void FormActivate() override;

private:
    // Right and Down past the last cell, and Enter after it, close the
    // window with OK; End fills every cell with 1.
    void GridKey(int key, int col, int row) override;
    QAction* Clearall1;
    QAction* Return1;
};

}  // namespace kelvorin
