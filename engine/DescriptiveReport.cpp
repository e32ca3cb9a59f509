#include "DescriptiveReport.h"

#include <functional>

#include "ExactEnumeration.h"
#include "Format.h"

namespace kelvorin {

namespace {

using CellText = std::function<std::string(int i, int j)>;
using RowText = std::function<std::string(int i)>;
using ColumnText = std::function<std::string(int j)>;

std::vector<std::string> TableBlock(const ContingencyTable& table, const CellText& cell, const RowText& right,
                                    const ColumnText& bottom, const std::string& grand) {
    std::vector<std::string> lines;
    const int r = table.Rows;
    const int c = table.Cols;
    for (int i = 1; i <= r; ++i) {
        std::string line;
        for (int j = 1; j <= c; ++j) line += cell(i, j);
        if (c > 1) line += "  | " + right(i);
        lines.push_back(line);
    }
    if (r > 1) {
        std::string separator = "--";
        for (int j = 1; j <= c; ++j) separator += "------";
        if (c > 1) separator += "+-------";
        lines.push_back(separator);
        std::string totals;
        for (int j = 1; j <= c; ++j) totals += bottom(j);
        if (c > 1) totals += "  | " + grand;
        lines.push_back(totals);
    }
    return lines;
}

void WriteSection(ReportSink& report, const std::string& title, const std::vector<std::string>& lines) {
    report.AppendLine(title);
    for (const std::string& line : lines) report.AppendLine(line);
    report.AppendLine("");
}

std::string Integer(int value) { return Format(" %5d", value); }
std::string Fraction(double value) { return Format(" %5.1f", value); }

}  // namespace

std::vector<std::string> ObservedTableLines(const ContingencyTable& table) {
    return TableBlock(
        table, [&](int i, int j) { return Integer(table.At(i, j)); },
        [&](int i) { return Integer(table.RowTotal(i)); }, [&](int j) { return Integer(table.ColTotal(j)); },
        Integer(table.GrandTotal()));
}

void WriteObservedNumbers(const AnalysisState& state, ReportSink& report) {
    WriteSection(report, "Observed Numbers.", ObservedTableLines(state.Table));
}

void WriteExpectedNumbers(const AnalysisState& state, ReportSink& report) {
    const ContingencyTable& table = state.Table;
    auto expected = [&](int i, int j) {
        if (table.TwoWay) return ExpectedCount(table, i, j);
        const int k = table.Rows == 1 ? j - 1 : i - 1;
        return table.GrandTotal() * state.Proportions[static_cast<std::size_t>(k)];
    };
    WriteSection(report, "Expected Numbers.",
                 TableBlock(
                     table, [&](int i, int j) { return Fraction(expected(i, j)); },
                     [&](int i) { return Integer(table.RowTotal(i)); },
                     [&](int j) { return Integer(table.ColTotal(j)); }, Integer(table.GrandTotal())));
}

void WriteColumnPercentages(const AnalysisState& state, ReportSink& report) {
    const ContingencyTable& table = state.Table;
    std::vector<double> factor(static_cast<std::size_t>(table.Cols + 1), 0.0);
    for (int j = 1; j <= table.Cols; ++j) factor[static_cast<std::size_t>(j)] = 100.0 / table.ColTotal(j);
    WriteSection(report, "Column percentages.",
                 TableBlock(
                     table, [&](int i, int j) { return Fraction(table.At(i, j) * factor[static_cast<std::size_t>(j)]); },
                     [&](int i) { return Fraction(table.RowTotal(i) * 100.0 / table.GrandTotal()); },
                     [&](int) { return Fraction(100.0); }, Fraction(100.0)));
}

void WriteRowPercentages(const AnalysisState& state, ReportSink& report) {
    const ContingencyTable& table = state.Table;
    std::vector<double> factor(static_cast<std::size_t>(table.Rows + 1), 0.0);
    for (int i = 1; i <= table.Rows; ++i) factor[static_cast<std::size_t>(i)] = 100.0 / table.RowTotal(i);
    const double share = 100.0 / table.GrandTotal();
    WriteSection(report, "Row percentages.",
                 TableBlock(
                     table, [&](int i, int j) { return Fraction(table.At(i, j) * factor[static_cast<std::size_t>(i)]); },
                     [&](int) { return Fraction(100.0); }, [&](int j) { return Fraction(table.ColTotal(j) * share); },
                     Fraction(100.0)));
}

}  // namespace kelvorin
