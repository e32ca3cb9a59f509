#include "AnalysisEngine.h"

#include <limits>

#include <cstdlib>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "ApproximateTests.h"
#include "DescriptiveReport.h"
#include "ExactEnumeration.h"
#include "ExactReport.h"
#include "FisherTwoByTwo.h"
#include "FloatingPointGuard.h"
#include "Format.h"
#include "OneWay.h"
#include "OneWayMeeting.h"
#include "NetworkAlgorithm.h"
#include "SamplePointCounter.h"
#include "SamplePointStep.h"
#include "SampleTrace.h"
#include "TextConversions.h"

namespace kelvorin {

namespace {

// A text of the table that cannot be converted: the run shows it in an
// "Error" box and ends through its end step.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr int kLargestCount = 32767;
constexpr int kLargeMargin = 1000;

}  // namespace

AnalysisEngine::AnalysisEngine(const EnginePorts& ports) : ports_(ports) {
    FillFactorials(state_.Factorials);
    // KELVORIN_NETWORK_FROM sets the number of sample points from which the
    // network algorithm settles a table instead of the enumeration ("never"
    // keeps the enumeration for every table).
    if (const char* from = std::getenv("KELVORIN_NETWORK_FROM")) {
        const std::string text(from);
        if (text == "never") {
            state_.NetworkFrom = std::numeric_limits<std::uint64_t>::max();
        } else if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() < 20) {
            state_.NetworkFrom = std::stoull(text);
        }
    }
}

std::string AnalysisEngine::DateTimeText(double dateTime) const {
    std::string text = ports_.LocalClock->ShortDateText(dateTime);
    if (dateTime - std::floor(dateTime) != 0.0) text += " " + ports_.LocalClock->LongTimeText(dateTime);
    return text;
}

void AnalysisEngine::DiscardTable() {
    ports_.Menus->SetEnabled(MenuItem::Save1, false);
    ContingencyTable& table = state_.Table;
    table.ColTotals.clear();
    table.Cells.clear();
    table.ObservedCells.clear();
    if (!table.TwoWay) {
        state_.CategoryCounts.clear();
        state_.Proportions.clear();
    }
    state_.Categories = 0;
    state_.ProportionsFromFile = false;
}

void AnalysisEngine::BreakOff() {
    if (!state_.Running) return;
    state_.Abandoned = true;
    state_.Running = false;
}

void AnalysisEngine::StatusBar1Click() {
    if (!state_.Running) return;
    const double clickTime = ports_.LocalClock->Now();
    if (ports_.Messages->AskYesNo("Abort calculation ?")) {
        BreakOff();
        return;
    }
    ReportSink& report = *ports_.Report;
    report.AppendLine("Sample point no " + CountText(state_.SamplePointCount) + " at " + DateTimeText(clickTime));
    ShowSamplePoint(state_, report);
    if (state_.Options.Details && state_.Options.Track == 0)
        report.AppendLine("Number of sample points printed: " + std::to_string(state_.TracedCount));
}

