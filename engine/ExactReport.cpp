#include "ExactReport.h"

#include <cmath>
#include <string>

#include "Format.h"

namespace kelvorin {

void WriteExactBlocks(const AnalysisState& state, ReportSink& report) {
    const AnalysisOptions& options = state.Options;
    if (state.Abandoned) return;
    if (options.ExaLRtest) {
        const ExactTally& t = state.G2Tally;
        report.AppendLine("");
        report.AppendLine("Exact (multi tailed) Likelihood Ratio ");
        if (state.TooManyObservations) {
            report.AppendLine("To many observations.");
        } else {
            report.AppendLine(Format("  Greater than:%9s points with prob. %9.6f", CountText(t.GreaterCount).c_str(), t.GreaterMass));
            report.AppendLine(Format("  Equal to:    %9s points with prob. %9.6f", CountText(t.EqualCount).c_str(), t.EqualMass));
            report.AppendLine(Format("  Less than:   %9s points with prob. %9.6f", CountText(t.LessCount).c_str(), t.LessMass));
            report.AppendLine(Format(" ==>  Significance (recommended)     p =   %9.6f <==", t.EqualMass + t.GreaterMass));
        }
        report.AppendLine("");
    }
    if (options.ExaCStest) {
        const ExactTally& t = state.X2Tally;
        report.AppendLine("Exact (multi tailed) Chi Square ");
        if (state.TooManyObservations) {
            report.AppendLine("To many observations.");
        } else {
            report.AppendLine(Format("  Greater than:%9s points with prob. %9.6f", CountText(t.GreaterCount).c_str(), t.GreaterMass));
            report.AppendLine(Format("  Equal to:    %9s points with prob  %9.6f", CountText(t.EqualCount).c_str(), t.EqualMass));
            report.AppendLine(Format("  Less than:   %9s points with prob. %9.6f", CountText(t.LessCount).c_str(), t.LessMass));
            report.AppendLine(Format(" -->  Significance                   p =   %9.6f <--", t.EqualMass + t.GreaterMass));
        }
        report.AppendLine("");
    }
    if (options.CountPos && !state.TooManyObservations) {
        const ExactTally& t = state.ProbabilityTally;
        report.AppendLine("Exact (multi tailed) Fisher test ");
        report.AppendLine(Format("  Less prob:   %9s points with prob. %9.6f", CountText(t.LessCount).c_str(), t.LessMass));
        report.AppendLine(Format("  Same prob:   %9s points with prob. %9.6f", CountText(t.EqualCount).c_str(), t.EqualMass));
        report.AppendLine(Format("  Greater prob:%9s points with prob. %9.6f", CountText(t.GreaterCount).c_str(), t.GreaterMass));
        report.AppendLine(Format(" -->  Significance                   p =   %9.6f <--", t.LessMass + t.EqualMass));
        report.AppendLine(" This value is used by many statistical");
        report.AppendLine(" programs - like SPSS, Stata, SAS and R");
        report.AppendLine("");
    }
}

void ShowSamplePoint(const AnalysisState& state, ReportSink& report) {
    const ContingencyTable& table = state.Table;
    if (!table.TwoWay && state.Categories > 0) {
        std::string line;
        for (int k = 0; k < state.Categories; ++k) line += Format(" %4d", state.CategoryCounts[static_cast<std::size_t>(k)]);
        report.AppendLine(line);
        return;
    }
    for (int i = 1; i <= table.Rows; ++i) {
        std::string line;
        for (int j = 1; j <= table.Cols; ++j) line += Format(" %3d", table.At(i, j));
        report.AppendLine(line);
    }
}

std::string UsedTimeText(double elapsedDays, const Clock& clock) {
    const double seconds = elapsedDays * 24 * 60 * 60;
    const double fraction = seconds - std::floor(seconds);
    return clock.LongTimeText(elapsedDays) + Format("%5.3f", fraction).substr(1);
}

void WriteClosingLines(AnalysisState& state, const EnginePorts& ports, bool enumerated) {
    ReportSink& report = *ports.Report;
    const ExactTally& t = state.ProbabilityTally;
    if (state.Abandoned) {
        const std::string line = " Calculations interrupted at sample point nr " + CountText(state.SamplePointCount);
        report.AppendLine(line);
        ports.Status->SetText(line);
        ShowSamplePoint(state, report);
        // The enumeration's sum is that of the points visited; the network's
        // passes each settle points of one ordering, and their mean mass
        // goes with their mean count.
        const double visited = state.NetworkUsed ? state.SettledMass : TotalMass(t);
        report.AppendLine(Format(" Sum of probabilities %7.3E ", visited));
    } else {
        state.Running = false;
        const AnalysisOptions& o = state.Options;
        if ((o.ExaLRtest || o.ExaCStest || o.CountPos) && enumerated) {
            const std::string line = "Number of sample points = " + CountText(state.SamplePointCount);
            ports.Status->SetText(line);
            report.AppendLine(line);
            const double d = 1.0 - TotalMass(t);
            if (std::fabs(d) > 1e-12) report.AppendLine(Format("Warning :  1 - sum of probabilities = %7.3E ", d));
        }
    }
    const double elapsed = ports.LocalClock->Now() - state.StartTime;
    report.AppendLine("  Used time : " + UsedTimeText(elapsed, *ports.LocalClock));
    report.AppendLine("");
}

}  // namespace kelvorin
