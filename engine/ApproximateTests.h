// The large-sample tests: the likelihood-ratio and Pearson statistics
// referred to the chi-square distribution with the table's degrees of
// freedom, the Yates-corrected variants of a 2 x 2 table and the smallest
// expected count.
#pragma once

#include "AnalysisState.h"
#include "Ports.h"

namespace kelvorin {

// N max(0, |ad - bc| - N/2)^2 / (R_1 R_2 C_1 C_2) for the 2 x 2 table in
// Cells: the correction brings |ad - bc| at most to 0, so a table already
// within N/2 of it gives 0.
double PearsonYatesStatistic(const ContingencyTable& table);

// The likelihood-ratio statistic of the 2 x 2 table with every count moved
// half a unit towards its expected count, but not past it (a count within
// half a unit is taken as the expected count).
double LikelihoodRatioYatesStatistic(const ContingencyTable& table);

// (r - 1)(c - 1) for a two-way table, K - 1 for a one-way table.
int DegreesOfFreedom(const AnalysisState& state);

// 1 - ChiSquareCdf(statistic, df), in extended precision rounded to double.
double ApproximatePValue(double statistic, int df);

void WriteApproximateLikelihoodRatio(const AnalysisState& state, ReportSink& report);
void WriteApproximatePearson(const AnalysisState& state, ReportSink& report);

}  // namespace kelvorin
