#include "SamplePointStep.h"

#include <string>

#include "ExactEnumeration.h"
#include "SampleTrace.h"

namespace kelvorin {

SamplePointStep::SamplePointStep(AnalysisState& state, const EnginePorts& ports)
    : state_(state),
      ports_(ports),
      oneWay_(!state.Table.TwoWay),
      twoByTwo_(state.Table.Rows == 2 && state.Table.Cols == 2),
      tallyLR_(state.Options.ExaLRtest),
      tallyChi_(state.Options.ExaCStest),
      trace_(state.Options.Details && state.DetailsFile.IsOpen()) {}

void SamplePointStep::Visit(double p, double g, double x) {
    ++state_.SamplePointCount;
    ++state_.ProgressCounter;
    ShowProgress();
    if (twoByTwo_) {
        const auto x11 = static_cast<std::uint32_t>(state_.Table.At(1, 1));
        const auto observed = static_cast<std::uint32_t>(state_.ObservedX11);
        if (x11 < observed)
            state_.FisherLess += p;
        else if (x11 > observed)
            state_.FisherGreater += p;
        else
            state_.FisherEqual += p;
    }
    UpdateTally(state_.ProbabilityTally, TallyKind::Probability, p, state_.ObservedProbability, p);
    if (tallyLR_) UpdateTally(state_.G2Tally, TallyKind::Statistic, g, state_.G2, p);
    if (tallyChi_) UpdateTally(state_.X2Tally, TallyKind::Statistic, x, state_.X2, p);
    if (trace_) TraceSamplePoint(state_, p, g, x);
}

void SamplePointStep::Overflow() {
    ports_.Messages->Show("To many observations", "ERROR");
    state_.Abandoned = true;
}

void SamplePointStep::ShowProgress() {
    if (oneWay_) {
        if (state_.ProgressCounter % 100 != 0) return;
    } else {
        if (state_.ProgressCounter != state_.ProgressInterval) return;
    }
    ports_.Status->SetText(std::to_string(state_.SamplePointCount) + "  Click to break");
    ports_.Pump->ProcessPendingEvents();
    if (oneWay_) return;
    state_.ProgressCounter = 0;
    if (state_.SamplePointCount > 1000000) state_.ProgressInterval = 100000;
}

}  // namespace kelvorin
