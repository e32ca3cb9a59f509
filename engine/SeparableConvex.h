// Extremes of a separable objective over the integer vectors x with
// lo_k <= x_k <= hi_k and sum x_k = total, the objective combining parts
// g(k, x_k) each convex in x_k (sums of convex parts, or products of
// log-convex ones).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace kelvorin {

// The vector with the least objective, by marginal allocation: from x = lo,
// each of the total - sum lo units goes to the line whose raising costs
// least (raise(k, x): the cost of raising line k from x, compared by
// less; ties go to the first line). Exact for separable convex
// objectives. Each line's cost is formed once per unit it takes. The total
// must be reachable.
template <typename Raise, typename Less>
std::vector<std::int32_t> LeastChoice(const std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi,
                                      std::int32_t total, Raise&& raise, Less&& less) {
    std::vector<std::int32_t> x = lo;
    std::int32_t units = total;
    for (const std::int32_t low : lo) units -= low;
    const std::size_t K = lo.size();
    std::vector<decltype(raise(std::size_t{0}, std::int32_t{0}))> cost(K);
    for (std::size_t k = 0; k < K; ++k)
        if (x[k] < hi[k]) cost[k] = raise(k, x[k]);
    for (std::int32_t u = 0; u < units; ++u) {
        std::size_t best = K;
        for (std::size_t k = 0; k < K; ++k)
            if (x[k] < hi[k] && (best == K || less(cost[k], cost[best]))) best = k;
        if (++x[best] < hi[best]) cost[best] = raise(best, x[best]);
    }
    return x;
}

// The greatest objective, reached at a vertex of the polytope (every x_k at
// an end of its range but at most one): for each free line, the best
// combination of ends of the others by sum (a subset sum over 0..total),
// completed by the free line. combine(value, part) folds a part in from
// unit; none lies below every value.
template <typename Value, typename Part, typename Combine>
Value GreatestAtVertex(const std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi, std::int32_t total,
                       Part&& part, Combine&& combine, Value unit, Value none) {
    const auto T = static_cast<std::size_t>(total);
    const std::size_t K = lo.size();
    Value best = none;
    // The parts at the ends, formed once.
    std::vector<Value> atLo(K), atHi(K);
    for (std::size_t k = 0; k < K; ++k) {
        atLo[k] = part(k, lo[k]);
        atHi[k] = part(k, hi[k]);
    }
    // Few lines: the ends of the others taken in every combination, folded
    // in the same order as below (so the same values: combine is monotone
    // in what it folds into, rounding included).
    if (K <= 12 && (std::size_t{1} << (K - 1)) <= (K - 1) * (T + 1)) {
        for (std::size_t free = 0; free < K; ++free)
            for (std::size_t ends = 0; ends < (std::size_t{1} << (K - 1)); ++ends) {
                Value value = unit;
                std::int32_t sum = 0;
                for (std::size_t k = 0, bit = 0; k < K; ++k) {
                    if (k == free) continue;
                    const bool high = (ends >> bit++) & 1;
                    sum += high ? hi[k] : lo[k];
                    value = combine(value, high ? atHi[k] : atLo[k]);
                }
                const std::int32_t x = total - sum;
                if (x >= lo[free] && x <= hi[free]) best = std::max(best, combine(value, part(free, x)));
            }
        return best;
    }
    std::vector<Value> reach(T + 1), step(T + 1);
    for (std::size_t free = 0; free < K; ++free) {
        std::fill(reach.begin(), reach.end(), none);
        reach[0] = unit;
        for (std::size_t k = 0; k < K; ++k) {
            if (k == free) continue;
            std::fill(step.begin(), step.end(), none);
            for (std::size_t t = 0; t <= T; ++t) {
                if (reach[t] == none) continue;
                for (const bool high : {false, true}) {
                    const std::size_t to = t + static_cast<std::size_t>(high ? hi[k] : lo[k]);
                    if (to <= T) step[to] = std::max(step[to], combine(reach[t], high ? atHi[k] : atLo[k]));
                }
            }
            reach.swap(step);
        }
        for (std::size_t t = 0; t <= T; ++t) {
            const auto x = static_cast<std::int32_t>(T - t);
            if (reach[t] != none && x >= lo[free] && x <= hi[free])
                best = std::max(best, combine(reach[t], part(free, x)));
        }
    }
    return best;
}

