// Plain fakes of the engine's ports for the engine tests: they record what
// the engine does to them and answer from settings the test makes.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "SamplePointCounter.h"

namespace kelvorin::fakes {

// A grid of text cells; changing the row or column count keeps the cells
// that remain inside. Access outside the grid fails the test.
class VectorGrid : public TextGrid {
public:
    int RowCount() const override { return rows_; }
    int ColCount() const override { return cols_; }
    void SetRowCount(int rows) override { Resize(cols_, rows); }
    void SetColCount(int cols) override { Resize(cols, rows_); }
    std::string Cell(int col, int row) const override { return Inside(col, row) ? cells_[At(row)][At(col)] : ""; }
    void SetCell(int col, int row, const std::string& text) override {
        if (Inside(col, row)) cells_[At(row)][At(col)] = text;
    }
    void Redraw() override {}
    void SetTexts(const std::vector<std::vector<std::string>>& rows) {
        cells_ = rows;
        rows_ = static_cast<int>(rows.size()), cols_ = rows.empty() ? 0 : static_cast<int>(rows[0].size());
    }
    void SetCounts(const std::vector<std::vector<int>>& rows) {
        std::vector<std::vector<std::string>> texts(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (int v : rows[i]) texts[i].push_back(std::to_string(v));
        SetTexts(texts);
    }

private:
    bool Inside(int col, int row) const {
        const bool inside = col >= 0 && row >= 0 && col < cols_ && row < rows_;
        if (!inside) ADD_FAILURE() << "cell (" << col << ", " << row << ") outside a " << cols_ << " x " << rows_ << " grid";
        return inside;
    }
    static std::size_t At(int index) { return static_cast<std::size_t>(index); }
    void Resize(int cols, int rows) {
        cells_.resize(At(rows_ = rows));
        for (auto& row : cells_) row.resize(At(cols_ = cols));
    }
    int cols_ = 0, rows_ = 0;
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

// Counts its passes and runs the test's callback (a click, a break-off) at each.
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
        if (answers.empty()) ADD_FAILURE() << "unexpected question: " << text;
        const bool answer = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer;
    }
    std::vector<std::pair<std::string, std::string>> shown;  // (text, caption)
    std::vector<std::string> questions;
    std::deque<bool> answers;  // true for Yes
};

// Now() gives `now`, which advances by `step` after every call. The date is
// "dd.mm.yyyy", the time "h:mm:ss".
class FakeClock : public Clock {
public:
    double Now() const override { return std::exchange(now, now + step); }
    std::string ShortDateText(double dateTime) const override {
        using namespace std::chrono;
        const year_month_day d{sys_days{year{1899} / December / 30} + days{static_cast<long>(std::floor(dateTime))}};
        char text[32];
        std::snprintf(text, sizeof text, "%02u.%02u.%04d", unsigned(d.day()), unsigned(d.month()), int(d.year()));
        return text;
    }
    std::string LongTimeText(double dateTime) const override {
        const long s = static_cast<long>(std::floor((dateTime - std::floor(dateTime)) * 86400.0 + 1e-6));
        char text[32];
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
        return text;
    }
    mutable double now = 45000.4375;  // 15.03.2023 10:30:00
    double step = 0.0;
};

class RecordingMenus : public MenuStates {
public:
    void SetEnabled(MenuItem item, bool enabled) override {
        state[item] = enabled;
        log.emplace_back(item, enabled);
    }
    // The state last set, or -1 when the item was never touched.
    int Enabled(MenuItem item) const { return state.contains(item) ? state.at(item) : -1; }
    std::map<MenuItem, bool> state;
    std::vector<std::pair<MenuItem, bool>> log;
};

// The save dialog keeps its name between showings; on Execute the "user"
// confirms `chosen` (when not empty) or cancels.
class FakeFileDialog : public FileDialog {
public:
    void SetFileName(const std::string& name) override { namesSet.push_back(current = name); }
    std::string FileName() const override { return current; }
    void SetConfirmReplace(bool confirm) override { confirmReplace = confirm; }
    bool Execute() override {
        ++executions;
        if (confirm && !chosen.empty()) current = chosen;
        return confirm;
    }
    bool confirm = true;
    std::string chosen, current;
    int executions = 0;
    std::vector<std::string> namesSet;
    bool confirmReplace = true;
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

// Every report section off, or only those of these stored names on, as in
// With("CountPos 2x2twotail").
inline AnalysisOptions With(const std::string& names) {
    AnalysisOptions o;
    for (int i = 0; i < 12; ++i) BooleanOption(o, i) = false;
    std::istringstream in(names);
    for (std::string name; in >> name;)
        if (const auto error = SetOptionByName(o, name, "1")) ADD_FAILURE() << *error;
    return o;
}
inline AnalysisOptions NoSections() { return With(""); }

// Every fake, wired into one set of engine ports.
struct FakeEnvironment {
    VectorGrid entryGrid, proportionsGrid;
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
        return {.EntryGrid = &entryGrid, .ProportionsGrid = &proportionsGrid, .ProportionsWindow = &proportionsWindow,
                .Report = &report, .Status = &status, .Pump = &pump, .Messages = &messages, .LocalClock = &clock,
                .Menus = &menus, .SaveDialog1 = &saveDialog, .Options = &options};
    }
};

// A directory for the files of one test, removed at the end. Its path holds
// no '.', so the stem of a file name in it is the name before its extension.
class TempDirectory {
public:
    TempDirectory() {
        if (::mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "cannot create a directory from " << path_;
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
    std::string path_ = "/tmp/kelvorin_engine_XXXXXX";
};

// The lines of a text file, without their line feeds; empty when missing.
inline std::vector<std::string> FileLines(const std::string& name) {
    std::vector<std::string> lines;
    std::ifstream in(name);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The same counts in each class of the tally as expected.
inline void ExpectSameCounts(const ExactTally& got, const ExactTally& expected) {
    EXPECT_EQ(got.LessCount, expected.LessCount);
    EXPECT_EQ(got.EqualCount, expected.EqualCount);
    EXPECT_EQ(got.GreaterCount, expected.GreaterCount);
}

// The same counts, and each class's mass within SLACK of the expected one
// (a slack of 0: the same to the last bit).
inline void ExpectSameTally(const ExactTally& got, const ExactTally& expected, double slack) {
    ExpectSameCounts(got, expected);
    if (slack == 0.0) {
        EXPECT_EQ(got.LessMass, expected.LessMass);
        EXPECT_EQ(got.EqualMass, expected.EqualMass);
        EXPECT_EQ(got.GreaterMass, expected.GreaterMass);
    } else {
        EXPECT_NEAR(got.LessMass, expected.LessMass, slack);
        EXPECT_NEAR(got.EqualMass, expected.EqualMass, slack);
        EXPECT_NEAR(got.GreaterMass, expected.GreaterMass, slack);
    }
}

// The same for each of the first COUNT tallies (probability, likelihood
// ratio, Pearson).
inline void ExpectTalliesWithin(const ExactTally* got, const ExactTally* expected, double slack, int count = 3) {
    const char* names[3] = {"probability", "likelihood ratio", "Pearson"};
    for (int k = 0; k < count; ++k) {
        SCOPED_TRACE(names[k]);
        ExpectSameTally(got[k], expected[k], slack);
    }
}

// The same counts in each tally as the enumeration's, of `points` sample
// points, and the same masses to within its rounding: its running sums in
// double precision are within (points) x 2^-52 of the exact ones.
inline void ExpectSameTallies(const ExactTally (&got)[3], const ExactTally (&enumerated)[3], WideCount points) {
    ExpectTalliesWithin(got, enumerated, static_cast<double>(points) * 0x1p-52 + 1e-15);
}

// Runs ACT with files limited to BYTES, SIGXFSZ ignored: writes fail
// midway as on a full disk.
template <typename Act>
void WithFileSizeLimit(rlim_t bytes, Act act) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{bytes, saved.rlim_max};
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    act();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
}

// A fresh environment and engine per test; the save dialog names a details
// file in the test's own directory.
class EngineHarness : public ::testing::Test {
protected:
    EngineHarness() { env.saveDialog.chosen = dir.File("details.txt"); }
    // Runs the entry grid's table as a Table command does; returns the report.
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
        return lines.size() < 2 ? std::vector<std::string>{} : std::vector<std::string>(lines.begin() + 2, lines.end());
    }
    static bool EndsWithUsedTime(const std::vector<std::string>& report) {
        return report.size() >= 2 && report[report.size() - 2].starts_with("  Used time : ") && report.back().empty();
    }
    // Runs the table with a details file of its own; returns the file's lines.
    std::vector<std::string> TraceOf(const std::vector<std::vector<int>>& table) {
        const bool details = std::exchange(Options().Details, true);
        env.saveDialog.chosen = dir.File("details" + std::to_string(++traces) + ".txt");
        Run(table);
        Options().Details = details;
        return FileLines(env.saveDialog.chosen);
    }
    AnalysisOptions& Options() { return env.options.options; }
    // Types the weights into the proportions window, along its one row or column.
    void TypeWeights(const std::vector<std::string>& weights) {
        env.proportionsWindow.onShow = [this, weights] {
            const bool column = env.proportionsGrid.ColCount() == 1;
            for (int k = 0; k < static_cast<int>(weights.size()); ++k)
                env.proportionsGrid.SetCell(column ? 0 : k, column ? k : 0, weights[static_cast<std::size_t>(k)]);
        };
    }

    FakeEnvironment env;
    AnalysisEngine engine{env.Ports()};
    TempDirectory dir;
    int traces = 0;
};

// The number of tables with the margins of T (rows of counts), as the
// counter beforehand gives it.
inline double SamplePoints(const std::vector<std::vector<int>>& t) {
    std::vector<int> rows, cols(t.empty() ? 0 : t[0].size(), 0);
    for (const auto& row : t) {
        int total = 0;
        for (std::size_t j = 0; j < row.size(); ++j) {
            total += row[j];
            cols[j] += row[j];
        }
        rows.push_back(total);
    }
    return CountTwoWaySamplePoints(rows, cols).Count;
}

// The three exact tallies (probability, likelihood ratio, Pearson) and the
// sample points of a run.
struct RunTallies {
    ExactTally Of[3];
    WideCount Points = 0;
};

// A whole run: its report and tallies, and whether the network's side (an
// algorithm other than the enumeration) settled the table.
struct RunOutcome : RunTallies {
    std::vector<std::string> Lines;
    bool Network = false;
};

// An algorithm's tallies against the enumeration's: every exact test on, no
// section but the exact tests; the enumeration run first, the state left
// ready for the algorithm.
class TallyHarness : public EngineHarness {
protected:
    void SetUp() override {
        Options() = NoSections();
        Options().ExaLRtest = Options().ExaCStest = Options().CountPos = true;
    }
    RunTallies Current() const {
        const AnalysisState& s = engine.State();
        return {{s.ProbabilityTally, s.G2Tally, s.X2Tally}, s.SamplePointCount};
    }
    RunTallies Enumerated(const std::vector<std::vector<int>>& t) {
        engine.State().NetworkFrom = std::numeric_limits<std::uint64_t>::max();
        Run(t);
        EXPECT_FALSE(engine.State().NetworkUsed);
        return Current();
    }
    // The tallies and the count emptied, for an algorithm run alone on the
    // state the last run left.
    AnalysisState& ClearedState() {
        AnalysisState& s = engine.State();
        s.ProbabilityTally = s.G2Tally = s.X2Tally = ExactTally{};
        s.SamplePointCount = 0;
        return s;
    }
    // Runs the table with the network used from NETWORKFROM sample points on.
    RunOutcome RunFrom(const std::vector<std::vector<int>>& t, std::uint64_t networkFrom) {
        engine.State().NetworkFrom = networkFrom;
        RunOutcome o;
        o.Lines = Run(t);
        static_cast<RunTallies&>(o) = Current();
        o.Network = engine.State().NetworkUsed;
        return o;
    }
    static void ExpectSame(const RunTallies& got, const RunTallies& enumerated) {
        EXPECT_EQ(got.Points, enumerated.Points);
        ExpectSameTallies(got.Of, enumerated.Of, enumerated.Points);
    }
    // Runs the table by the enumeration and with the network from 0 on: the
    // same counts, masses and report (but for the warning on 1 - the sum of
    // the masses, which reports the rounding of the enumeration's running
    // sums). Returns whether the network's side settled it.
    bool ExpectSameAsEnumeration(const std::vector<std::vector<int>>& t) {
        const RunOutcome enumerated = RunFrom(t, std::numeric_limits<std::uint64_t>::max());
        const RunOutcome network = RunFrom(t, 0);
        EXPECT_FALSE(enumerated.Network);
        ExpectSame(network, enumerated);
        auto withoutWarning = [](std::vector<std::string> lines) {
            std::erase_if(lines, [](const std::string& l) { return l.starts_with("Warning :"); });
            return lines;
        };
        EXPECT_EQ(withoutWarning(network.Lines), withoutWarning(enumerated.Lines));
        return network.Network;
    }
};

}  // namespace kelvorin::fakes
