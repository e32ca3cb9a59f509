#include "FisherTwoByTwo.h"

#include "Format.h"

namespace kelvorin {

void WriteFisherTwoTailed(const AnalysisState& state, ReportSink& report) {
    double m = state.FisherLess;
    if (state.FisherGreater < state.FisherLess) m = state.FisherGreater;
    double notRecommended = (m + state.FisherEqual) * 2;
    if (notRecommended > 1.0) notRecommended = 1.0;
    double corrected = 2 * m + state.FisherEqual;
    if (corrected > 1.0) corrected = 1.0;
    const int x11 = state.ObservedX11;
    report.AppendLine("");
    report.AppendLine("2 x 2 Fisher exact test - 'two tailed'.");
    report.AppendLine(Format("              p( X11 < %3d )     =         %9.6f", x11, state.FisherLess));
    report.AppendLine(Format("              P( X11 = %3d )     =         %9.6f", x11, state.FisherEqual));
    report.AppendLine(Format("              p( X11 > %3d )     =         %9.6f", x11, state.FisherGreater));
    report.AppendLine(Format(" (not recom.)     p-two tailed   =         %9.6f", notRecommended));
    report.AppendLine(Format(" (corrected)      p-two tailed   =         %9.6f", corrected));
    report.AppendLine("");
}

void WriteFisherOneTailed(AnalysisState& state, ReportSink& report) {
    state.FisherOneTail = state.FisherLess >= state.FisherGreater ? state.FisherGreater : state.FisherLess;
    const int x11 = state.ObservedX11;
    report.AppendLine("");
    report.AppendLine("2 x 2 Fisher exact test - one tailed.");
    if (!state.Options.Opt2x2twotail) {
        report.AppendLine(Format("              p( X11 < %3d )   =           %9.6f", x11, state.FisherLess));
        report.AppendLine(Format("              P( X11 = %3d )   =           %9.6f", x11, state.FisherEqual));
        report.AppendLine(Format("              p( X11 > %3d )   =           %9.6f", x11, state.FisherGreater));
    }
    report.AppendLine(Format("                p-one tailed   =           %9.6f", state.FisherOneTail + state.FisherEqual));
    report.AppendLine("  (Remember to check the direction)");
    report.AppendLine("");
}

}  // namespace kelvorin
