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
      trace_(TraceWritten(state)) {}

SamplePointStep::~SamplePointStep() { Finish(); }

void SamplePointStep::Finish() {
    if (finished_) return;
    finished_ = true;
    ExactTally* targets[3] = {&state_.ProbabilityTally, &state_.G2Tally, &state_.X2Tally};
    for (int t = 0; t < 3; ++t) {
        ExactTally& target = *targets[t];
        const Accumulator& source = tallies_[t];
        target.LessCount = source.Count[0];
        target.EqualCount = source.Count[1];
        target.GreaterCount = source.Count[2];
        target.LessMass = source.Mass[0];
        target.EqualMass = source.Mass[1];
        target.GreaterMass = source.Mass[2];
    }
}

void SamplePointStep::Visit(double p, double g, double x) {
    ++state_.SamplePointCount;
    ++state_.ProgressCounter;
    ShowProgress();
    if (twoByTwo_) AccumulateFisher(p);
    Add(tallies_[0], TallyClass(TallyKind::Probability, p, state_.ObservedProbability), p);
    if (tallyLR_) Add(tallies_[1], TallyClass(TallyKind::Statistic, g, state_.G2), p);
    if (tallyChi_) Add(tallies_[2], TallyClass(TallyKind::Statistic, x, state_.X2), p);
    if (trace_) TraceSamplePoint(state_, p, g, x);
}

void SamplePointStep::AccumulateFisher(double p) {
    const auto x11 = static_cast<std::uint32_t>(state_.Table.At(1, 1));
    const auto observed = static_cast<std::uint32_t>(state_.ObservedX11);
    if (x11 < observed)
        state_.FisherLess += p;
    else if (x11 > observed)
        state_.FisherGreater += p;
    else
        state_.FisherEqual += p;
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
    ports_.Status->SetText(CountText(state_.SamplePointCount) + std::string(kBreakHint));
    ports_.Pump->ProcessPendingEvents();
    if (oneWay_) return;
    state_.ProgressCounter = 0;
    if (state_.SamplePointCount > 1000000) state_.ProgressInterval = 100000;
}

}  // namespace kelvorin
