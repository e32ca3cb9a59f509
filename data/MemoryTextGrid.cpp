#include "MemoryTextGrid.h"

#include <algorithm>

namespace kelvorin {

MemoryTextGrid::MemoryTextGrid(int cols, int rows) {
    SetColCount(cols);
    SetRowCount(rows);
}

void MemoryTextGrid::SetRowCount(int rows) {
    rows = std::max(rows, 1);
    if (rows == rows_) return;
    rows_ = rows;
    cells_.resize(static_cast<std::size_t>(rows_), std::vector<std::string>(static_cast<std::size_t>(cols_)));
}

void MemoryTextGrid::SetColCount(int cols) {
    // The reader sets the column count at every line it stores: resizing
    // every row each time would make a long block quadratic.
    cols = std::max(cols, 1);
    if (cols == cols_) return;
    cols_ = cols;
    for (auto& row : cells_) row.resize(static_cast<std::size_t>(cols_));
}

std::string MemoryTextGrid::Cell(int col, int row) const {
    if (!Inside(col, row)) return {};
    return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void MemoryTextGrid::SetCell(int col, int row, const std::string& text) {
    if (!Inside(col, row)) return;
    cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = text;
}

}  // namespace kelvorin
