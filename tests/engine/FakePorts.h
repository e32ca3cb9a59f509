// Plain fakes of the engine's ports for the engine tests: they record what
// the engine does to them and answer from settings the test makes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "AnalysisOptions.h"
#include "Ports.h"

namespace kelvorin::fakes {

// A grid of text cells kept in a vector of rows. Changing the row or column
// count keeps the cells that remain inside, like the toolkit's grid.
class VectorGrid : public TextGrid {
public:
    VectorGrid() = default;
    VectorGrid(int cols, int rows) { Resize(cols, rows); }

    int RowCount() const override { return rows_; }
    int ColCount() const override { return cols_; }
    void SetRowCount(int rows) override { Resize(cols_, rows); }
    void SetColCount(int cols) override { Resize(cols, rows_); }
    std::string Cell(int col, int row) const override {
        if (col < 0 || row < 0 || col >= cols_ || row >= rows_) {
            ADD_FAILURE() << "cell (" << col << ", " << row << ") read outside a " << cols_ << " x " << rows_
                          << " grid";
            return "";
        }
        return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
    }
    void SetCell(int col, int row, const std::string& text) override {
        if (col < 0 || row < 0 || col >= cols_ || row >= rows_) {
            ADD_FAILURE() << "cell (" << col << ", " << row << ") written outside a " << cols_ << " x " << rows_
                          << " grid";
            return;
        }
        cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = text;
    }
    void Redraw() override { ++redraws; }

    // Fills the grid with the rows of texts (all rows of one length).
    void SetTexts(const std::vector<std::vector<std::string>>& rows) {
        Resize(rows.empty() ? 0 : static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (std::size_t j = 0; j < rows[i].size(); ++j) cells_[i][j] = rows[i][j];
    }
    // Fills the grid with a table of whole counts, row by row.
    void SetCounts(const std::vector<std::vector<int>>& rows) {
        std::vector<std::vector<std::string>> texts;
        for (const auto& row : rows) {
            std::vector<std::string> line;
            for (int v : row) line.push_back(std::to_string(v));
            texts.push_back(line);
        }
        SetTexts(texts);
    }

    int redraws = 0;

private:
    void Resize(int cols, int rows) {
        cols_ = cols;
        rows_ = rows;
        cells_.resize(static_cast<std::size_t>(rows));
        for (auto& row : cells_) row.resize(static_cast<std::size_t>(cols));
    }

    int cols_ = 0;
    int rows_ = 0;
    std::vector<std::vector<std::string>> cells_;
};

class RecordingReport : public ReportSink {
public:
    void AppendLine(const std::string& line) override {
        if (line.find('\n') != std::string::npos) ADD_FAILURE() << "report line holds a line feed: " << line;
        lines_.push_back(line);
    }
    void Clear() override { lines_.clear(); }
    std::vector<std::string> Lines() const override { return lines_; }

private:
    std::vector<std::string> lines_;
};

class RecordingStatus : public StatusLine {
public:
    void SetText(const std::string& text) override { texts.push_back(text); }
    std::string Last() const { return texts.empty() ? std::string() : texts.back(); }
    std::vector<std::string> texts;
};

// Counts its passes and runs the test's callback (a click on the status bar,
// a break-off) at each of them.
class CallbackPump : public EventPump {
public:
    void ProcessPendingEvents() override {
        ++passes;
        if (onPass) onPass();
    }
    int passes = 0;
    std::function<void()> onPass;
};

class RecordingMessages : public MessageBoxes {
public:
    void Show(const std::string& text, const std::string& caption) override { shown.emplace_back(text, caption); }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<std::pair<std::string, std::string>> shown;  // (text, caption)
    std::vector<std::string> questions;
    std::deque<bool> answers;  // true for Yes
};

// A clock that returns Now() from a script, then from `now`, which advances by
// `step` after every call. Its date is "dd.mm.yyyy" and its time "h:mm:ss".
class FakeClock : public Clock {
public:
    double Now() const override {
        ++nowCalls;
        if (!script.empty()) {
            const double value = script.front();
            script.pop_front();
            return value;
        }
        const double value = now;
        now += step;
        return value;
    }
    std::string ShortDateText(double dateTime) const override {
        using namespace std::chrono;
        const auto day = sys_days{year{1899} / December / 30} + days{static_cast<long>(std::floor(dateTime))};
        const year_month_day date{day};
        char text[32];
        std::snprintf(text, sizeof text, "%02u.%02u.%04d", static_cast<unsigned>(date.day()),
                      static_cast<unsigned>(date.month()), static_cast<int>(date.year()));
        return text;
    }
    std::string LongTimeText(double dateTime) const override {
        longTimeArguments.push_back(dateTime);
        const double seconds = (dateTime - std::floor(dateTime)) * 86400.0;
        const long whole = static_cast<long>(std::floor(seconds + 1e-6));
        char text[32];
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
        return text;
    }