namespace {

// Reads the table out of the entry grid, forms and checks its margins.
// Returns false when the table is refused (its messages have been shown).
bool ReadTable(AnalysisState& s, const EnginePorts& ports) {
    ContingencyTable& t = s.Table;
    const TextGrid& grid = *ports.EntryGrid;
    t.Rows = grid.RowCount();
    t.Cols = grid.ColCount();
    const std::size_t size = static_cast<std::size_t>((t.Rows + 1) * (t.Cols + 1));
    t.ColTotals.assign(static_cast<std::size_t>(t.Cols + 1), 0);
    t.Cells.assign(size, 0);
    t.ObservedCells.assign(size, 0);
    for (int i = 1; i <= t.Rows; ++i)
        for (int j = 1; j <= t.Cols; ++j) {
            const std::string text = grid.Cell(j - 1, i - 1);
            const std::optional<std::int32_t> value = ParseInt32(text);
            if (!value) throw ConversionError("'" + text + "' is not a valid integer value");
            if (*value < 0 || *value > kLargestCount) {
                ports.Messages->Show(Format("Count %d at (%d,%d) is outside the range 0 to %d", *value, i, j,
                                            kLargestCount),
                                     "Error");
                return false;
            }
            t.At(i, j) = static_cast<std::int16_t>(*value);
            t.ObservedCells[static_cast<std::size_t>(i * (t.Cols + 1) + j)] = static_cast<std::int16_t>(*value);
        }

    bool valid = true;
    for (int i = 1; i <= t.Rows; ++i) {
        std::int64_t sum = 0;
        for (int j = 1; j <= t.Cols; ++j) sum += t.At(i, j);
        if (sum > kLargestCount) {
            ports.Messages->Show(Format("Total of row %d is above %d", i, kLargestCount), "Error");
            return false;
        }
        t.At(i, 0) = static_cast<std::int16_t>(sum);
        if (sum == 0 && t.Cols >= 2) {
            ports.Messages->Show("All zeros in row " + std::to_string(i), "Error");
            valid = false;
        }
    }
    std::int64_t n = 0;
    int big = 0;
    for (int j = 1; j <= t.Cols; ++j) {
        std::int64_t sum = 0;
        for (int i = 1; i <= t.Rows; ++i) sum += t.At(i, j);
        if (sum > kLargestCount) {
            ports.Messages->Show(Format("Total of column %d is above %d", j, kLargestCount), "Error");
            return false;
        }
        t.ColTotals[static_cast<std::size_t>(j)] = static_cast<std::int32_t>(sum);
        t.At(0, j) = static_cast<std::int16_t>(sum);
        if (sum > kLargeMargin) ++big;
        if (sum == 0 && t.Rows >= 2) {
            ports.Messages->Show("All zeros in column " + std::to_string(j), "Error");
            valid = false;
        }
        n += sum;
    }
    if (n > kLargestCount) {
        ports.Messages->Show(Format("The grand total %lld is above %d", static_cast<long long>(n), kLargestCount),
                             "Error");
        return false;
    }
    t.TwoWay = t.Rows > 1 && t.Cols > 1;
    // A single column is too large for the exact test on the same terms as a
    // single row: two or more counts above 1000.
    if (!t.TwoWay && t.Cols == 1) {
        big = 0;
        for (int i = 1; i <= t.Rows; ++i)
            if (t.At(i, 1) > kLargeMargin) ++big;
    }
    s.TooManyObservations = big > 1 || (t.TwoWay && big == 1);
    t.At(0, 0) = static_cast<std::int16_t>(n);
    return valid;
}

// Keeps weights that a data file supplied for this table when they hold
// exactly one weight per category, shaped as the run reads them; otherwise
// the grid is emptied (equal proportions).
void PrepareProportionsGrid(AnalysisState& s, TextGrid& grid, int k, bool singleColumn) {
    if (s.ProportionsFromFile) {
        if (singleColumn && grid.ColCount() == 1 && grid.RowCount() == k) return;
        if (grid.RowCount() == 1 && grid.ColCount() == k) {
            if (!singleColumn) return;
            std::vector<std::string> weights;
            for (int i = 0; i < k; ++i) weights.push_back(grid.Cell(i, 0));
            grid.SetColCount(1);
            grid.SetRowCount(k);
            for (int i = 0; i < k; ++i) grid.SetCell(0, i, weights[static_cast<std::size_t>(i)]);
            return;
        }
    }
    grid.EmptyCells();
    grid.SetRowCount(singleColumn ? k : 1);
    grid.SetColCount(singleColumn ? 1 : k);
}

// Gathers the categories and proportions of a one-way table. Returns false
// when the run ends here (a 1 x 1 table, the proportions window closed, or
// weights refused with a message).
bool ReadOneWay(AnalysisState& s, const EnginePorts& ports) {
    ContingencyTable& t = s.Table;
    TextGrid& grid = *ports.ProportionsGrid;
    const bool singleColumn = t.Rows >= 2 && t.Cols == 1;
    if (!singleColumn && !(t.Cols >= 2 && t.Rows == 1)) {
        // A 1 x 1 table has nothing to test, but its weight is what a Save
        // writes: an earlier table's weights are not left in the grid.
        if (!s.ProportionsFromFile) grid.EmptyCells();
        s.Abandoned = true;
        return false;
    }
    const int k = singleColumn ? t.Rows : t.Cols;
    PrepareProportionsGrid(s, grid, k, singleColumn);
    s.CategoryCounts.assign(static_cast<std::size_t>(k), 0);
    for (int i = 0; i < k; ++i)
        s.CategoryCounts[static_cast<std::size_t>(i)] = singleColumn ? t.At(i + 1, 1) : t.At(1, i + 1);
    s.Categories = k;
    s.Proportions.assign(static_cast<std::size_t>(k), 0.0);
    grid.Redraw();
    if (!s.DataFile.IsOpen()) s.Abandoned = !ports.ProportionsWindow->ShowModalOk();
    if (s.Abandoned) return false;
    double sum = 0.0;
    for (int i = 0; i < k; ++i) {
        std::string text = TrimControl(singleColumn ? grid.Cell(0, i) : grid.Cell(i, 0));
        if (text.empty()) text = "1";
        const std::optional<double> weight = ParseFiniteDouble(text);
        if (!weight) throw ConversionError("'" + text + "' is not a valid floating point value");
        if (!(*weight > 0.0)) {
            ports.Messages->Show(Format("The proportion of category %d must be greater than 0", i + 1), "Error");
            return false;
        }
        s.Proportions[static_cast<std::size_t>(i)] = *weight;
        sum += *weight;
    }
    // Weights whose sum is past the double range: the sum overflows, an
    // error like every other floating-point overflow.
    if (!std::isfinite(sum)) {
        ports.Messages->Show("Floating point overflow", "Error");
        return false;
    }
    for (int i = 0; i < k; ++i) {
        double& p = s.Proportions[static_cast<std::size_t>(i)];
        p /= sum;
        // A weight so small beside the others that its share underflows to 0
        // would leave that category without an expected count.
        if (!(p > 0.0)) {
            ports.Messages->Show(Format("The proportion of category %d must be greater than 0", i + 1), "Error");
            return false;
        }
    }
    s.CategoryTotal = 0;
    for (std::int32_t count : s.CategoryCounts) s.CategoryTotal += count;
    return true;
}

void ResetEnumeration(AnalysisState& s) {
    s.ProbabilityTally = {};
    s.G2Tally = {};
    s.X2Tally = {};
    s.FisherLess = s.FisherEqual = s.FisherGreater = 0.0;
    s.TracedCount = 0;
    s.ProgressCounter = 0;
    s.ProgressInterval = 10000;
    s.SamplePointCount = 0;
    s.SettledMass = 0.0;
}

// The number of sample points, for the progress and for the choice of the
// network algorithm. Where the network may be chosen, the counting stops
// once the count reaches NetworkFrom (the network counts the points itself,
// from the same states); then the count is unknown and true is returned.
bool CountSamplePoints(AnalysisState& s, bool upToNetwork) {
    SamplePointEstimate estimate;
    if (s.Table.TwoWay) {
        std::vector<int> rows;
        std::vector<int> cols;
        for (int i = 1; i <= s.Table.Rows; ++i) rows.push_back(s.Table.RowTotal(i));
        for (int j = 1; j <= s.Table.Cols; ++j) cols.push_back(s.Table.ColTotal(j));
        const bool stop = upToNetwork && NetworkMayApply(s);
        estimate = CountTwoWaySamplePoints(rows, cols, stop ? s.NetworkFrom : std::numeric_limits<std::uint64_t>::max());
    } else {
        estimate = CountOneWaySamplePoints(s.CategoryTotal, s.Categories);
    }
    s.ExpectedSamplePoints = estimate.Count;
    s.ExpectedPointsExact = estimate.Exact;
    return estimate.Reached;
}

void ShowTooManyObservations(AnalysisState& s, const EnginePorts& ports) {
    ports.Messages->Show("To many observations", "ERROR");
    s.Abandoned = true;
}

// The observed probability and the enumeration of every sample point.
void RunEnumeration(AnalysisState& s, const EnginePorts& ports) {
    ResetEnumeration(s);
    s.NetworkUsed = false;
    const bool countedInPart = CountSamplePoints(s, true);
    if (s.Table.TwoWay) {
        if (!ComputeRowMultinomial(s.Table, s.Factorials, s.RowMultinomial)) {
            ShowTooManyObservations(s, ports);
            return;
        }
        const long double numerator = TableNumerator(s.Table, s.Factorials);
        if (!std::isfinite(numerator)) {
            ShowTooManyObservations(s, ports);
            return;
        }
        s.ObservedProbability = static_cast<double>(numerator / s.RowMultinomial);
        s.ObservedX11 = s.Table.At(1, 1);
        NetworkLimits limits;
        limits.MaxBytes = s.NetworkMemory;
        limits.PassesBeside = s.Cores > 1;
        if (RunNetworkAlgorithm(s, ports, limits) != NetworkOutcome::NeedsEnumeration) {
            s.NetworkUsed = true;
            return;
        }
        // The enumeration's progress wants the whole count.
        if (countedInPart && !s.ExpectedPointsExact) CountSamplePoints(s, false);
        ResetEnumeration(s);
        SamplePointStep step(s, ports);
        TwoWayEnumerator(s, step).EnumerateTables();
        return;
    }
    {
        // Every sample point's statistics are computed when they are tallied
        // or traced. With a proportion so small that n / e or (n - e)^2 / e
        // is past the double range they overflow, which is an error, not an
        // infinity to be tallied and traced. Each cell's term is convex in
        // its count (0, or e for Pearson, at a count of 0), so no sample
        // point's statistic exceeds those of the points that hold the whole
        // total in one category: those points decide it.
        const FloatingPointGuard statisticsGuard;
        bool finite = true;
        std::vector<std::int32_t> extreme(static_cast<std::size_t>(s.Categories), 0);
        for (std::size_t i = 0; i < extreme.size(); ++i) {
            extreme[i] = s.CategoryTotal;
            if (s.ComputeLR) finite = std::isfinite(OneWayLikelihoodRatioStatistic(extreme, s.Proportions)) && finite;
            if (s.ComputeChi) finite = std::isfinite(OneWayPearsonStatistic(extreme, s.Proportions)) && finite;
            extreme[i] = 0;
        }
        statisticsGuard.Check();
        if (!finite) throw FloatingPointError("Floating point overflow");
    }
    const FloatingPointGuard guard;
    const long double observed = MultinomialProbability(s.Categories, s.CategoryTotal, s.CategoryCounts.data(),
                                                        s.Proportions.data(), s.Factorials);
    if (std::fetestexcept(FE_OVERFLOW) || !std::isfinite(observed)) {
        ShowTooManyObservations(s, ports);
        return;
    }
    s.ObservedProbability = static_cast<double>(observed);
    if (s.ObservedProbability < 0.0) {
        s.Abandoned = true;
        return;
    }
    OneWayMeetingLimits limits;
    limits.MaxBytes = s.NetworkMemory;
    if (RunOneWayMeeting(s, ports, limits) != NetworkOutcome::NeedsEnumeration) {
        s.NetworkUsed = true;
        return;
    }
    ResetEnumeration(s);
    SamplePointStep step(s, ports);
    OneWayEnumerator(s, step).EnumerateCategories();
}

}  // namespace

