// The entry grid window, in which the user types a table of counts, one per
// cell, and grows the grid with the arrow keys. It is also where the current
// table lives between commands: the Read commands write into its grid, the
// analysis run and Save read from it: cell (j, i) of its grid holds the count
// of row i + 1, column j + 1. Its contents and size persist between showings.
#pragma once

#include "AnalysisOptions.h"
#include "GridWindow.h"
#include "TableCommands.h"

class QAction;

namespace kelvorin {

class TInputGrid : public GridWindow, public EntryGridWindow {
    Q_OBJECT

public:
    // OPTIONS gives the entry order (InputData) at the moment Enter is
    // pressed; without it the order is row by row.
    explicit TInputGrid(const OptionsProvider* options, QWidget* parent = nullptr);

    // Gives the window's inside (within its frame) the position and size of
    // PLACEMENT (each value below 1 is left as it is), shows it modally;
    // true when it closed with OK.
    bool ShowModalAt(const Placement& placement) override;
    // The position and size of the window's inside.
    Placement CurrentPlacement() const override;

    // Trims empty trailing columns and rows (at most six passes), then checks
    // that every cell holds a whole number of 0 or more, reporting the first
    // faulty cell of each row. True when the table may be analysed.
    bool CheckEntryGrid();

    // Event handlers.
    void ClearAll1Click();
    void Return1Click();
    void FormActivate() override;
    void StringGrid1SelectCell(int col, int row);

private:
    // Right and Down grow the grid at its edge, End closes it once checked,
    // Enter moves on in the entry order (closing it after the last cell).
    void GridKey(int key, int col, int row) override;
    // Makes (COL, ROW) the current cell; the cell-selection handler runs
    // even when it already was the current one.
    void SetCurrentCell(int col, int row);
    // Moves and sizes the window's inside to the values of PLACEMENT that
    // are 1 or more.
    void ApplyPlacement(const Placement& placement);
    void EnterRowByRow(int col, int row);
    void EnterColumnByColumn(int col, int row);
    void CloseIfChecked();
    bool TrimEmptyEdges();
    bool LastColumnEmpty() const;
    bool LastRowEmpty() const;

    const OptionsProvider* options_;
    QAction* ClearAll1;
    QAction* Return1;
};

}  // namespace kelvorin
