// The Table commands of the main window: New, Read from new or same file,
// Save to new or same file and Bulk processing. They bring a table into the
// entry grid (typed, or read from a data file), discard the previous table,
// empty the report pane and start the analysis run; Save writes the current
// table to a data file. The commands work through ports only, so the same
// code serves the windows and the tests.
#pragma once

#include <string>

#include "AnalysisEngine.h"
#include "MemoryTextGrid.h"
#include "Ports.h"

namespace kelvorin {

// Top, Left, Height and Width of a window, in pixels.
struct Placement {
    int Top = -1;
    int Left = -1;
    int Height = -1;
    int Width = -1;
    bool operator==(const Placement&) const = default;
};

// The entry grid window shown modally by New.
class EntryGridWindow {
public:
    virtual ~EntryGridWindow() = default;
    // Places the window, shows it modally; true when it closed with OK.
    virtual bool ShowModalAt(const Placement& placement) = 0;
    virtual Placement CurrentPlacement() const = 0;
};

// The text of the results editor, to which Bulk processing appends its
// reports when it has no result file.
class ResultsText {
public:
    virtual ~ResultsText() = default;
    virtual void AppendLine(const std::string& line) = 0;
};

struct CommandPorts {
    AnalysisEngine* Engine = nullptr;
    TextGrid* EntryGrid = nullptr;
    TextGrid* ProportionsGrid = nullptr;
    EntryGridWindow* InputGrid = nullptr;
    FileDialog* OpenDialog1 = nullptr;  // data files: "Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*"
    FileDialog* SaveDialog1 = nullptr;  // result file of Bulk processing: "Text (*.txt)|*.txt"
    FileDialog* SaveDialog2 = nullptr;  // Save: "Data file (*.dat)|*.dat"
    ReportSink* Report = nullptr;
    StatusLine* Status = nullptr;
    MessageBoxes* Messages = nullptr;
    MenuStates* Menus = nullptr;
    ResultsText* Results = nullptr;
};

class TableCommands {
public:
    explicit TableCommands(const CommandPorts& ports) : ports_(ports) {}

    Placement& GridPlacement() { return gridPlacement_; }

    void New();
    void ReadFromNewFile();
    void ReadFromSameFile();
    // Save refuses the data file open for reading (WriteTableData).
    void SaveToNewFile();
    void SaveToSameFile();
    // Analyses every table of a data file into a result file, which is
    // replaced. The data file itself as result file is refused with a
    // message before anything is deleted or run.
    void BulkProcessing();

    // Stops a Bulk processing under way after its current table (the main
    // window is closing).
    void StopBulkProcessing() { stopRequested_ = true; }

private:
    // Starts the analysis run and keeps the grids as it leaves them.
    void RunAnalysis();

    CommandPorts ports_;
    Placement gridPlacement_;
    bool stopRequested_ = false;
    // The entry and proportions grids as the last run left them: what Save
    // writes. The grids may change without a run since (an entry that was
    // not accepted, a read that ended in a data error), and Save must not
    // write a table that was never analysed.
    MemoryTextGrid analysedTable_;
    MemoryTextGrid analysedWeights_;
};

}  // namespace kelvorin
