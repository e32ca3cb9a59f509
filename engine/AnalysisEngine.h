// The analysis engine: owns the AnalysisState and runs one analysis of the
// table in the entry grid at a time, writing its report through the ports.
#pragma once

#include <cstdint>

#include "AnalysisOptions.h"
#include "AnalysisState.h"
#include "Ports.h"

namespace kelvorin {

// The outside world as the engine sees it. Every pointer must be set.
struct EnginePorts {
    TextGrid* EntryGrid = nullptr;
    TextGrid* ProportionsGrid = nullptr;
    ModalWindow* ProportionsWindow = nullptr;
    ReportSink* Report = nullptr;
    StatusLine* Status = nullptr;
    EventPump* Pump = nullptr;
    MessageBoxes* Messages = nullptr;
    Clock* LocalClock = nullptr;
    MenuStates* Menus = nullptr;
    FileDialog* SaveDialog1 = nullptr;  // "Text (*.txt)|*.txt": the details file
    OptionsProvider* Options = nullptr;
};

class AnalysisEngine {
public:
    // Fills the factorial table once.
    explicit AnalysisEngine(const EnginePorts& ports);

    AnalysisState& State() { return state_; }
    const AnalysisState& State() const { return state_; }
    const EnginePorts& Ports() const { return ports_; }

    // Analyses the table in the entry grid and appends its report. The caller
    // has called DiscardTable and emptied the report first.
    void RunAnalysis();

    // Releases the current table, disables Table > Save and resets the
    // one-way category count.
    void DiscardTable();

    // The click on the status bar: while a run is under way, asks
    // "Abort calculation ?"; Yes breaks the run off, No appends a progress
    // report to the report pane.
    void StatusBar1Click();

    // Breaks a running analysis off as Yes to "Abort calculation ?" does (the
    // window is closing, or the user pressed Ctrl-C in batch mode). Does
    // nothing when no run is under way.
    void BreakOff();

    // The date-time text of the banner: short date, a blank, long time; the
    // time is left out at exactly midnight.
    std::string DateTimeText(double dateTime) const;

private:
    // Everything a run does between its start (options read, menus set) and
    // its end step: reading and checking the table, the report's sections,
    // the statistics and the exact tests.
    void RunReport();

    EnginePorts ports_;
    AnalysisState state_;
};

}  // namespace kelvorin