void AnalysisEngine::RunAnalysis() {
    AnalysisState& s = state_;
    MenuStates& menus = *ports_.Menus;
    s.Options = ports_.Options->Current();
    s.Abandoned = false;
    s.Running = true;
    menus.SetEnabled(MenuItem::Save1, true);
    menus.SetEnabled(MenuItem::Newtable1, false);
    menus.SetEnabled(MenuItem::Options1, false);
    s.TooManyObservations = false;

    auto endStep = [&] {
        s.Running = false;
        menus.SetEnabled(MenuItem::Newtable1, true);
        menus.SetEnabled(MenuItem::Options1, true);
        menus.SetEnabled(MenuItem::Results1, true);
        // A trace that could not be written completely (a full disk) is
        // reported once, when the file is closed.
        if (s.DetailsFile.IsOpen() && !s.DetailsFile.Close())
            ports_.Messages->Show("Cannot write file " + s.DetailsFileName, "Error");
    };
    try {
        RunReport();
    } catch (const ConversionError& error) {
        ports_.Messages->Show(error.what(), "Error");
    } catch (const FloatingPointError& error) {
        ports_.Messages->Show(error.what(), "Error");
    } catch (...) {
        endStep();
        throw;
    }
    endStep();
}

void AnalysisEngine::RunReport() {
    AnalysisState& s = state_;
    const AnalysisOptions& o = s.Options;
    ReportSink& report = *ports_.Report;
    ContingencyTable& t = s.Table;

    s.ComputeLR = o.ExaLRtest || o.Details;
    s.ComputeChi = o.ExaCStest || o.Details;
    if (o.Details) OpenDetailsFile(s, ports_);
    if (!ReadTable(s, ports_)) return;
    if (!t.TwoWay && !ReadOneWay(s, ports_)) return;
    s.StartTime = ports_.LocalClock->Now();

    report.AppendLine(" ");
    report.AppendLine("Zelkat                " + DateTimeText(s.StartTime));
    if (o.Observed) WriteObservedNumbers(s, report);
    s.MinExpected = 1e100;
    if (t.TwoWay) {
        for (int i = 1; i <= t.Rows; ++i)
            for (int j = 1; j <= t.Cols; ++j) {
                const double e = ExpectedCount(t, i, j);
                if (e < s.MinExpected) s.MinExpected = e;
            }
    } else {
        for (int k = 0; k < s.Categories; ++k) {
            const double e = t.GrandTotal() * s.Proportions[static_cast<std::size_t>(k)];
            if (e < s.MinExpected) s.MinExpected = e;
        }
    }
    if (o.Expected) WriteExpectedNumbers(s, report);
    if (o.Column && t.Rows >= 2) WriteColumnPercentages(s, report);
    if (o.Row && t.Cols >= 2) WriteRowPercentages(s, report);
    {
        const FloatingPointGuard guard;
        if (t.TwoWay) {
            s.G2 = LikelihoodRatioStatistic(t);
            s.X2 = PearsonStatistic(t);
        } else {
            s.G2 = OneWayLikelihoodRatioStatistic(s.CategoryCounts, s.Proportions);
            s.X2 = OneWayPearsonStatistic(s.CategoryCounts, s.Proportions);
        }
        guard.Check();
    }
    if (TraceWritten(s)) WriteDetailsHeader(s, DateTimeText(s.StartTime));
    const bool twoByTwo = (t.Rows - 1) * (t.Cols - 1) == 1;
    if (twoByTwo) {
        const FloatingPointGuard guard;
        s.X2Yates = PearsonYatesStatistic(t);
        s.G2Yates = LikelihoodRatioYatesStatistic(t);
        guard.Check();
    } else {
        s.X2Yates = -1.0;
        s.G2Yates = -1.0;
    }

    // The 2 x 2 Fisher blocks read sums that only the enumeration forms, so
    // asking for them is reason enough to enumerate.
    const bool fisherBlocks = twoByTwo && (o.Opt2x2twotail || o.Opt2x2onetail);
    bool enumerated = false;
    if (o.ExaLRtest || o.ExaCStest || o.CountPos || o.Details || fisherBlocks) {
        if (s.TooManyObservations) {
            ports_.Status->SetText("To many observations");
        } else {
            RunEnumeration(s, ports_);
            enumerated = true;
        }
    }

    WriteExactBlocks(s, report);
    if (o.AppLRtest || (o.ExaLRtest && s.TooManyObservations)) WriteApproximateLikelihoodRatio(s, report);
    if (o.AppCStest || (o.ExaCStest && s.TooManyObservations)) WriteApproximatePearson(s, report);
    const bool fisherAllowed = !s.TooManyObservations && !s.Abandoned && t.Rows == 2 && t.Cols == 2;
    if (fisherAllowed && o.Opt2x2twotail) WriteFisherTwoTailed(s, report);
    if (fisherAllowed && o.Opt2x2onetail) WriteFisherOneTailed(s, report);
    WriteClosingLines(s, ports_, enumerated);
}

}  // namespace kelvorin
