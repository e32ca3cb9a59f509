#include "BatchMode.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "ConsolePorts.h"
#include "MemoryTextGrid.h"
#include "SameFile.h"
#include "SettingsStore.h"
#include "StoredOptions.h"
#include "TableDataFile.h"
#include "TextFile.h"

namespace kelvorin {

std::string BatchUsage() {
    return "Usage: kelvorin --batch DATAFILE [--output RESULTFILE] [--details DETAILSFILE]\n"
           "                [--option NAME=VALUE ...] [--no-settings]\n"
           "Analyses every table of DATAFILE and writes the reports to RESULTFILE\n"
           "(replaced) or to standard output. The options are those saved with\n"
           "\"Save options\" in the program's Options dialog, or the built-in\n"
           "defaults with --no-settings; each --option overrides one of them.\n"
           "NAME is one of Observed, Expected, Column, Row, ExaLRtest, ExaCStest,\n"
           "AppLRtest, AppCStest, CountPos, Details, 2x2twotail, 2x2onetail\n"
           "(VALUE 1 or 0), Track (0 to 4) or InputData (-1 to 1). DETAILSFILE\n"
           "receives the sample-point trace when Details=1. DATAFILE, RESULTFILE\n"
           "and DETAILSFILE must be three different files. Ctrl-C breaks the\n"
           "running enumeration off; a second Ctrl-C ends the program.\n"
           "Exit status: 0 every table got a report, 1 an error was reported for\n"
           "a table or file (the tables after a refused one are still reported;\n"
           "a file that cannot be written or read ends the run), 2 usage error\n"
           "or a data file that cannot be opened, 130 a second Ctrl-C ended the\n"
           "program.\n";
}

namespace {

struct BatchArguments {
    std::string DataFile;
    std::string OutputFile;
    std::string DetailsFile;
    // Each --option NAME=VALUE, in order; applied over the stored options.
    std::vector<std::pair<std::string, std::string>> Overrides;
    bool NoSettings = false;
    bool Help = false;
};

// The data, result and details files must be three files: the result file
// is emptied before the data file is read, and the details file is appended
// to while the others are read and written. An error text when two of the
// named ones are one file (whatever their spelling): a usage error, so the
// run is refused before any of them is opened. The details file counts even
// without Details=1, so that whether the arguments are accepted does not
// depend on the stored options.
std::optional<std::string> FindFileClash(const BatchArguments& arguments) {
    if (IsSameFile(arguments.OutputFile, arguments.DataFile))
        return "result file " + arguments.OutputFile + " is the data file";
    if (IsSameFile(arguments.DetailsFile, arguments.DataFile))
        return "details file " + arguments.DetailsFile + " is the data file";
    if (IsSameFile(arguments.DetailsFile, arguments.OutputFile))
        return "details file " + arguments.DetailsFile + " is the result file";
    return std::nullopt;
}

// Parses the arguments; an error text on failure.
std::optional<std::string> ParseArguments(const std::vector<std::string>& args, BatchArguments& parsed) {
    bool batch = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.Help = true;
            return std::nullopt;
        }
        if (arg == "--no-settings") {
            parsed.NoSettings = true;
            continue;
        }
        const bool takesValue = arg == "--batch" || arg == "--output" || arg == "--details" || arg == "--option";
        if (!takesValue) return "unknown argument '" + arg + "'";
        if (i + 1 >= args.size()) return arg + " needs a value";
        const std::string& value = args[++i];
        if (arg == "--batch") {
            batch = true;
            parsed.DataFile = value;
        } else if (arg == "--output") {
            parsed.OutputFile = value;
        } else if (arg == "--details") {
            parsed.DetailsFile = value;
        } else {
            const std::size_t equals = value.find('=');
            if (equals == std::string::npos) return "--option takes NAME=VALUE, not '" + value + "'";
            std::string name = value.substr(0, equals);
            std::string text = value.substr(equals + 1);
            // Checked here, so that a faulty value is a usage error whatever
            // is stored.
            AnalysisOptions check;
            if (auto error = SetOptionByName(check, name, text)) return error;
            parsed.Overrides.emplace_back(std::move(name), std::move(text));
        }
    }
    if (!batch || parsed.DataFile.empty()) return std::string("no data file given with --batch");
    return FindFileClash(parsed);
}

