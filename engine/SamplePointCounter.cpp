// Counting the sample points of the exact tests.
//
// Two-way tables are counted by a dynamic programme over the rows. After the
// first d rows of a table are filled, what is left to fill depends only on the
// remaining column totals, and only on them as a multiset, since permuting
// columns permutes the completions. So
//
//   T(d, S) = sum over rows x with sum(x) = R_d, x <= S of T(d + 1, S - x),
//
// where S is kept sorted (and stripped of zeros) and memoised per depth.
// Columns with equal remaining totals are interchangeable: for a group of m
// such columns only the multiset of amounts taken from them is enumerated, and
// it stands for m! / (k_1! k_2! ...) rows, formed as a product of binomials.
// The last two rows are not enumerated: the number of ways to complete them is
// the number of x with 0 <= x_j <= S_j and sum(x) = R, i.e. the coefficient of
// t^R in prod_j (1 + t + ... + t^S_j), computed by one pass per column.
//
// Rows are processed in increasing order of their totals, so that the two
// largest rows fall to the closed form, and the table is transposed when a
// rough estimate of the work says so (the count is symmetric under
// transposition).
//
// Counts are carried exactly in 64 bits with overflow detection and, alongside,
// in long double, which takes over once the exact value overflows. Every
// quantity is formed from non-negative values by additions and
// multiplications only, so the long-double value keeps a small relative error.
//
// The counter is run before every analysis, so its work is bounded: every
// step (a node of the row enumeration, a memo lookup, a cell of the two-row
// closed form) is charged to a fixed budget, and the count is reported as
// unknown once the budget is spent.
#include "SamplePointCounter.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "BoundedVectors.h"
#include "WideCount.h"

namespace kelvorin {
namespace {

constexpr std::uint64_t kMaxUint64 = std::numeric_limits<std::uint64_t>::max();

// Upper bound on the work units of one two-way count. A unit is one node of
// the row enumeration, one remaining total sorted and hashed for the memo, or
// one coefficient update of the two-row closed form; at some nanoseconds each
// the bound comes to a few tens of milliseconds.
constexpr long long kWorkBudget = 3'000'000;
// The bound below at once is tried up to this grand total (its work grows
// with the totals).
constexpr long long kAtLeastUpTo = 4096;

// The enumeration of one row recurses at most twice per column, and the rows
// recurse into each other; shapes that could nest deeper than this are not
// counted, to keep the stack small.
constexpr std::size_t kMaxNesting = 10'000;

// A non-negative count: exact in 64 bits until it overflows, and approximate
// in long double throughout.
struct Tally {
    std::uint64_t Exact = 0;
    long double Approx = 0.0L;
    bool Overflowed = false;
};

Tally TallyOf(std::uint64_t value) {
    return Tally{value, static_cast<long double>(value), false};
}

bool IsZero(const Tally& t) {
    return !t.Overflowed && t.Exact == 0;
}

void AddInto(Tally& sum, const Tally& x) {
    sum.Approx += x.Approx;
    if (sum.Overflowed || x.Overflowed || __builtin_add_overflow(sum.Exact, x.Exact, &sum.Exact)) {
        sum.Overflowed = true;
    }
}

Tally Sum(const Tally& a, const Tally& b) {
    Tally s = a;
    AddInto(s, b);
    return s;
}

Tally Product(const Tally& a, const Tally& b) {
    if (IsZero(a) || IsZero(b)) {
        return Tally{};
    }
    Tally p;
    p.Approx = a.Approx * b.Approx;
    p.Overflowed = a.Overflowed || b.Overflowed || __builtin_mul_overflow(a.Exact, b.Exact, &p.Exact);
    return p;
}

SamplePointEstimate ExactEstimate(std::uint64_t count) {
    SamplePointEstimate e;
    e.Count = static_cast<double>(count);
    e.Exact = true;
    e.ExactCount = count;
    return e;
}

// An approximate count as an estimate; unknown when it is not a finite double.
SamplePointEstimate ApproximateEstimate(long double count) {
    SamplePointEstimate e;
    if (std::isfinite(count) && count >= 0.0L && count <= static_cast<long double>(DBL_MAX)) {
        e.Count = static_cast<double>(count);
    }
    return e;
}

SamplePointEstimate EstimateOf(const Tally& t) {
    return t.Overflowed ? ApproximateEstimate(t.Approx) : ExactEstimate(t.Exact);
}

std::uint64_t StateHash(const std::vector<int>& state) {
    std::uint64_t h = 0xCBF29CE484222325ULL;
    for (int v : state) {
        h ^= static_cast<std::uint32_t>(v);
        h *= 0x9E3779B97F4A7C15ULL;
        h ^= h >> 29;
    }
    return h;
}

// The counts of the states met at one depth. Open addressing on the
// states' hashes, the states themselves stored end to end, so a lookup
// allocates nothing.
class StateMemo {
public:
    const Tally* Find(const std::vector<int>& state, std::uint64_t hash) const {
        if (slots_.empty()) {
            return nullptr;
        }
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (slot.Size == 0) {
                return nullptr;
            }
            if (slot.Hash == hash && slot.Size == state.size() &&
                std::equal(state.begin(), state.end(), keys_.begin() + static_cast<std::ptrdiff_t>(slot.Offset))) {
                return &slot.Count;
            }
        }
    }

