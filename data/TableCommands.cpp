#include "TableCommands.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "SameFile.h"
#include "TableDataFile.h"
#include "TextFile.h"

namespace kelvorin {

namespace {

const char* const kNoData = "No data avaiable";
const char* const kDataFileAsResult = "The data file cannot be used as the result file";

AnalysisState& StateOf(const CommandPorts& ports) { return ports.Engine->State(); }

// A read result that no analysis may be started on: a data error of the
// reader, or a table of more than 50 rows.
bool IsDataError(int lines) { return lines < 0 || lines > kMaxTableRows; }

std::string DataErrorText(const AnalysisState& state) { return "Data error reading file " + state.DataFileName; }

int ReadTableBlock(const CommandPorts& ports, BlockShape* shape = nullptr) {
    return ReadTableData(StateOf(ports), *ports.OpenDialog1, *ports.EntryGrid, BlockTarget::Table, shape);
}

// A table of LINES rows (LINES >= 1) now in the entry grid that has one row
// or one column, and so may be followed by a weights block.
bool IsOneWay(int lines, const TextGrid& entryGrid) { return lines == 1 || entryGrid.ColCount() == 1; }

// Reads the weights block that follows a one-way table into the proportions
// grid and returns the reader's result. Weights read without error are
// handed to the run (it uses them when they hold one weight per category);
// a block broken by a data error counts as no weights (equal proportions),
// and its rest is skipped. Must be called after DiscardTable, which clears
// the hand-over.
int ReadWeights(const CommandPorts& ports) {
    AnalysisState& state = StateOf(ports);
    const int lines = ReadTableData(state, *ports.OpenDialog1, *ports.ProportionsGrid, BlockTarget::Proportions);
    if (lines < 0) SkipRestOfBlock(state.DataFile);
    state.ProportionsFromFile = lines > 0;
    return lines;
}

// The two steps before every table: release the previous table (which
// disables Save and resets the category count) and empty the report pane.
void StartTable(const CommandPorts& ports) {
    ports.Engine->DiscardTable();
    ports.Report->Clear();
}

void ReportNoData(const CommandPorts& ports) {
    ports.Report->AppendLine(kNoData);
    ports.Status->SetText(kNoData);
}

// Deletes the result file NAME if it exists, so that Bulk processing starts
// it empty; false when the file is left with its contents. A file that
// cannot be deleted (its folder is read-only) is emptied instead. A device or
// a pipe is left in place and written to as it stands (deleting it would put
// a plain file in its place); a folder is left alone (opening it fails
// later). A link stays too: the file it points to is emptied, or made,
// through it, as Save replaces the file a link points to (deleting the link
// would leave that file with its old contents and the reports beside it).
bool DeleteResultFile(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status own = fs::symlink_status(name, error);
    if (error || !fs::exists(own)) return true;
    const bool link = fs::is_symlink(own);
    const fs::file_status target = link ? fs::status(name, error) : own;
    if (fs::exists(target) && !fs::is_regular_file(target)) return true;
    if (!link && fs::remove(name, error)) return true;
    TextFile emptied;
    return emptied.Open(name, TextFile::Mode::Write) && emptied.Close();
}

// Moves the report pane's lines to the end of the result file named by
// DetailsFileName or, when it cannot be opened (no name chosen), to the
// results editor, and empties the pane. False when the result file was
// opened but the lines could not be written to it. UNOPENED tells that a
// result file was named but could not be opened.
bool MoveReportToResult(const CommandPorts& ports, bool& unopened) {
    AnalysisState& state = StateOf(ports);
    const std::vector<std::string> lines = ports.Report->Lines();
    const bool toFile = state.DetailsFile.Open(state.DetailsFileName, TextFile::Mode::Append);
    unopened = !toFile && !state.DetailsFileName.empty();
    // Lines given to the results editor must be reachable there, also when
    // no run enabled Results (a bulk file of broken tables only).
    if (!toFile && !lines.empty()) ports.Menus->SetEnabled(MenuItem::Results1, true);
    for (const std::string& line : lines) {
        if (!toFile)
            ports.Results->AppendLine(line);
        else if (!state.DetailsFile.Write(line + "\n"))
            break;
    }
    ports.Report->Clear();
    // Close reports every failed write as well as a failed final flush.
    return !toFile || state.DetailsFile.Close();
}

// Makes COPY a copy of GRID.
void CopyGrid(const TextGrid& grid, MemoryTextGrid& copy) {
    copy.SetRowCount(grid.RowCount());
    copy.SetColCount(grid.ColCount());
    for (int row = 0; row < grid.RowCount(); ++row)
        for (int col = 0; col < grid.ColCount(); ++col) copy.SetCell(col, row, grid.Cell(col, row));
}

}  // namespace

void TableCommands::RunAnalysis() {
    ports_.Engine->RunAnalysis();
    CopyGrid(*ports_.EntryGrid, analysedTable_);
    CopyGrid(*ports_.ProportionsGrid, analysedWeights_);
}

void TableCommands::New() {
    AnalysisState& state = StateOf(ports_);
    // A typed table does not come from a data file: forget the file, so that
    // the run asks for the weights of a one-way table and the next "from
    // same file" asks for a file.
    state.DataFileName.clear();
    state.DataFile.Close();
    if (!ports_.InputGrid->ShowModalAt(gridPlacement_)) return;
    StartTable(ports_);
    RunAnalysis();
    gridPlacement_ = ports_.InputGrid->CurrentPlacement();
}

void TableCommands::ReadFromNewFile() {
    AnalysisState& state = StateOf(ports_);
    state.DataFile.Close();
    state.DataFileName.clear();
    const int lines = ReadTableBlock(ports_);
    if (IsDataError(lines)) {
        ports_.Messages->ShowErrorAbort(DataErrorText(state));
        return;
    }
    StartTable(ports_);
    if (lines == 0) {
        ReportNoData(ports_);
        return;
    }
    if (IsOneWay(lines, *ports_.EntryGrid) && ReadWeights(ports_) == kReadFailed) {
        ports_.Messages->ShowErrorAbort(DataErrorText(state));
        return;
    }
    RunAnalysis();
    ports_.Menus->SetEnabled(MenuItem::fromsamefile1, true);
}

void TableCommands::ReadFromSameFile() {
    AnalysisState& state = StateOf(ports_);
    const int lines = ReadTableBlock(ports_);
    if (IsDataError(lines)) {
        ports_.Messages->ShowErrorAbort(DataErrorText(state));
        return;
    }
    StartTable(ports_);
    if (lines == 0) {
        ReportNoData(ports_);
        ports_.Menus->SetEnabled(MenuItem::fromsamefile1, false);
        return;
    }
    if (IsOneWay(lines, *ports_.EntryGrid) && ReadWeights(ports_) == kReadFailed) {
        ports_.Messages->ShowErrorAbort(DataErrorText(state));
        return;
    }
    RunAnalysis();
}

void TableCommands::SaveToNewFile() {
    AnalysisState& state = StateOf(ports_);
    state.SaveFileName.clear();
    WriteTableData(state, *ports_.SaveDialog2, analysedTable_, analysedWeights_, *ports_.Messages);
    ports_.Menus->SetEnabled(MenuItem::tosamefile1, true);
}

void TableCommands::SaveToSameFile() {
    WriteTableData(StateOf(ports_), *ports_.SaveDialog2, analysedTable_, analysedWeights_, *ports_.Messages);
}

void TableCommands::BulkProcessing() {
    AnalysisState& state = StateOf(ports_);
    stopRequested_ = false;
    // The open dialog keeps the name it last held. Cancelled, the processing
    // goes on with a data file still open from an earlier Read, from where
    // that read stopped, and with the result file name it already held.
    bool resultChosen = false;
    if (ports_.OpenDialog1->Execute()) {
        state.DataFile.Close();
        state.DataFileName = ports_.OpenDialog1->FileName();
        // The result file is chosen and emptied only once there is data. A
        // file that cannot be opened is said in the status line, as the
        // Read commands say it, so that it does not pass for a run whose
        // reports went to the result file.
        if (!state.DataFile.Open(state.DataFileName, TextFile::Mode::Read)) {
            ports_.Status->SetText(kNoData);
            return;
        }
        state.DetailsFileName.clear();
        // The result file is replaced, so the dialog asks before taking an
        // existing one (a run's details file, chosen in the same dialog,
        // is appended to and does not ask).
        ports_.SaveDialog1->SetConfirmReplace(true);
        if (ports_.SaveDialog1->Execute()) {
            state.DetailsFileName = ports_.SaveDialog1->FileName();
            resultChosen = true;
        }
    }
    if (!state.DataFile.IsOpen()) return;
    // The data file as result file would be deleted under the reader (which
    // would go on reading the old contents while the reports filled a new
    // file of that name), or would have the reports appended while it is
    // read: refused before anything is deleted or run. The name is
    // forgotten, so no later trace is appended to the data file either.
    if (IsSameFile(state.DetailsFileName, state.DataFileName)) {
        state.DetailsFileName.clear();
        ports_.Messages->Show(kDataFileAsResult, "Error");
        return;
    }
    // A result file that cannot be started empty would have the reports
    // added to its old contents: nothing is run, and the name is forgotten.
    if (resultChosen && !DeleteResultFile(state.DetailsFileName)) {
        ports_.Messages->Show("Cannot write file " + state.DetailsFileName, "Error");
        state.DetailsFileName.clear();
        return;
    }

    bool unopenedShown = false;
    for (bool first = true;; first = false) {
        BlockShape shape;
        const int lines = ReadTableBlock(ports_, &shape);
        if (lines == 0) {
            // Not one table: said likewise.
            if (first) ports_.Status->SetText(kNoData);
            break;
        }
        StartTable(ports_);
        // The table at which the file could no longer be read is the last
        // one. (A one-way table whose weights block is empty, the form of one
        // without weights, is followed by more tables, as the Read commands
        // and batch mode take it.)
        bool lastTable = lines == kReadFailed;
        int weights = 1;
        if (!IsDataError(lines) && IsOneWay(lines, *ports_.EntryGrid)) {
            weights = ReadWeights(ports_);
            lastTable = weights == kReadFailed;
        }
        if (IsDataError(lines) || weights == kReadFailed) {
            // No run on a broken table: its result is one line naming the file.
            if (IsDataError(lines)) SkipBrokenTable(state.DataFile, lines, shape);
            ports_.Report->AppendLine(DataErrorText(state));
        } else {
            RunAnalysis();
        }
        // A run with the Details option may have chosen another file under
        // the same name slot; the report goes to whatever it names now.
        bool unopened = false;
        if (!MoveReportToResult(ports_, unopened)) {
            ports_.Messages->Show("Cannot write file " + state.DetailsFileName, "Error");
            break;
        }
        // A result file that cannot be created: the reports go to the
        // results editor instead, which is said once.
        if (unopened && !unopenedShown) {
            ports_.Messages->Show("Cannot write file " + state.DetailsFileName, "Error");
            unopenedShown = true;
        }
        if (lastTable || stopRequested_) break;
    }
}

}  // namespace kelvorin