// Whether any line from FILE's position to its end holds a digit: a table
// that an empty table before it keeps from being read.
bool DigitsFollow(TextFile& file) {
    std::string line;
    while (file.ReadLine(line))
        if (line.find_first_of("0123456789") != std::string::npos) return true;
    return false;
}

class UnusedDialog : public FileDialog {
public:
    void SetFileName(const std::string&) override {}
    std::string FileName() const override { return {}; }
    void SetConfirmReplace(bool) override {}
    bool Execute() override { return false; }
};

}  // namespace

int RunBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal,
             const SettingsStore* settings, std::size_t networkMemory, unsigned cores) {
    BatchArguments arguments;
    if (auto error = ParseArguments(args, arguments)) {
        err << "kelvorin: " << *error << "\n" << BatchUsage();
        return kBatchUsage;
    }
    if (arguments.Help) {
        out << BatchUsage();
        return kBatchOk;
    }
    AnalysisOptions chosen =
        settings != nullptr && !arguments.NoSettings ? ReadStoredOptions(*settings) : AnalysisOptions{};
    for (const auto& [name, value] : arguments.Overrides) SetOptionByName(chosen, name, value);

    MemoryTextGrid entryGrid(2, 2);
    MemoryTextGrid proportionsGrid;
    NoWindow proportionsWindow;
    MemoryReport report;
    ConsoleProgress progress(err, terminal);
    StreamMessages messages(err);
    SystemClock clock;
    NoMenus menus;
    FixedFileDialog detailsDialog(arguments.DetailsFile);
    FixedOptions options(chosen);
    UnusedDialog openDialog;

    EnginePorts ports;
    ports.EntryGrid = &entryGrid;
    ports.ProportionsGrid = &proportionsGrid;
    ports.ProportionsWindow = &proportionsWindow;
    ports.Report = &report;
    ports.Status = &progress;
    ports.Pump = &progress;
    ports.Messages = &messages;
    ports.LocalClock = &clock;
    ports.Menus = &menus;
    ports.SaveDialog1 = &detailsDialog;
    ports.Options = &options;
    AnalysisEngine engine(ports);
    progress.Attach(&engine);
    AnalysisState& state = engine.State();
    state.NetworkMemory = networkMemory;
    state.Cores = cores;

    state.DataFileName = arguments.DataFile;
    if (!state.DataFile.Open(arguments.DataFile, TextFile::Mode::Read)) {
        err << "kelvorin: cannot open data file " << arguments.DataFile << "\n";
        return kBatchUsage;
    }
    // A trace that was asked for but cannot be written ends the run before
    // any table (and before the result file is emptied), rather than leaving
    // the trace out without a word as the desktop program does. Each run
    // appends to it, so opening it for appending here changes nothing in it.
    if (chosen.Details && !arguments.DetailsFile.empty()) {
        TextFile details;
        if (!details.Open(arguments.DetailsFile, TextFile::Mode::Append) || !details.Close()) {
            messages.Show("Cannot write file " + arguments.DetailsFile, "Error");
            return kBatchTableFailed;
        }
    }
    // A trace asked for (perhaps only by the stored options) with nowhere to
    // write it: said once, and the reports are written without it.
    if (chosen.Details && arguments.DetailsFile.empty())
        err << "kelvorin: Details=1 without --details DETAILSFILE: no trace is written\n";
    // The result file starts empty, but only once the data file is known to
    // be readable. It is emptied by opening it for writing, never deleted by
    // name, so a folder or a device given as result file is left alone.
    TextFile output;
    if (!arguments.OutputFile.empty()) {
        if (!output.Open(arguments.OutputFile, TextFile::Mode::Write)) {
            err << "kelvorin: cannot write result file " << arguments.OutputFile << "\n";
            return kBatchTableFailed;
        }
    }
    // Writes LINES to the result file (or standard output) and hands them to
    // the system; false once a write has failed (a full disk), so that the run
    // stops at the table where that happened instead of writing nothing on.
    auto emit = [&](const std::vector<std::string>& lines) {
        if (!output.IsOpen()) {
            for (const std::string& line : lines) out << line << '\n';
            return static_cast<bool>(out.flush());
        }
        for (const std::string& line : lines)
            if (!output.Write(line + "\n")) return false;
        return output.Flush();
    };
    // Reports written to standard output are lost alike on a full disk or a
    // closed terminal: said the same way, under that name.
    const std::string resultName = arguments.OutputFile.empty() ? "standard output" : arguments.OutputFile;
    auto reportWriteFailure = [&] { messages.Show("Cannot write file " + resultName, "Error"); };
    // A data error is said on the error stream and stands in the result in
    // place of the table's report.
    const std::string dataError = "Data error reading file " + state.DataFileName;
    auto reportDataError = [&] {
        messages.Show(dataError, "Error");
        return emit({dataError});
    };

    int status = kBatchOk;
    bool writeFailed = false;
    InterruptHandler::Install();
    for (int table = 1;; ++table) {
        messages.SetTableNumber(table);
        BlockShape shape;
        const int lines = ReadTableData(state, openDialog, entryGrid, BlockTarget::Table, &shape);
        if (lines == 0) {
            // A file that holds no table at all is reported, not taken for
            // an empty success.
            if (table == 1) {
                messages.SetTableNumber(0);
                messages.Show("No data avaiable", "Error");
            } else if (DigitsFollow(state.DataFile)) {
                // An empty table (a second empty line where a table should
                // begin) ends the reading, as in the desktop program's Bulk
                // processing; tables after it would otherwise go unanalysed
                // behind a status that says every table got its report.
                messages.Show("An empty table ends the reading; the tables after it are not analysed", "Error");
            }
            break;
        }
        // A read error of the system (kReadFailed) ends the run: nothing
        // after it can be trusted, and reading on would only fail again.
        if (lines < 0 || lines > kMaxTableRows) {
            SkipBrokenTable(state.DataFile, lines, shape);
            writeFailed = !reportDataError();
            if (writeFailed || lines == kReadFailed) break;
            continue;
        }
        engine.DiscardTable();
        report.Clear();
        if (lines == 1 || entryGrid.ColCount() == 1) {
            const int weights = ReadTableData(state, openDialog, proportionsGrid, BlockTarget::Proportions);
            if (weights < 0) SkipRestOfBlock(state.DataFile);
            state.ProportionsFromFile = weights > 0;
            if (weights == kReadFailed) {
                writeFailed = !reportDataError();
                break;
            }
        }
        // A Ctrl-C pressed while no table was being analysed (a message
        // shown, a table too short to reach a progress display) belongs to
        // no run: it must not break this table off.
        InterruptHandler::ClearRequests();
        const int errorsBefore = messages.ErrorCount();
        progress.Start();
        engine.RunAnalysis();
        progress.Finish();
        // A press that broke this table off, and one pressed too late for
        // its last progress display, end with it.
        InterruptHandler::ClearRequests();
        const std::vector<std::string> reportLines = report.Lines();
        // The one table the run leaves without a report and without a
        // message is a table of one cell (a cancelled proportions window, the
        // other silent end, needs a window): it is said, so that the failed
        // status has its reason.
        if (reportLines.empty() && messages.ErrorCount() == errorsBefore)
            messages.Show("A table of one cell has nothing to test", "Error");
        if (reportLines.empty()) status = kBatchTableFailed;
        report.Clear();
        if (!emit(reportLines)) {
            writeFailed = true;
            break;
        }
    }
    InterruptHandler::Uninstall();
    // Said once, with the number of the table at which it happened.
    if (output.IsOpen() && !output.Close() && !writeFailed) {
        messages.SetTableNumber(0);
        writeFailed = true;
    }
    if (writeFailed) reportWriteFailure();
    // Any error message of the run, a table refused or cut short, a file
    // that could not be read or written, fails the run as a whole, even
    // when later tables got their reports.
    if (messages.ErrorCount() > 0) status = kBatchTableFailed;
    return status;
}

}  // namespace kelvorin