    // STATE (of at least one total) must not be in the memo yet.
    void Add(const std::vector<int>& state, std::uint64_t hash, const Tally& count) {
        if (2 * (used_ + 1) > slots_.size()) {
            Grow();
        }
        Slot slot{hash, keys_.size(), state.size(), count};
        keys_.insert(keys_.end(), state.begin(), state.end());
        Place(slot);
        ++used_;
    }

private:
    struct Slot {
        std::uint64_t Hash = 0;
        std::size_t Offset = 0;
        std::size_t Size = 0;  // 0: empty
        Tally Count;
    };

    void Place(const Slot& slot) {
        std::size_t i = slot.Hash & mask_;
        while (slots_[i].Size != 0) {
            i = (i + 1) & mask_;
        }
        slots_[i] = slot;
    }

    void Grow() {
        std::vector<Slot> old(std::max<std::size_t>(64, 2 * slots_.size()));
        old.swap(slots_);
        mask_ = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.Size != 0) {
                Place(slot);
            }
        }
    }

    std::vector<Slot> slots_;
    std::vector<int> keys_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
};

// Counts the tables with the given margins. Preconditions: at least two rows,
// all totals positive, row and column totals with the same sum.
class TableCounter {
public:
    TableCounter(std::vector<int> rowTotals, std::vector<int> colTotals, long long budget, std::uint64_t stopAt)
        : rows_(std::move(rowTotals)),
          cols_(std::move(colTotals)),
          budget_(budget),
          stopAt_(stopAt),
          memo_(rows_.size()),
          sorted_(rows_.size() + 1),
          binomials_(cols_.size() + 1) {}

    // Sets COUNT and returns true, or returns false when the work bound or
    // the count to stop at (kMaxUint64: none) was reached.
    bool Run(Tally& count) {
        std::sort(cols_.begin(), cols_.end(), std::greater<int>());
        count = Count(0, cols_);
        return !exhausted_;
    }

    bool Reached() const { return reached_; }

private:
    struct Group {
        int Value;         // the remaining total shared by the columns of the group
        int Multiplicity;  // how many columns have it
    };

    // The enumeration of the rows R_depth that can be taken from one state.
    struct Expansion {
        std::size_t Depth = 0;
        std::vector<Group> Groups;
        std::vector<long long> CapacityAfter;  // sum of the totals of the groups after g
        std::vector<int> Next;                 // the non-zero remaining totals chosen so far: [0, Size)
        std::size_t Size = 0;
        Tally Total;
    };

    bool Spend(long long units) {
        work_ += units;
        if (work_ > budget_) {
            exhausted_ = true;
        }
        return !exhausted_;
    }

    // Row M of Pascal's triangle, built on first use. C(m, k + 1) =
    // C(m, k) (m - k) / (k + 1) is exact in 128 bits while C(m, k) fits in
    // 64; the row is filled up to the middle and mirrored.
    const std::vector<Tally>& BinomialRow(int m) {
        std::vector<Tally>& row = binomials_[static_cast<std::size_t>(m)];
        if (row.empty()) {
            row.resize(static_cast<std::size_t>(m) + 1);
            WideCount exact = 1;
            long double approx = 1.0L;
            bool overflowed = false;
            for (int k = 0; 2 * k <= m; ++k) {
                Tally c{overflowed ? 0 : static_cast<std::uint64_t>(exact), approx, overflowed};
                row[static_cast<std::size_t>(k)] = c;
                row[static_cast<std::size_t>(m - k)] = c;
                approx = approx * static_cast<long double>(m - k) / static_cast<long double>(k + 1);
                if (!overflowed) {
                    exact = exact * static_cast<WideCount>(m - k) / static_cast<WideCount>(k + 1);
                    overflowed = exact > kMaxUint64;
                }
            }
            Spend(m + 1);
        }
        return row;
    }

