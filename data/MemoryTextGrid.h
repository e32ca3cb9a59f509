// A grid of text cells held in memory: the entry and proportions grids of the
// batch mode, and the grids of the tests. Like the grids of the windows it
// never has fewer than one row and one column; growing adds empty cells,
// shrinking drops the cells that fall outside.
#pragma once

#include <string>
#include <vector>

#include "Ports.h"

namespace kelvorin {

class MemoryTextGrid : public TextGrid {
public:
    // A grid of one empty cell.
    MemoryTextGrid() = default;
    // A grid of COLS x ROWS empty cells (each count at least 1).
    MemoryTextGrid(int cols, int rows);

    int RowCount() const override { return rows_; }
    int ColCount() const override { return cols_; }
    // Counts below 1 are taken as 1.
    void SetRowCount(int rows) override;
    void SetColCount(int cols) override;
    // A cell outside the grid reads as ""; writing it is ignored.
    std::string Cell(int col, int row) const override;
    void SetCell(int col, int row, const std::string& text) override;

private:
    bool Inside(int col, int row) const { return col >= 0 && row >= 0 && col < cols_ && row < rows_; }

    int cols_ = 1;
    int rows_ = 1;
    // Row by row; each inner vector holds cols_ cells.
    std::vector<std::vector<std::string>> cells_ = {std::vector<std::string>(1)};
};

}  // namespace kelvorin