// The remainders of a bounded vector with a fixed sum: per line k and the
// units left for lines k.. (only what can be left after the lines before k:
// from total less their greatest counts to total less their least), over
// the choices of those lines, the least and greatest of their parts folded
// together (combine(part of line k, fold of the lines after it)), their
// number and the sum of the products of their weights.
template <typename Value>
struct RemainderRange {
    Value Least{};
    Value Greatest{};
    std::uint64_t Count = 0;
    long double Weight = 0.0L;
};
template <typename Value>
struct Remainders {
    std::vector<std::vector<RemainderRange<Value>>> At;  // At[k][left - From[k]]
    std::vector<std::int32_t> From;
    const RemainderRange<Value>& Of(std::size_t k, std::int32_t left) const {
        return At[k][static_cast<std::size_t>(left - From[k])];
    }
};

// How the fold of the last two lines varies along the first one's choice,
// with the units left for both fixed: unknown; rising then falling
// (products of log-concave parts: the greatest inside, the least at an
// end); or falling then rising (sums of convex parts: the least inside).
enum class PairShape { Any, Peak, Dip };

// Where a line's values (value(x) for the choices from..to) stop rising
// (Peak) or falling (Dip): the first choice from which the next value is
// not above (Peak) or below (Dip), found by bisection. For a line of that
// shape it is the extreme inside; where rounding makes neighbours near the
// extreme tie or step the wrong way, the value there is within that
// rounding of the extreme.
template <typename ValueAt>
std::int32_t TurnOf(std::int32_t from, std::int32_t to, PairShape shape, ValueAt&& value) {
    while (from < to) {
        const std::int32_t mid = from + (to - from) / 2;
        const auto here = value(mid), next = value(mid + 1);
        if (shape == PairShape::Peak ? here < next : next < here)
            from = mid + 1;
        else
            to = mid;
    }
    return from;
}

// The last y of x..end at which holds(y), where holds is true at x and on
// a prefix of x..end: steps doubling from x bracket it, then bisection (of
// the order of the logarithm of y - x evaluations).
template <typename Holds>
std::int32_t LastHolding(std::int32_t x, std::int32_t end, Holds&& holds) {
    std::int32_t in = x, step = 1;
    while (step <= end - in && holds(in + step)) {
        in += step;
        step *= 2;
    }
    for (std::int32_t out = step <= end - in ? in + step : end + 1; out - in > 1;) {
        const std::int32_t mid = in + (out - in) / 2;
        (holds(mid) ? in : out) = mid;
    }
    return in;
}

// Lines of more choices than this are worth taking in runs between bounds
// (shorter ones, mostly a run of a table or two each, are cheaper one by
// one), and only where the runs average at least kTablesPerRun choices.
constexpr std::int32_t kRunsFrom = 16;
constexpr std::int32_t kTablesPerRun = 4;

// A pairWeight for lines whose weights are 1 / (x! (r - x)!) (factorial(n)
// is n!), the last two holding r and r2 in all: where their range is every
// count that leaves no cell negative, Vandermonde's identity gives
// sum_x 1 / (x! (r - x)! (u - x)! (r2 - u + x)!) = C(r + r2, u) / (r! r2!).
// (Formed as a binomial over a product of two factorials, so nothing is
// past the largest factorial.)
template <typename Factorial>
auto FactorialPairWeight(Factorial factorial, std::int32_t r, std::int32_t r2) {
    return [factorial, r, r2](std::int32_t left, std::int32_t from, std::int32_t upTo) -> long double {
        if (from != std::max(0, left - r2) || upTo != std::min(r, left)) return -1.0L;
        return factorial(r + r2) / (factorial(r) * factorial(r2)) / (factorial(left) * factorial(r + r2 - left));
    };
}

// Pairs of lines of more choices than this are worth their shape (shorter
// ones are cheaper tried one by one).
constexpr std::int32_t kShapedFrom = 8;

