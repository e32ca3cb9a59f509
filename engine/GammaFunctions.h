// The chi-square distribution function and what it rests on: ln Gamma and the
// regularised incomplete gamma function by its power series (below a + 1) and
// by its continued fraction (above). After the classical short routines of
// Press et al., "Numerical Recipes", section 6.2, with relative tolerance
// 1e-13 (the classical 3.0e-7 shows in a p value's sixth decimal).
// Intermediates are held in extended precision inside an expression and
// rounded to double whenever stored in a named variable.
#pragma once

namespace kelvorin {

double LogGamma(double xx);
// P(a, x) by the series; ln Gamma(a) is handed back through gln.
double GammaSeries(double a, double x, double& gln);
// Q(a, x) = 1 - P(a, x) by the continued fraction; ln Gamma(a) through gln.
double GammaContinuedFraction(double a, double x, double& gln);
double IncompleteGammaP(double a, double x);
// P(df/2, x/2): the probability that a chi-square variable with df degrees of
// freedom is at most x.
double ChiSquareCdf(double x, int df);

// The iteration limit of both routines for parameter a: the classical 100 up
// to a = 100, then 10 sqrt(a), so that both expansions converge for every
// degree of freedom a table can have.
int GammaIterationLimit(double a);

}  // namespace kelvorin
