// What the entry grid and the proportions grid windows share: a grid of text
// cells under a menu bar and over a status bar, the grid's key presses
// offered to the window first, every showing starting at cell (0, 0) with
// the focus in the grid, and Escape an ordinary key of the grid rather than
// a way to close the window.
#pragma once

#include <QDialog>

#include "TableWidgetGrid.h"

class QKeyEvent;
class QMenuBar;
class QShowEvent;
class QStatusBar;
class QTableWidget;

namespace kelvorin {

class GridWindow : public QDialog {
    Q_OBJECT

public:
    TextGrid& Grid() { return grid_; }

    // Makes cell (0, 0) the current one; run at every showing.
    virtual void FormActivate() = 0;
    // True when KEY was handled here; other keys keep the grid's behaviour.
    // Right, Down, Enter and End without Shift, Control, Alt or Meta are
    // handled (shifted arrows keep selecting a range of cells): the cell
    // being edited is taken, then GridKey acts.
    bool StringGrid1KeyDown(int key, Qt::KeyboardModifiers shift);

protected:
    // What a handled KEY does with (COL, ROW) the current cell.
    virtual void GridKey(int key, int col, int row) = 0;
    // A grid of ROWS x COLS empty cells; the window's object name is NAME.
    GridWindow(const char* name, int rows, int cols, QWidget* parent);

    // True when no Shift, Control, Alt or Meta is held.
    static bool PlainKey(Qt::KeyboardModifiers modifiers);
    // Clear all: the cell being edited is taken first, then every cell emptied.
    void EmptyAllCells();

    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    QMenuBar* MainMenu1;
    QStatusBar* StatusBar1;
    QTableWidget* StringGrid1;
    TableWidgetGrid grid_;
    GridKeyDelegate* keys_;
};

}  // namespace kelvorin
