// Plain fakes of the ports that the Table commands and the analysis engine
// use: they record what is done to them and answer as the test sets them up.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "AnalysisOptions.h"
#include "MemoryTextGrid.h"
#include "Ports.h"
#include "TableCommands.h"

namespace kelvorin::commandfakes {

class RecordingReport : public ReportSink {
public:
    void AppendLine(const std::string& line) override { lines.push_back(line); }
    void Clear() override { lines.clear(); }
    std::vector<std::string> Lines() const override { return lines; }
    std::vector<std::string> lines;
};

class RecordingStatus : public StatusLine {
public:
    void SetText(const std::string& text) override { texts.push_back(text); }
    std::string Last() const { return texts.empty() ? std::string() : texts.back(); }
    std::vector<std::string> texts;
};

class IdlePump : public EventPump {
public:
    void ProcessPendingEvents() override {}
};

// Records every box; the error dialog with the Abort button is kept apart
// from the ordinary boxes. ONSHOW runs when an ordinary box is shown (the
// user doing something while the box is up).
class RecordingMessages : public MessageBoxes {
public:
    void Show(const std::string& text, const std::string& caption) override {
        shown.emplace_back(text, caption);
        if (onShow) onShow();
    }
    bool AskYesNo(const std::string& text) override {
        ADD_FAILURE() << "unexpected question: " << text;
        return false;
    }
    void ShowErrorAbort(const std::string& text) override { errorAborts.push_back(text); }

    std::vector<std::pair<std::string, std::string>> shown;  // (text, caption)
    std::vector<std::string> errorAborts;
    std::function<void()> onShow;
};

// A clock that stands still, so that two runs of one table give the same
// report.
class StoppedClock : public Clock {
public:
    double Now() const override { return 45000.4375; }
    std::string ShortDateText(double) const override { return "15.03.2023"; }
    std::string LongTimeText(double) const override { return "10:30:00"; }
};

class RecordingMenus : public MenuStates {
public:
    void SetEnabled(MenuItem item, bool enabled) override {
        state[item] = enabled;
        log.emplace_back(item, enabled);
    }
    // 1 enabled, 0 disabled, kUnset when the item was never touched.
    int Enabled(MenuItem item) const {
        const auto found = state.find(item);
        return found == state.end() ? kUnset : (found->second ? 1 : 0);
    }
    static constexpr int kUnset = -1;
    std::map<MenuItem, bool> state;
    std::vector<std::pair<MenuItem, bool>> log;
};

// A file dialog that remembers its name and whose user answers from a queue:
// a name confirms that name, nothing cancels. An unexpected showing fails
// the test and cancels.
class QueueFileDialog : public FileDialog {
public:
    void SetFileName(const std::string& name) override {
        namesSet.push_back(name);
        current = name;
    }
    std::string FileName() const override { return current; }
    bool Execute() override {
        ++executions;
        if (answers.empty()) {
            ADD_FAILURE() << "file dialog shown without an answer";
            return false;
        }
        const std::optional<std::string> answer = answers.front();
        answers.pop_front();
        if (!answer) return false;
        current = *answer;
        return true;
    }
    void Confirm(const std::string& name) { answers.emplace_back(name); }
    void Cancel() { answers.emplace_back(std::nullopt); }

    std::deque<std::optional<std::string>> answers;
    std::string current;
    int executions = 0;
    std::vector<std::string> namesSet;
};

// The entry grid window: closes with OK when ACCEPT is set and reports
// PLACEMENTAFTER as its placement (the user moved it).
class FakeEntryGridWindow : public EntryGridWindow {
public:
    bool ShowModalAt(const Placement& placement) override {
        shownAt.push_back(placement);
        return accept;
    }
    Placement CurrentPlacement() const override { return placementAfter; }

