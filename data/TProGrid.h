// The proportions window: one weight per category of a one-row or one-column
// table, an empty cell counting as 1. The analysis run shapes and empties its
// grid, shows it modally for a typed table and reads the weights afterwards;
// the data file reader fills it from a proportions block.
#pragma once

#include <QDialog>

#include "Ports.h"
#include "TableWidgetGrid.h"

class QAction;
class QKeyEvent;
class QMenuBar;
class QShowEvent;
class QStatusBar;
class QTableWidget;

namespace kelvorin {

class TProGrid : public QDialog, public ModalWindow {
    Q_OBJECT

public:
    explicit TProGrid(QWidget* parent = nullptr);

    // One row of K cells for a one-row table, one column for a one-column one.
    TextGrid& Grid() { return grid_; }

    // Shows the window modally; true when it closed with OK.
    bool ShowModalOk() override;

    // Event handlers.
    void Clearall1Click();
    void Return1Click();
    // True when KEY was handled here; other keys keep the grid's behaviour.
    bool StringGrid1KeyDown(int key, Qt::KeyboardModifiers shift);
    void FormActivate();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QMenuBar* MainMenu1;
    QAction* Clearall1;
    QAction* Return1;
    QStatusBar* StatusBar1;
    QTableWidget* StringGrid1;
    TableWidgetGrid grid_;
    GridKeyDelegate* keys_;
};

}  // namespace kelvorin
