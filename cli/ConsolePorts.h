// The ports of the analysis engine for the batch command line: the local
// clock, message boxes written to standard error, a report held in memory,
// and the progress display on a terminal with its Ctrl-C break-off.
#pragma once

#include <chrono>
#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "AnalysisEngine.h"
#include "Ports.h"
#include "WideCount.h"

namespace kelvorin {

// Short date "yyyy-mm-dd", long time "hh:mm:ss".
class SystemClock : public Clock {
public:
    double Now() const override;
    std::string ShortDateText(double dateTime) const override;
    std::string LongTimeText(double dateTime) const override;
};

class MemoryReport : public ReportSink {
public:
    void AppendLine(const std::string& line) override { lines_.push_back(line); }
    void Clear() override { lines_.clear(); }
    std::vector<std::string> Lines() const override { return lines_; }

private:
    std::vector<std::string> lines_;
};

// Every message box goes to the error stream as "Caption (table N): text".
class StreamMessages : public MessageBoxes {
public:
    explicit StreamMessages(std::ostream& err) : err_(err) {}
    void SetTableNumber(int number) { table_ = number; }
    void Show(const std::string& text, const std::string& caption) override;
    // Nothing asks a question in batch mode; a break-off comes from Ctrl-C.
    bool AskYesNo(const std::string& text) override;
    // How many error messages were shown: those with the caption "Error" or
    // "ERROR" (the exact tests' overflow), which is every message the
    // program shows for bad data or a file it cannot use.
    int ErrorCount() const { return errors_; }

private:
    std::ostream& err_;
    int table_ = 0;
    int errors_ = 0;
};

class NoMenus : public MenuStates {
public:
    void SetEnabled(MenuItem, bool) override {}
};

// The details file "dialog": answers with the name given by --details, or
// cancels when there is none.
class FixedFileDialog : public FileDialog {
public:
    explicit FixedFileDialog(std::string name) : answer_(std::move(name)) {}
    void SetFileName(const std::string& name) override { name_ = name; }
    std::string FileName() const override { return name_; }
    // The name is given beforehand: there is nothing to ask.
    void SetConfirmReplace(bool) override {}
    bool Execute() override;

private:
    std::string answer_;
    std::string name_;
};

class FixedOptions : public OptionsProvider {
public:
    explicit FixedOptions(const AnalysisOptions& options) : options_(options) {}
    AnalysisOptions Current() const override { return options_; }

private:
    AnalysisOptions options_;
};

class NoWindow : public ModalWindow {
public:
    bool ShowModalOk() override { return true; }
};

// Ctrl-C: the first press breaks the running enumeration off at its next
// progress display; a second press before the table is finished ends the
// program.
class InterruptHandler {
public:
    // Install puts this handler in place of the SIGINT action in force;
    // Uninstall puts that action back (a caller's own handler, not just the
    // default), so a program that runs batch mode keeps its own Ctrl-C.
    static void Install();
    static void Uninstall();
    // True (once) when a break-off was requested since the last
    // ClearRequests. The press stays counted until then, so that a second
    // one ends the program.
    static bool TakeRequest();
    // Forgets the presses so far: at the start and the end of each table,
    // so that a press between tables breaks nothing off.
    static void ClearRequests();
};

// The progress display: at every progress display of an enumeration the
// sample-point count, and when the number of sample points is known a bar,
// a percentage and the estimated time left, updated in place on a terminal.
// It is also the event pump, where a Ctrl-C request breaks the run off.
class ConsoleProgress : public StatusLine, public EventPump {
public:
    ConsoleProgress(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}
    void Attach(AnalysisEngine* engine) { engine_ = engine; }
    void SetText(const std::string&) override {}
    void ProcessPendingEvents() override;
    // Starts a table: the time left is estimated from here.
    void Start();
    // Ends a table: clears the progress line if one was drawn.
    void Finish();

private:
    std::ostream& err_;
    bool terminal_;
    AnalysisEngine* engine_ = nullptr;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point started_;
};

// The progress text for COUNT sample points of EXPECTED (0 when unknown)
// after ELAPSED seconds: with the time left once a share of the points is
// known, the time so far until then.
std::string ProgressText(WideCount count, double expected, double elapsedSeconds);

}  // namespace kelvorin
