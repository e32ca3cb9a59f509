#include "SampleTrace.h"

#include <cmath>
#include <string>

#include "DescriptiveReport.h"
#include "ExactEnumeration.h"
#include "Format.h"
#include "SameFile.h"

namespace kelvorin {

void OpenDetailsFile(AnalysisState& state, const EnginePorts& ports) {
    bool same = false;
    if (!state.DataFileName.empty()) {
        const std::size_t dot = state.DataFileName.find('.');
        const std::size_t stemLength = dot == std::string::npos ? 0 : dot;
        const std::string stem = state.DataFileName.substr(0, stemLength);
        ports.SaveDialog1->SetFileName(stem);
        if (!state.DetailsFileName.empty()) same = state.DetailsFileName.substr(0, stemLength) == stem;
    }
    std::string name = state.DetailsFileName;
    if (!same) {
        // The trace is appended: an existing file is no reason to ask.
        ports.SaveDialog1->SetConfirmReplace(false);
        if (!ports.SaveDialog1->Execute()) return;
        name = ports.SaveDialog1->FileName();
    }
    // A trace appended to the data file would break it for every later
    // reading (in Bulk processing the reader would meet the appended lines).
    // This run goes without a trace; a name so chosen is not kept, and one
    // kept from before (a data file read under the details file's name) is
    // forgotten, so the next run asks.
    if (IsSameFile(name, state.DataFileName)) {
        if (same) state.DetailsFileName.clear();
        ports.Messages->Show(kDataFileBeingRead, "Error");
        return;
    }
    state.DetailsFileName = name;
    state.DetailsFile.Open(state.DetailsFileName, TextFile::Mode::Append);
}

void WriteDetailsHeader(AnalysisState& state, const std::string& bannerDateTime) {
    const ContingencyTable& table = state.Table;
    std::string text = "\n" + std::string("Zelkat                ") + bannerDateTime + "\n";
    text += "Observed numbers.\n";
    for (const std::string& line : ObservedTableLines(table)) text += line + "\n";
    text += "\n";
    std::string heading = " number    ";
    for (int i = 1; i <= table.Rows; ++i) {
        if (table.Cols > 1) {
            heading += Format(" row %d      ", i);
            for (int k = 0; k < table.Cols - 2; ++k) heading += "     ";
        } else {
            heading += Format("row %d  ", i);
        }
    }
    heading += "  probability     lrq       chi";
    text += heading + "\n";
    state.DetailsFile.Write(text);
}

namespace {

char OrderMark(double p, double observedP, double value, double observedValue) {
    if (p > observedP && value > observedValue) return '>';
    if (p < observedP && value < observedValue) return '<';
    return ' ';
}

// The observed counts of a one-way table, in category order.
int ObservedCategoryCount(const ContingencyTable& table, int k) {
    return table.Rows == 1 ? table.Observed(1, k + 1) : table.Observed(k + 1, 1);
}

bool IsObservedTable(const AnalysisState& state) {
    const ContingencyTable& table = state.Table;
    if (!table.TwoWay) {
        for (int k = 0; k < state.Categories; ++k)
            if (state.CategoryCounts[static_cast<std::size_t>(k)] != ObservedCategoryCount(table, k)) return false;
        return true;
    }
    for (int i = 1; i <= table.Rows; ++i)
        for (int j = 1; j <= table.Cols; ++j)
            if (table.At(i, j) != table.Observed(i, j)) return false;
    return true;
}

// The cells of the sample point, with "//" before each row of the table as
// it was entered; a one-row table of categories has no row mark.
std::string CellsText(const AnalysisState& state) {
    const ContingencyTable& table = state.Table;
    std::string text;
    if (!table.TwoWay) {
        for (int k = 0; k < state.Categories; ++k) {
            if (table.Rows > 1) text += "//";
            text += Format(" %4d", state.CategoryCounts[static_cast<std::size_t>(k)]);
        }
        return text;
    }
    for (int i = 1; i <= table.Rows; ++i) {
        text += "//";
        for (int j = 1; j <= table.Cols; ++j) text += Format(" %4d", table.At(i, j));
    }
    return text;
}

// The per-cell line: each cell's likelihood-ratio contribution or Pearson
// residual against its expected count, laid out row by row like the cells.
std::string CellDetailLine(const AnalysisState& state, bool likelihoodRatio) {
    const ContingencyTable& table = state.Table;
    auto value = [likelihoodRatio](int n, double e) {
        if (likelihoodRatio) return n == 0 ? 0.0 : 2.0 * n * std::log(n / e);
        return (n - e) / std::sqrt(e);
    };
    std::string line = likelihoodRatio ? "   lrq " : "   chi ";
    if (!table.TwoWay) {
        double n = 0.0;
        for (int k = 0; k < state.Categories; ++k) n += state.CategoryCounts[static_cast<std::size_t>(k)];
        if (table.Rows == 1) line += "//";
        for (int k = 0; k < state.Categories; ++k) {
            if (table.Rows > 1) line += "//";
            const double e = n * state.Proportions[static_cast<std::size_t>(k)];
            line += Format(" %4.1f", value(state.CategoryCounts[static_cast<std::size_t>(k)], e));
        }
        return line;
    }
    for (int i = 1; i <= table.Rows; ++i) {
        line += "//";
        for (int j = 1; j <= table.Cols; ++j) line += Format(" %4.1f", value(table.At(i, j), ExpectedCount(table, i, j)));
    }
    return line;
}

}  // namespace

void TraceSamplePoint(AnalysisState& state, double p, double g, double x) {
    const double observedP = state.ObservedProbability;
    const char observationMark = p == observedP && IsObservedTable(state) ? '*' : ' ';
    const char lrMark = OrderMark(p, observedP, g, state.G2);
    const char chiMark = OrderMark(p, observedP, x, state.X2);
    const int track = state.Options.Track;
    if (observationMark == ' ' && lrMark == ' ' && chiMark == ' ' && track <= 0) return;
    std::string text = Format("%6lld%c ", static_cast<long long>(state.ProgressCounter), observationMark);
    text += CellsText(state);
    if (p >= 5e-7)
        text += Format("  :: %11.9f %8.2f%c %8.2f%c", p, g, lrMark, x, chiMark);
    else
        text += Format("  :: %11.4e %8.2f%c %8.2f%c", p, g, lrMark, x, chiMark);
    text += "\n";
    ++state.TracedCount;
    if (track == 2 || track == 4) text += CellDetailLine(state, true) + "\n";
    if (track == 3 || track == 4) text += CellDetailLine(state, false) + "\n";
    state.DetailsFile.Write(text);
}

}  // namespace kelvorin