    // T(depth, state), state sorted in decreasing order without zeros.
    // (STATE is cols_ or sorted_[depth], which nothing below this depth
    // changes.)
    Tally Count(std::size_t depth, const std::vector<int>& state) {
        if (state.size() <= 1) {
            return TallyOf(1);  // the remaining rows all go to the one column left
        }
        StateMemo& memo = memo_[depth];
        const std::uint64_t hash = StateHash(state);
        if (const Tally* found = memo.Find(state, hash)) {
            return *found;
        }
        const int rowTotal = rows_[depth];
        if (depth + 2 == rows_.size()) {
            const Tally count = CountTwoRows(state, rowTotal);
            if (exhausted_ || !Spend(static_cast<long long>(state.size()))) {
                return Tally{};
            }
            memo.Add(state, hash, count);
            return count;
        }

        Expansion ex;
        ex.Depth = depth;
        for (int v : state) {
            if (!ex.Groups.empty() && ex.Groups.back().Value == v) {
                ++ex.Groups.back().Multiplicity;
            } else {
                ex.Groups.push_back(Group{v, 1});
            }
        }
        ex.CapacityAfter.assign(ex.Groups.size(), 0);
        for (std::size_t g = ex.Groups.size() - 1; g > 0; --g) {
            ex.CapacityAfter[g - 1] = ex.CapacityAfter[g] +
                                      static_cast<long long>(ex.Groups[g].Value) * ex.Groups[g].Multiplicity;
        }
        ex.Next.resize(state.size());
        const Group& first = ex.Groups.front();
        Distribute(ex, 0, first.Multiplicity, std::min(first.Value, rowTotal), rowTotal, TallyOf(1));
        if (exhausted_ || !Spend(static_cast<long long>(state.size()))) {
            return Tally{};
        }
        memo.Add(state, hash, ex.Total);
        return ex.Total;
    }

    // Chooses the amounts taken from group G, whose LEFT columns still to be
    // assigned take at most TAKE_MAX each, with REMAINING of the row total
    // still to place; WEIGHT counts the rows the choices so far stand for.
    // Within a group the amounts are chosen in decreasing order: the largest
    // amount t goes to k of the LEFT columns, in C(LEFT, k) ways.
    void Distribute(Expansion& ex, std::size_t g, int left, int takeMax, int remaining, const Tally& weight) {
        if (!Spend(1)) {
            return;
        }
        const Group& group = ex.Groups[g];
        if (left == 0) {
            if (g + 1 == ex.Groups.size()) {
                if (remaining == 0) {
                    Emit(ex, weight);
                }
                return;
            }
            const Group& next = ex.Groups[g + 1];
            Distribute(ex, g + 1, next.Multiplicity, std::min(next.Value, remaining), remaining, weight);
            return;
        }
        const long long after = ex.CapacityAfter[g];
        const std::vector<Tally>& binomial = BinomialRow(left);
        for (int t = takeMax; t >= 1; --t) {
            if (remaining > static_cast<long long>(left) * t + after) {
                break;  // even t from every column left cannot place the rest
            }
            // The other LEFT - k columns take at most t - 1 each.
            const long long needed = remaining - static_cast<long long>(left) * (t - 1) - after;
            const int kMin = static_cast<int>(std::max<long long>(1, needed));
            const int kept = group.Value - t;
            for (int k = kMin; k <= left && static_cast<long long>(k) * t <= remaining; ++k) {
                const std::size_t pushed = kept > 0 ? static_cast<std::size_t>(k) : 0;
                std::fill_n(ex.Next.begin() + static_cast<std::ptrdiff_t>(ex.Size), pushed, kept);
                ex.Size += pushed;
                const int rest = remaining - k * t;
                Distribute(ex, g, left - k, std::min(t - 1, rest), rest, Product(weight, binomial[static_cast<std::size_t>(k)]));
                ex.Size -= pushed;
                if (exhausted_) {
                    return;
                }
            }
        }
        if (remaining <= after) {  // every column left takes nothing
            std::fill_n(ex.Next.begin() + static_cast<std::ptrdiff_t>(ex.Size), left, group.Value);
            ex.Size += static_cast<std::size_t>(left);
            Distribute(ex, g, 0, 0, remaining, weight);
            ex.Size -= static_cast<std::size_t>(left);
        }
    }

