#include "TInputGrid.h"

#include <QAction>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableWidget>
#include <algorithm>
#include <cstdint>

#include "DialogService.h"

namespace kelvorin {

namespace {

// Trimming stops after this many passes that each removed something.
constexpr int kTrimPasses = 6;

// A count as the entry grid accepts it: optional leading blanks, an optional
// sign, at least one decimal digit and nothing after the digits; the value
// must fit 32 bits signed and be 0 or more.
bool IsCount(const std::string& text) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    if (pos == text.size()) return false;
    std::int64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const char ch = text[pos];
        if (ch < '0' || ch > '9') return false;
        value = value * 10 + (ch - '0');
        if (value > INT32_MAX) return false;  // also refuses -2147483648, which is negative anyway
    }
    return !negative || value == 0;
}

}  // namespace

TInputGrid::TInputGrid(const OptionsProvider* options, QWidget* parent)
    : GridWindow("InputGrid", 2, 2, parent), options_(options), ClearAll1(nullptr), Return1(nullptr) {
    setWindowTitle("InputGrid");

    ClearAll1 = MainMenu1->addAction("&Clear All");
    ClearAll1->setObjectName("ClearAll1");
    Return1 = MainMenu1->addAction("&Return");
    Return1->setObjectName("Return1");
    connect(ClearAll1, &QAction::triggered, this, [this] { ClearAll1Click(); });
    connect(Return1, &QAction::triggered, this, [this] { Return1Click(); });

    connect(StringGrid1, &QTableWidget::currentCellChanged, this, [this](int row, int col, int, int) {
        if (row >= 0 && col >= 0) StringGrid1SelectCell(col, row);
    });

    resize(420, 300);
}

bool TInputGrid::ShowModalAt(const Placement& placement) {
    ApplyPlacement(placement);
    const bool ok = exec() == QDialog::Accepted;
    // The window that opened the grid takes the keys again. A window
    // manager need not see to it: after a failed check's message the grid
    // asks for the focus and is closed at once, which can leave the focus
    // on no window at all.
    if (QWidget* owner = parentWidget()) owner->activateWindow();
    return ok;
}

// The placement is the window's inside (within its frame), given and read
// back alike. The frame's extent is not known before the window manager
// has framed the window (after it is shown), so a placement read back as
// the frame would grow by the frame at every showing in a new session.
void TInputGrid::ApplyPlacement(const Placement& placement) {
    const QRect now = geometry();
    setGeometry(placement.Left >= 1 ? placement.Left : now.left(), placement.Top >= 1 ? placement.Top : now.top(),
                placement.Width >= 1 ? placement.Width : now.width(), placement.Height >= 1 ? placement.Height : now.height());
}

Placement TInputGrid::CurrentPlacement() const {
    const QRect inside = geometry();
    Placement placement;
    placement.Top = inside.top();
    placement.Left = inside.left();
    placement.Height = inside.height();
    placement.Width = inside.width();
    return placement;
}

bool TInputGrid::LastColumnEmpty() const {
    const int col = grid_.ColCount() - 1;
    for (int row = 0; row < grid_.RowCount(); ++row)
        if (!grid_.Cell(col, row).empty()) return false;
    return true;
}

bool TInputGrid::LastRowEmpty() const {
    const int row = grid_.RowCount() - 1;
    for (int col = 0; col < grid_.ColCount(); ++col)
        if (!grid_.Cell(col, row).empty()) return false;
    return true;
}

