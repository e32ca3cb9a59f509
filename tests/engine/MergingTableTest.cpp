#include "MergingTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

namespace kelvorin {
namespace {

struct Item {
    std::int64_t Key = 0;
    std::uint64_t Ways = 0;
    long double Mass = 0.0L;
};
struct KeyOf {
    std::int64_t operator()(const Item& i) const { return i.Key; }
};
struct AddUp {
    void operator()(Item& to, const Item& from) const {
        to.Ways += from.Ways;
        to.Mass += from.Mass;
    }
};
using Table = MergingTable<Item, KeyOf, AddUp>;

// Items added one by one and in blocks, with what they touch fetched ahead,
// end as a plain map of the keys gives them: each key once, in order of
// first arrival, with the sums of its items (added in the same order),
// through the table's growth and through clearing between rounds; blocks of
// every size against the fetching's.
TEST(MergingTableTest, AddingInBlocksMergesAsAddingOneByOne) {
    std::mt19937_64 random(8122026);
    Table one, blocks;
    for (int round = 0; round < 6; ++round) {
        const std::size_t count = 1000 + static_cast<std::size_t>(random() % 60000);
        const std::uint64_t keys = 1 + random() % (count / 2);
        std::vector<Item> items(count);
        for (Item& i : items) {
            i.Key = static_cast<std::int64_t>(random() % keys) * 7919 - 40000;
            i.Ways = 1 + random() % 5;
            i.Mass = static_cast<long double>(random() % 1000) / 997.0L;
        }
        one.Clear();
        blocks.Clear();
        for (const Item& i : items) one.Add(i);
        for (std::size_t from = 0; from < count;) {
            const std::size_t size = std::min<std::size_t>(count - from, 1 + random() % 300);
            blocks.AddAll(items.data() + from, size);
            from += size;
        }
        std::vector<Item> expected;
        std::unordered_map<std::int64_t, std::size_t> at;
        for (const Item& i : items) {
            const auto [place, first] = at.try_emplace(i.Key, expected.size());
            if (first)
                expected.push_back(i);
            else
                AddUp{}(expected[place->second], i);
        }
        for (const auto* merged : {&one.Items(), &blocks.Items()}) {
            ASSERT_EQ(merged->size(), expected.size()) << "round " << round;
            for (std::size_t k = 0; k < expected.size(); ++k) {
                EXPECT_EQ((*merged)[k].Key, expected[k].Key);
                EXPECT_EQ((*merged)[k].Ways, expected[k].Ways);
                EXPECT_EQ((*merged)[k].Mass, expected[k].Mass);
            }
        }
    }
}

}  // namespace
}  // namespace kelvorin