    mutable double now = 45000.4375;  // 15.03.2023 10:30:00
    double step = 0.0;
    mutable std::deque<double> script;
    mutable int nowCalls = 0;
    mutable std::vector<double> longTimeArguments;
};

class RecordingMenus : public MenuStates {
public:
    void SetEnabled(MenuItem item, bool enabled) override {
        state[item] = enabled;
        log.emplace_back(item, enabled);
    }
    // The state last set, or `unset` when the item was never touched.
    int Enabled(MenuItem item) const {
        const auto found = state.find(item);
        return found == state.end() ? unset : (found->second ? 1 : 0);
    }
    static constexpr int unset = -1;
    std::map<MenuItem, bool> state;
    std::vector<std::pair<MenuItem, bool>> log;
};

// The save dialog: remembers its name between showings; on Execute the
// "user" confirms `chosen` (when not empty) or cancels.
class FakeFileDialog : public FileDialog {
public:
    void SetFileName(const std::string& name) override {
        namesSet.push_back(name);
        current = name;
    }
    std::string FileName() const override { return current; }
    bool Execute() override {
        ++executions;
        proposedAtExecution.push_back(current);
        if (!confirm) return false;
        if (!chosen.empty()) current = chosen;
        return true;
    }
    bool confirm = true;
    std::string chosen;
    std::string current;
    int executions = 0;
    std::vector<std::string> namesSet;
    std::vector<std::string> proposedAtExecution;
};

class FakeModalWindow : public ModalWindow {
public:
    bool ShowModalOk() override {
        ++shows;
        if (onShow) onShow();
        return result;
    }
    bool result = true;
    int shows = 0;
    std::function<void()> onShow;
};

class SettableOptions : public OptionsProvider {
public:
    AnalysisOptions Current() const override { return options; }
    AnalysisOptions options;
};

// Options with every report section switched off; tests switch on what they
// look at.
inline AnalysisOptions NoSections() {
    AnalysisOptions o;
    for (int i = 0; i < 12; ++i) BooleanOption(o, i) = false;
    o.Track = 1;
    return o;
}

// Every fake, wired into one set of engine ports.
struct FakeEnvironment {
    VectorGrid entryGrid;
    VectorGrid proportionsGrid;
    FakeModalWindow proportionsWindow;
    RecordingReport report;
    RecordingStatus status;
    CallbackPump pump;
    RecordingMessages messages;
    FakeClock clock;
    RecordingMenus menus;
    FakeFileDialog saveDialog;
    SettableOptions options;

    EnginePorts Ports() {
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
        ports.SaveDialog1 = &saveDialog;
        ports.Options = &options;
        return ports;
    }
};

// A fixture with a fresh environment and engine per test.
class EngineHarness : public ::testing::Test {
protected:
    // Runs the table in the entry grid as a Table command does: discard the
    // previous table, empty the report, run. Returns the report lines.
    std::vector<std::string> Run() {
        engine.DiscardTable();
        env.report.Clear();
        engine.RunAnalysis();
        return env.report.Lines();
    }
    std::vector<std::string> Run(const std::vector<std::vector<int>>& table) {
        env.entryGrid.SetCounts(table);
        return Run();
    }
    // The report without its first two lines (the blank line and the banner).
    std::vector<std::string> Body(const std::vector<std::string>& lines) {
        if (lines.size() < 2) return {};
        return {lines.begin() + 2, lines.end()};
    }
    AnalysisOptions& Options() { return env.options.options; }

    FakeEnvironment env;
    AnalysisEngine engine{env.Ports()};
};

// A directory of its own for the files of one test, removed at the end. Its
// path holds no '.', so the stem of a file name in it is the name before its
// extension.
class TempDirectory {
public:
    TempDirectory() {
        std::string base = ::testing::TempDir();
        if (base.empty() || base.find('.') != std::string::npos) base = "/tmp/";
        if (base.back() != '/') base += '/';
        std::string pattern = base + "kelvorin_engine_XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr) ADD_FAILURE() << "cannot create a directory from " << pattern;
        path_ = buffer.data();
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    std::string File(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// The lines of a text file, without their line feeds; empty when missing.
inline std::vector<std::string> FileLines(const std::string& name) {
    std::vector<std::string> lines;
    std::ifstream in(name);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

inline bool FileExists(const std::string& name) { return ::access(name.c_str(), F_OK) == 0; }

}  // namespace kelvorin::fakes