// Returns false when every pass removed something. Removing the only column
// (row) leaves the grid as it is but still counts as a removal, so a grid
// without any text never stops trimming by itself.
bool TInputGrid::TrimEmptyEdges() {
    const int cols = grid_.ColCount(), rows = grid_.RowCount();
    bool removed = true;
    for (int pass = 0; pass < kTrimPasses && removed; ++pass) {
        removed = false;
        if (LastColumnEmpty()) {
            grid_.SetColCount(grid_.ColCount() - 1);
            removed = true;
        }
        if (LastRowEmpty()) {
            grid_.SetRowCount(grid_.RowCount() - 1);
            removed = true;
        }
    }
    const bool shrunk = grid_.ColCount() != cols || grid_.RowCount() != rows;
    // The grid moves the current cell out of a removed column or row before
    // the column or row is gone: its status is set again for the grid as
    // it is now.
    if (shrunk && StringGrid1->currentRow() >= 0 && StringGrid1->currentColumn() >= 0)
        StringGrid1SelectCell(StringGrid1->currentColumn(), StringGrid1->currentRow());
    return !removed;
}

bool TInputGrid::CheckEntryGrid() {
    keys_->CommitEdit();
    if (!TrimEmptyEdges()) return false;
    bool passed = true;
    for (int row = 0; row < grid_.RowCount(); ++row) {
        for (int col = 0; col < grid_.ColCount(); ++col) {
            if (IsCount(grid_.Cell(col, row))) continue;
            Dialogs().Message(this, QString("Data error at (%1,%2).").arg(row + 1).arg(col + 1), "Error",
                              DialogService::Icon::None);
            SetCurrentCell(col, row);
            StringGrid1->setFocus();
            passed = false;
            break;  // one message per row
        }
    }
    return passed;
}

void TInputGrid::ClearAll1Click() { EmptyAllCells(); }

void TInputGrid::Return1Click() {
    if (CheckEntryGrid()) {
        accept();
    } else {
        reject();
    }
}

void TInputGrid::CloseIfChecked() {
    if (CheckEntryGrid()) accept();
}

void TInputGrid::EnterRowByRow(int col, int row) {
    if (col < grid_.ColCount() - 1) {
        SetCurrentCell(col + 1, row);
    } else if (row < grid_.RowCount() - 1) {
        SetCurrentCell(0, row + 1);
    } else {
        CloseIfChecked();
    }
}

void TInputGrid::EnterColumnByColumn(int col, int row) {
    if (row < grid_.RowCount() - 1) {
        SetCurrentCell(col, row + 1);
    } else if (col < grid_.ColCount() - 1) {
        SetCurrentCell(col + 1, 0);
    } else {
        CloseIfChecked();
    }
}

void TInputGrid::GridKey(int key, int col, int row) {
    switch (key) {
        case Qt::Key_Right:
            if (col == grid_.ColCount() - 1) grid_.SetColCount(grid_.ColCount() + 1);
            SetCurrentCell(col + 1, row);
            break;
        case Qt::Key_Down:
            if (row == grid_.RowCount() - 1) grid_.SetRowCount(grid_.RowCount() + 1);
            SetCurrentCell(col, row + 1);
            break;
        case Qt::Key_End:
            CloseIfChecked();
            break;
        default:  // Enter
            if (options_ == nullptr || options_->Current().InputData == 0) {
                EnterRowByRow(col, row);
            } else {
                EnterColumnByColumn(col, row);
            }
            break;
    }
}

void TInputGrid::FormActivate() { SetCurrentCell(0, 0); }

void TInputGrid::StringGrid1SelectCell(int col, int row) {
    const bool lastCol = col == grid_.ColCount() - 1;
    const bool lastRow = row == grid_.RowCount() - 1;
    QString text;
    if (lastCol && lastRow) {
        text = "Use Arrow right or Arrow down to extend table";
    } else if (lastCol) {
        text = "Use Arrow right to extend table";
    } else if (lastRow) {
        text = "Use Arrow down to extend table";
    }
    if (text.isEmpty()) {
        StatusBar1->clearMessage();
    } else {
        StatusBar1->showMessage(text);
    }
}

void TInputGrid::SetCurrentCell(int col, int row) {
    if (StringGrid1->currentColumn() == col && StringGrid1->currentRow() == row) {
        StringGrid1SelectCell(col, row);
    } else {
        StringGrid1->setCurrentCell(row, col);
    }
}

}  // namespace kelvorin
