// Extremes of a separable objective over the integer vectors x with
// lo_k <= x_k <= hi_k and sum x_k = total, the objective combining parts
// g(k, x_k) each convex in x_k (sums of convex parts, or products of
// log-convex ones).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvorin {

// The vector with the least objective, by marginal allocation: from x = lo,
// each of the total - sum lo units goes to the line whose raising costs
// least (cheaper(a, x_a, b, x_b): raising line a from x_a costs less than
// raising b from x_b; ties go to the first line). Exact for separable
// convex objectives. The total must be reachable.
template <typename Cheaper>
std::vector<std::int32_t> LeastChoice(const std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi,
                                      std::int32_t total, Cheaper&& cheaper) {
    std::vector<std::int32_t> x = lo;
    std::int32_t units = total;
    for (const std::int32_t low : lo) units -= low;
    const std::size_t K = lo.size();
    for (std::int32_t u = 0; u < units; ++u) {
        std::size_t best = K;
        for (std::size_t k = 0; k < K; ++k)
            if (x[k] < hi[k] && (best == K || cheaper(k, x[k], best, x[best]))) best = k;
        ++x[best];
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
                    const std::int32_t x = (ends >> bit++) & 1 ? hi[k] : lo[k];
                    sum += x;
                    value = combine(value, part(k, x));
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
                for (const std::int32_t x : {lo[k], hi[k]}) {
                    const std::size_t to = t + static_cast<std::size_t>(x);
                    if (to <= T) step[to] = std::max(step[to], combine(reach[t], part(k, x)));
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

// Forms them line by line from the last. The number of choices below a
// reachable remainder is at most that of the whole, so a count of tables
// does not overflow; a product of weights is formed as the enumeration of
// the choices forms it from the last line's.
template <typename Value, typename Part, typename Weight, typename Combine>
void FormRemainders(const std::vector<std::int32_t>& lo, const std::vector<std::int32_t>& hi, std::int32_t total,
                    Part&& part, Weight&& weight, Combine&& combine, Remainders<Value>& out) {
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