    // One multiset of rows has been chosen: add its completions.
    void Emit(Expansion& ex, const Tally& weight) {
        if (!Spend(static_cast<long long>(ex.Size) + 1)) {
            return;
        }
        std::vector<int>& next = sorted_[ex.Depth + 1];
        next.assign(ex.Next.begin(), ex.Next.begin() + static_cast<std::ptrdiff_t>(ex.Size));
        std::sort(next.begin(), next.end(), std::greater<int>());
        const Tally completions = Count(ex.Depth + 1, next);
        if (!exhausted_) {
            AddInto(ex.Total, Product(weight, completions));
            // The first row's choices add up to the count: once they reach
            // the bound, so does the count.
            if (ex.Depth == 0 && stopAt_ != kMaxUint64 && (ex.Total.Overflowed || ex.Total.Exact >= stopAt_)) {
                reached_ = true;
                exhausted_ = true;
            }
        }
    }

    // Number of two-row tables with column totals COLS and first row total
    // ROW_TOTAL: the coefficient of t^R in prod_j (1 + t + ... + t^c_j).
    // Each factor replaces the coefficients by sums over windows of c_j + 1
    // of them.
    Tally CountTwoRows(const std::vector<int>& cols, int rowTotal) {
        long long total = 0;
        for (int c : cols) {
            total += c;
        }
        // x and cols - x are completions alike, so count for the smaller row.
        const int r = static_cast<int>(std::min<long long>(rowTotal, total - rowTotal));
        if (r < 0) {
            return Tally{};
        }
        // The coefficients sum to the product of the window widths, which
        // bounds every partial sum formed below.
        long double bound = 1.0L;
        for (int c : cols) {
            bound *= static_cast<long double>(std::min(c, r) + 1);
        }
        if (bound < 0x1p126L) {
            return CountTwoRowsIn128Bits(cols, r);
        }
        return CountTwoRowsBySums(cols, r);
    }

    // The window sums as differences of prefix sums, exact in 128 bits when
    // the coefficients sum to less than 2^126.
    Tally CountTwoRowsIn128Bits(const std::vector<int>& cols, int r) {
        if (!Spend(static_cast<long long>(cols.size()) * (r + 1))) {
            return Tally{};
        }
        const std::size_t size = static_cast<std::size_t>(r) + 1;
        std::vector<WideCount>& a = scratch128_;
        std::vector<WideCount>& prefix = prefix128_;
        a.assign(size, 0);
        prefix.resize(size);
        a[0] = 1;
        std::size_t reach = 0;  // a[i] = 0 beyond reach
        for (int c : cols) {
            const std::size_t width = static_cast<std::size_t>(std::min(c, r)) + 1;
            reach = std::min(size - 1, reach + width - 1);
            WideCount running = 0;
            for (std::size_t i = 0; i <= reach; ++i) {
                running += a[i];
                prefix[i] = running;
            }
            for (std::size_t s = 0; s <= reach; ++s) {
                a[s] = s < width ? prefix[s] : prefix[s] - prefix[s - width];
            }
        }
        const WideCount count = a[size - 1];
        if (count > kMaxUint64) {
            return Tally{0, static_cast<long double>(count), true};
        }
        return TallyOf(static_cast<std::uint64_t>(count));
    }

    // The same coefficients for counts beyond 128 bits, without
    // subtraction, so that the long-double values keep their relative
    // accuracy: a window is the tail of one block of its width plus the head
    // of the next.
    Tally CountTwoRowsBySums(const std::vector<int>& cols, int r) {
        if (!Spend(static_cast<long long>(cols.size()) * (r + 1) * 8)) {
            return Tally{};
        }
        const std::size_t size = static_cast<std::size_t>(r) + 1;
        std::vector<Tally> a(size);
        std::vector<Tally> head(size);  // a[start of block .. i]
        std::vector<Tally> tail(size);  // a[i .. end of block]
        a[0] = TallyOf(1);
        std::size_t reach = 0;
        for (int c : cols) {
            const std::size_t width = static_cast<std::size_t>(std::min(c, r)) + 1;
            reach = std::min(size - 1, reach + width - 1);
            for (std::size_t i = 0; i <= reach; ++i) {
                head[i] = i % width == 0 ? a[i] : Sum(head[i - 1], a[i]);
            }
            for (std::size_t i = reach + 1; i-- > 0;) {
                tail[i] = (i == reach || i % width == width - 1) ? a[i] : Sum(a[i], tail[i + 1]);
            }
            for (std::size_t s = 0; s <= reach; ++s) {
                if (s < width || (s + 1) % width == 0) {
                    a[s] = head[s];  // the window is the head of the first block, or a whole block
                } else {
                    a[s] = Sum(tail[s + 1 - width], head[s]);
                }
            }
        }
        return a[size - 1];
    }

