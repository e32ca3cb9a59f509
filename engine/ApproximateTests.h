// The large-sample tests: the likelihood-ratio and Pearson statistics
// referred to the chi-square distribution with the table's degrees of
// freedom, the Yates-corrected variants of a 2 x 2 table and the smallest
// expected count.
#pragma once

#include "AnalysisState.h"
#include "Ports.h"

namespace kelvorin {

// N (|ad - bc| - N/2)^2 / (R_1 R_2 C_1 C_2) for the 2 x 2 table in Cells.
// The difference has no lower bound (|ad - bc| < N/2 is squared as it is).
double PearsonYatesStatistic(const ContingencyTable& table);

// The likelihood-ratio statistic of the 2 x 2 table with every count moved
// half a unit towards its expected count.
double LikelihoodRatioYatesStatistic(const ContingencyTable& table);

// (r - 1)(c - 1) for a two-way table, K - 1 for a one-way table.
int DegreesOfFreedom(const AnalysisState& state);

// 1 - ChiSquareCdf(statistic, df), in extended precision rounded to double.
double ApproximatePValue(double statistic, int df);

void WriteApproximateLikelihoodRatio(const AnalysisState& state, ReportSink& report);
void WriteApproximatePearson(const AnalysisState& state, ReportSink& report);

}  // namespace kelvorin