    bool accept = true;
    Placement placementAfter;
    std::vector<Placement> shownAt;
};

class FakeProportionsWindow : public ModalWindow {
public:
    bool ShowModalOk() override {
        ++shows;
        if (onShow) onShow();
        return true;
    }
    int shows = 0;
    std::function<void()> onShow;
};

class RecordingResults : public ResultsText {
public:
    void AppendLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class SettableOptions : public OptionsProvider {
public:
    AnalysisOptions Current() const override { return options; }
    AnalysisOptions options;
};

// Every fake, wired into the ports of the engine and of the commands.
struct CommandEnvironment {
    MemoryTextGrid entryGrid{2, 2};
    MemoryTextGrid proportionsGrid;
    FakeProportionsWindow proportionsWindow;
    FakeEntryGridWindow inputGrid;
    RecordingReport report;
    RecordingStatus status;
    IdlePump pump;
    RecordingMessages messages;
    StoppedClock clock;
    RecordingMenus menus;
    QueueFileDialog openDialog1;
    QueueFileDialog saveDialog1;
    QueueFileDialog saveDialog2;
    SettableOptions options;
    RecordingResults results;

    EnginePorts ForEngine() {
        EnginePorts ports;
        ports.EntryGrid = &entryGrid;
        ports.ProportionsGrid = &proportionsGrid;
        ports.ProportionsWindow = &proportionsWindow;
        ports.Report = &report;
        ports.Status = &status;
        ports.Pump = &pump;
        ports.Messages = &messages;
        ports.LocalClock = &clock;
        ports.Menus = &menus;
        ports.SaveDialog1 = &saveDialog1;
        ports.Options = &options;
        return ports;
    }

    CommandPorts ForCommands(AnalysisEngine& engine) {
        CommandPorts ports;
        ports.Engine = &engine;
        ports.EntryGrid = &entryGrid;
        ports.ProportionsGrid = &proportionsGrid;
        ports.InputGrid = &inputGrid;
        ports.OpenDialog1 = &openDialog1;
        ports.SaveDialog1 = &saveDialog1;
        ports.SaveDialog2 = &saveDialog2;
        ports.Report = &report;
        ports.Status = &status;
        ports.Messages = &messages;
        ports.Menus = &menus;
        ports.Results = &results;
        return ports;
    }
};

// The table commands over the fakes, with a folder of their own for data
// and result files (removed at the end) and the steps the tests share.
class CommandsHarness : public ::testing::Test {
protected:
    using Counts = std::vector<std::vector<int>>;

    CommandsHarness(const AnalysisOptions& options, const std::string& folderStem) {
        env.options.options = options;
        std::string pattern = (std::filesystem::temp_directory_path() / (folderStem + "_XXXXXX")).string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr) ADD_FAILURE() << "cannot create a folder from " << pattern;
        folder_ = buffer.data();
    }
    ~CommandsHarness() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    AnalysisState& State() { return engine.State(); }
    std::string PathOf(const std::string& name) const { return folder_ + "/" + name; }
    std::string WriteFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(PathOf(name), std::ios::binary) << bytes;
        return PathOf(name);
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // The counts of the table of the last run, as the run took them.
    Counts TableInState() {
        const ContingencyTable& table = State().Table;
        Counts rows(static_cast<std::size_t>(table.Rows));
        for (int i = 1; i <= table.Rows; ++i)
            for (int j = 1; j <= table.Cols; ++j) rows[static_cast<std::size_t>(i - 1)].push_back(table.Observed(i, j));
        return rows;
    }
    void ReadNew(const std::string& path) {
        env.openDialog1.Confirm(path);
        commands.ReadFromNewFile();
    }
    // Bulk processing of the data file into the result file (an empty name
    // cancels the result file's dialog).
    void Bulk(const std::string& dataPath, const std::string& resultPath) {
        env.openDialog1.Confirm(dataPath);
        if (resultPath.empty())
            env.saveDialog1.Cancel();
        else
            env.saveDialog1.Confirm(resultPath);
        commands.BulkProcessing();
    }

    CommandEnvironment env;
    AnalysisEngine engine{env.ForEngine()};
    TableCommands commands{env.ForCommands(engine)};

private:
    std::string folder_;
};

}  // namespace kelvorin::commandfakes