    std::vector<int> rows_;  // increasing
    std::vector<int> cols_;
    long long budget_;
    std::uint64_t stopAt_;
    long long work_ = 0;
    bool exhausted_ = false;
    bool reached_ = false;
    std::vector<StateMemo> memo_;
    std::vector<std::vector<int>> sorted_;  // per depth: the state being counted there
    std::vector<std::vector<Tally>> binomials_;  // indexed by m, filled on demand
    std::vector<WideCount> scratch128_;
    std::vector<WideCount> prefix128_;
};

// log(exp(x) + exp(y)) without overflow.
double LogSum(double x, double y) {
    const double high = std::max(x, y);
    return high + std::log1p(std::exp(std::min(x, y) - high));
}

// A rough logarithm of the work of counting with ROWS (increasing) enumerated
// over COLS: every state at a depth expands into at most as many rows as
// there are compositions of the row total into the columns; the states at a
// depth are at most the states before times those compositions, and at most
// the prod_j (C_j + 1) vectors of remaining column totals; every state that
// reaches the last two rows costs one closed-form count, about c (R + 1) steps.
double LogEnumerationWork(const std::vector<int>& rows, const std::vector<int>& cols) {
    const double c = static_cast<double>(cols.size());
    double logStateBound = 0.0;
    for (int total : cols) {
        logStateBound += std::log(total + 1.0);
    }
    double logStates = 0.0;
    double logWork = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i + 2 < rows.size(); ++i) {
        const double r = rows[i];
        const double logRows = std::lgamma(r + c) - std::lgamma(r + 1.0) - std::lgamma(c);
        logWork = LogSum(logWork, logStates + logRows);
        logStates = std::min(logStates + logRows, logStateBound);
    }
    const double lastRows = std::min(rows[rows.size() - 2], rows[rows.size() - 1]);
    return LogSum(logWork, logStates + std::log(c * (lastRows + 1.0)));
}

}  // namespace

std::uint64_t TablesAtLeast(const std::vector<int>& rowTotals, const std::vector<int>& colTotals) {
    long long N = 0, colSum = 0;
    for (int t : rowTotals) N += t;
    for (int t : colTotals) colSum += t;
    if (N != colSum || N <= 0) return 0;
    const std::size_t R = rowTotals.size(), C = colTotals.size();
    // A table near the expected counts: each rounded down, then the
    // lines' shortfalls (fewer than the lines of the other kind) placed.
    std::vector<long long> cell(R * C), rowLeft(R), colLeft(C);
    for (std::size_t j = 0; j < C; ++j) colLeft[j] = colTotals[j];
    for (std::size_t i = 0; i < R; ++i) {
        rowLeft[i] = rowTotals[i];
        for (std::size_t j = 0; j < C; ++j) {
            const long long n = static_cast<long long>(rowTotals[i]) * colTotals[j] / N;
            cell[i * C + j] = n;
            rowLeft[i] -= n;
            colLeft[j] -= n;
        }
    }
    for (std::size_t i = 0, j = 0; i < R && j < C;) {
        const long long n = std::min(rowLeft[i], colLeft[j]);
        cell[i * C + j] += n;
        rowLeft[i] -= n;
        colLeft[j] -= n;
        if (rowLeft[i] == 0) ++i;
        else ++j;
    }
    // Pairs of rows (or, transposed, of columns) of that table.
    auto product = [&](bool byColumns) {
        const std::size_t lines = byColumns ? C : R, across = byColumns ? R : C;
        auto at = [&](std::size_t line, std::size_t k) { return byColumns ? cell[k * C + line] : cell[line * C + k]; };
        std::uint64_t bound = 1;
        std::vector<std::int32_t> low(across, 0), high(across);
        for (std::size_t a = 0; a + 1 < lines; a += 2) {
            std::int32_t first = 0;
            for (std::size_t k = 0; k < across; ++k) {
                high[k] = static_cast<std::int32_t>(at(a, k) + at(a + 1, k));
                first += static_cast<std::int32_t>(at(a, k));
            }
            const BoundedCount ways = CountBoundedVectors(low, high, first);
            if (ways.Overflowed || __builtin_mul_overflow(bound, ways.Count, &bound))
                return std::numeric_limits<std::uint64_t>::max();
        }
        return bound;
    };
    return std::max(product(false), product(true));
}