// Forms them line by line from the last. The number of choices below a
// reachable remainder is at most that of the whole, so a count of tables
// does not overflow; a product of weights is formed as the enumeration of
// the choices forms it from the last line's.
//
// With a known shape the last two lines' least and greatest are found from
// the ends and the turn (of the same folded values); pairWeight(left, from,
// to), when given, returns the sum of their products of weights over the
// first one's choices from..to in closed form, or a negative value where it
// has none. With three lines, the last two's choices are about as many as
// all tables: these keep the remainders from costing as much as visiting
// them.
template <typename Value, typename Part, typename Weight, typename Combine, typename PairWeight = std::nullptr_t>
void FormRemainders(const std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi, std::int32_t total,
                    Part&& part, Weight&& weight, Combine&& combine, Remainders<Value>& out,
                    PairShape shape = PairShape::Any, PairWeight&& pairWeight = nullptr) {
    constexpr bool closedWeights = !std::is_same_v<std::decay_t<PairWeight>, std::nullptr_t>;
    const std::size_t K = lo.size();
    std::vector<std::int32_t> least(K + 1, 0), most(K + 1, 0), to(K);
    for (std::size_t k = K; k-- > 0;) {
        least[k] = least[k + 1] + lo[k];
        most[k] = most[k + 1] + hi[k];
    }
    out.At.resize(K);
    out.From.resize(K);
    for (std::size_t k = 0, low = 0, high = 0; k < K; ++k) {
        out.From[k] = std::max<std::int32_t>(least[k], total - static_cast<std::int32_t>(high));
        to[k] = std::min<std::int32_t>(most[k], total - static_cast<std::int32_t>(low));
        low += static_cast<std::size_t>(lo[k]);
        high += static_cast<std::size_t>(hi[k]);
    }
    for (std::size_t k = K; k-- > 0;) {
        std::vector<RemainderRange<Value>>& here = out.At[k];
        here.assign(static_cast<std::size_t>(std::max(0, to[k] - out.From[k] + 1)), RemainderRange<Value>{});
        for (std::int32_t left = out.From[k]; left <= to[k]; ++left) {
            RemainderRange<Value>& range = here[static_cast<std::size_t>(left - out.From[k])];
            if (k + 1 == K) {
                range = {part(k, left), part(k, left), 1, weight(k, left)};
                continue;
            }
            const std::int32_t from = std::max(lo[k], left - most[k + 1]);
            const std::int32_t upTo = std::min(hi[k], left - least[k + 1]);
            if (k + 2 == K && shape != PairShape::Any && upTo - from >= kShapedFrom) {
                auto folded = [&](std::int32_t x) { return combine(part(k, x), out.Of(k + 1, left - x).Least); };
                const Value inside = folded(TurnOf(from, upTo, shape, folded));
                const Value ends[2] = {folded(from), folded(upTo)};
                const Value endLow = std::min(ends[0], ends[1]), endHigh = std::max(ends[0], ends[1]);
                range.Least = shape == PairShape::Peak ? endLow : std::min(endLow, inside);
                range.Greatest = shape == PairShape::Peak ? std::max(endHigh, inside) : endHigh;
                range.Count = static_cast<std::uint64_t>(upTo - from) + 1;
                long double sum = -1.0L;
                if constexpr (closedWeights) sum = pairWeight(left, from, upTo);
                if (sum < 0.0L) {
                    sum = 0.0L;
                    for (std::int32_t x = from; x <= upTo; ++x) sum += weight(k, x) * out.Of(k + 1, left - x).Weight;
                }
                range.Weight = sum;
                continue;
            }
            for (std::int32_t x = from; x <= upTo; ++x) {
                const RemainderRange<Value>& rest = out.Of(k + 1, left - x);
                const Value low = combine(part(k, x), rest.Least);
                const Value high = combine(part(k, x), rest.Greatest);
                range.Least = x == from ? low : std::min(range.Least, low);
                range.Greatest = x == from ? high : std::max(range.Greatest, high);
                range.Count += rest.Count;
                range.Weight += weight(k, x) * rest.Weight;
            }
        }
    }
}

}  // namespace kelvorin