SamplePointEstimate CountTwoWaySamplePoints(const std::vector<int>& rowTotals,
                                            const std::vector<int>& colTotals,
                                            std::uint64_t stopAt) {
    long long rowSum = 0;
    long long colSum = 0;
    std::vector<int> rows;
    std::vector<int> cols;
    for (int t : rowTotals) {
        if (t < 0) {
            return ExactEstimate(0);
        }
        rowSum += t;
        if (t > 0) {
            rows.push_back(t);
        }
    }
    for (int t : colTotals) {
        if (t < 0) {
            return ExactEstimate(0);
        }
        colSum += t;
        if (t > 0) {
            cols.push_back(t);
        }
    }
    if (rowSum != colSum) {
        return ExactEstimate(0);
    }
    // A zero row or column is all zeros in every table, and a single row or
    // column is the table itself.
    if (rows.size() <= 1 || cols.size() <= 1) {
        return ExactEstimate(1);
    }
    std::sort(rows.begin(), rows.end());
    std::sort(cols.begin(), cols.end());
    const double asGiven = LogEnumerationWork(rows, cols);
    const double transposed = LogEnumerationWork(cols, rows);
    if (transposed < asGiven || (transposed == asGiven && rows.size() < cols.size())) {
        std::swap(rows, cols);
    }
    if ((rows.size() - 2) * (2 * cols.size() + 3) > kMaxNesting) {
        return SamplePointEstimate{};
    }
    // Enough tables for the caller are often plain at once. (Two lines
    // are counted exactly in closed form, as cheaply.)
    if (stopAt != std::numeric_limits<std::uint64_t>::max() && rows.size() > 2 && cols.size() > 2 &&
        rowSum <= kAtLeastUpTo && TablesAtLeast(rows, cols) >= stopAt) {
        SamplePointEstimate reached;
        reached.Reached = true;
        return reached;
    }
    TableCounter counter(std::move(rows), std::move(cols), kWorkBudget, stopAt);
    Tally count;
    if (!counter.Run(count)) {
        SamplePointEstimate unknown;
        unknown.Reached = counter.Reached();
        return unknown;
    }
    return EstimateOf(count);
}

namespace {

// The points 0 <= y <= totals (the largest value for a total not positive,
// or past the range).
std::size_t CountBoxPoints(const std::vector<int>& totals) {
    std::size_t points = 1;
    for (int t : totals) {
        if (t <= 0 || __builtin_mul_overflow(points, static_cast<std::size_t>(t) + 1, &points))
            return std::numeric_limits<std::size_t>::max();
    }
    return points;
}

}  // namespace

std::size_t TwoWayCountBoxPoints(const std::vector<int>& rowTotals, const std::vector<int>& colTotals) {
    return std::min(CountBoxPoints(rowTotals), CountBoxPoints(colTotals));
}

std::optional<std::uint64_t> CountTwoWayTablesExactly(const std::vector<int>& rowTotals,
                                                      const std::vector<int>& colTotals,
                                                      std::size_t maxPoints,
                                                      const std::function<bool()>& going) {
    // The box of the given rows, or of the columns as rows: the smaller.
    const bool transposed = CountBoxPoints(colTotals) < CountBoxPoints(rowTotals);
    // The rows in increasing order, so that the inner axes (see the blocks
    // below) span the fewest points and the most of them fit a block.
    std::vector<int> rows = transposed ? colTotals : rowTotals;
    std::sort(rows.begin(), rows.end());
    // The columns in increasing order: the two largest are placed last, in
    // closed form, so the sums run over the points of the least totals.
    std::vector<int> cols = transposed ? rowTotals : colTotals;
    std::sort(cols.begin(), cols.end());
    const std::size_t points = CountBoxPoints(rows);
    long long rowSum = 0, colSum = 0;
    for (int t : rows) rowSum += t;
    for (int t : cols) {
        if (t <= 0) return std::nullopt;
        colSum += t;
    }
    if (points > maxPoints || rowSum != colSum || rows.empty() || cols.empty()) return std::nullopt;
    if (going && !going()) return std::nullopt;
    const std::size_t K = rows.size();
    std::vector<std::size_t> stride(K);
    for (std::size_t k = 0, s = 1; k < K; ++k) {
        stride[k] = s;
        s *= static_cast<std::size_t>(rows[k]) + 1;
    }
    // Per point of the box (index sum y_k stride_k) the count of the
    // columns multiplied in so far; y is the point being visited. The box
    // starts at 0 (a large one as fresh pages of zeros, which are not
    // cleared again; the points of larger totals than reached are never
    // touched).
    const std::unique_ptr<std::uint64_t[], decltype(&std::free)> value(
        static_cast<std::uint64_t*>(std::calloc(points, sizeof(std::uint64_t))), &std::free);
    if (!value) throw std::bad_alloc();
    value[0] = 1;
    std::vector<int> y(K);
    // Visits the points with total from lower to limit whose coordinates
    // from axes on are those held in y (of total baseTotal, at index base),
    // in increasing index order, as runs along the first axis: for each
    // point of the coordinates 1 to axes - 1 (held in y, y[0] staying 0), of
    // total T, the points with y_0 from max(0, lower - T) to min(R_0, limit
    // - T), whose indices are consecutive: run(index of the first, its y_0,
    // the last y_0). forEachRun: over the whole box.
    // The points visited since going was last asked, and whether it said
    // to stop (then every later walk visits nothing).
    constexpr std::size_t kAskEvery = std::size_t{1} << 20;
    std::size_t visited = 0;
    bool stopped = false;
    // The next point of the coordinates first to end - 1 (of the given
    // total and index, both kept up): raises the first that can rise within
    // the box and the limit, zeroing those before it; false once none can.
    auto advance = [&](std::size_t first, std::size_t end, long long& total, std::size_t& index, long long limit) {
        std::size_t k = first;
        for (; k < end; ++k) {
            if (y[k] < rows[k] && total < limit) break;
            total -= y[k];
            index -= static_cast<std::size_t>(y[k]) * stride[k];
            y[k] = 0;
        }
        if (k >= end) return false;
        ++y[k];
        ++total;
        index += stride[k];
        return true;
    };
    auto forEachRunIn = [&](std::size_t axes, std::size_t base, long long baseTotal, long long lower, long long limit,
                            auto&& run) {
        for (std::size_t k = 0; k < axes; ++k) y[k] = 0;
        std::size_t index = base;
        long long total = baseTotal;
        while (!stopped) {
            const long long from = std::max(0LL, lower - total);
            const long long to = std::min<long long>(rows[0], limit - total);
            if (from <= to) {
                run(index + static_cast<std::size_t>(from), from, to);
                visited += static_cast<std::size_t>(to - from + 1);
                if (visited >= kAskEvery && going) {
                    visited = 0;
                    stopped = !going();
                }
            }
            if (!advance(1, axes, total, index, limit)) return;
        }
    };
    auto forEachRun = [&](long long lower, long long limit, auto&& run) { forEachRunIn(K, 0, 0, lower, limit, run); };
    // Running sums along axis d: a point then holds its own value and the
    // sum along the axis below it. overflow is set where a sum passes 2^64.
    bool overflow = false;
    auto runningSums = [&](std::size_t d) {
        const std::size_t step = stride[d];
        // (The overflow of a run is gathered in a local: kept in the
        // captured flag, every addition waited for the last one's store.)
        return [&, d, step](std::size_t first, long long from, long long to) {
            if (d > 0 && y[d] == 0) return;
            std::uint64_t* v = value.get() + first;
            if (d == 0 && from == 0) {
                ++from;
                ++v;
            }
            bool carried = false;
            for (long long y0 = from; y0 <= to; ++y0, ++v) carried |= __builtin_add_overflow(*v, *(v - step), v);
            overflow |= carried;
        };
    };
    auto clear = [&](std::size_t first, long long from, long long to) {
        std::fill_n(value.get() + first, to - from + 1, 0);
    };
    // The box is taken in blocks of its first `inner` axes, each at most
    // kBlockPoints points (a few hundred kilobytes: two blocks stay in the
    // core's own cache); the running sums along those axes and the next are
    // formed block by block while the block is in the cache (along the next
    // axis a block adds the one before it, just done), the others in sweeps
    // over the box. The sums along different axes may be formed in any
    // order: each is the same sum over the points below.
    constexpr std::size_t kBlockPoints = std::size_t{1} << 15;
    std::size_t inner = 1;
    for (std::size_t span = static_cast<std::size_t>(rows[0]) + 1;
         inner + 1 < K && span * (static_cast<std::size_t>(rows[inner]) + 1) <= kBlockPoints;
         span *= static_cast<std::size_t>(rows[inner]) + 1, ++inner) {
    }
    // Calls block(base index, its total) for the blocks holding points of
    // total up to limit, in increasing index order (y holding their
    // coordinates from inner on).
    auto forEachBlock = [&](long long limit, auto&& block) {
        for (std::size_t k = inner; k < K; ++k) y[k] = 0;
        std::size_t base = 0;
        long long total = 0;
        while (!stopped) {
            block(base, total);
            if (!advance(inner, K, total, base, limit)) return;
        }
    };
    // With few rows the last two columns are placed in closed form (below);
    // otherwise the last but one is multiplied in like the others.
    const bool closedForm = K <= 6 && cols.size() >= 2;
    long long placed = 0;  // the total of the columns multiplied in
    for (std::size_t j = 0; j + (closedForm ? 2 : 1) < cols.size(); ++j) {
        // Only the points of total placed hold counts; the others are 0.
        const long long before = placed;
        placed += cols[j];
        // Running sums along each axis over the points of total from
        // before to placed (those below hold 0 and stay so): a point then
        // holds the sum over the points below it. The points of total
        // placed hold counts of partial tables, each at most the final
        // count; every value summed into them is a part of theirs, so an
        // overflow there means the final count overflows. (Points of a
        // smaller total hold such parts and are then cleared.)
        const std::size_t fused = inner < K ? inner + 1 : inner;
        forEachBlock(placed, [&](std::size_t base, long long total) {
            for (std::size_t d = 0; d < fused; ++d) forEachRunIn(inner, base, total, before, placed, runningSums(d));
        });
        for (std::size_t d = fused; d < K; ++d) forEachRun(before, placed, runningSums(d));
        if (overflow || stopped) return std::nullopt;
        forEachRun(before, placed - 1, clear);
    }
    // The last column is whatever the rows have left. In closed form, a point
    // y of the last total completes in as many ways as the last column but
    // one has vectors x <= R - y of its total T, by inclusion and exclusion
    // over the rows pushed past their bounds: with x_k > R_k - y_k for every
    // k of a set Q, C(T - sum_Q (R_k - y_k + 1) + K - 1, K - 1). (Every
    // term is below 2^54 and their sum within 2^60: see
    // CountBoundedVectors.) Otherwise a point below R completes in one way.
    const auto T = static_cast<std::size_t>(closedForm ? cols[cols.size() - 2] : 0);
    const std::size_t K1 = K - 1;
    std::vector<std::int64_t> binomial(T + 1);  // C(n + K - 1, K - 1)
    for (std::size_t n = 0; n <= T; ++n) {
        std::uint64_t ways = 1;
        for (std::size_t i = 1; i <= K1; ++i) ways = ways * (n + i) / i;
        binomial[n] = static_cast<std::int64_t>(ways);
    }
    std::vector<std::int64_t> room(K);
    auto completions = [&]() -> std::int64_t {
        if (!closedForm) return 1;
        // The sets in increasing order of their rows, each set's larger
        // ones skipped once its rows alone take more than T.
        std::int64_t sum = 0;
        auto over = [&](auto& self, std::size_t k, std::int64_t n, bool odd) -> void {
            for (; k < K; ++k)
                if (const std::int64_t left = n - room[k] - 1; left >= 0) self(self, k + 1, left, !odd);
            const std::int64_t c = binomial[static_cast<std::size_t>(n)];
            sum += odd ? -c : c;
        };
        over(over, 0, static_cast<std::int64_t>(T), false);
        return sum;
    };
    std::uint64_t count = 0;
    forEachRun(placed, placed, [&](std::size_t first, long long from, long long) {
        if (value[first] == 0) return;
        room[0] = rows[0] - from;
        for (std::size_t k = 1; k < K; ++k) room[k] = rows[k] - y[k];
        std::uint64_t ways = 0;
        overflow |= __builtin_mul_overflow(value[first], static_cast<std::uint64_t>(completions()), &ways);
        overflow |= __builtin_add_overflow(count, ways, &count);
    });
    if (overflow || stopped) return std::nullopt;
    if (count >= (std::uint64_t{1} << 63)) return std::nullopt;
    return count;
}

SamplePointEstimate CountOneWaySamplePoints(int n, int k) {
    if (n < 0 || k < 0) {
        return ExactEstimate(0);
    }
    if (k == 0) {
        return ExactEstimate(n == 0 ? 1 : 0);
    }
    const long long top = static_cast<long long>(n) + k - 1;
    const long long m = std::min<long long>(k - 1, n);
    const WideCount limit = WideCount{kMaxUint64} + 1;
    const WideCount value = WideBinomial(static_cast<int>(top), static_cast<int>(m), limit);
    if (value < limit) {
        return ExactEstimate(static_cast<std::uint64_t>(value));
    }
    const long double logCount = std::lgamma(static_cast<long double>(top) + 1.0L) -
                                 std::lgamma(static_cast<long double>(m) + 1.0L) -
                                 std::lgamma(static_cast<long double>(top - m) + 1.0L);
    return ApproximateEstimate(std::exp(logCount));
}

}  // namespace kelvorin
