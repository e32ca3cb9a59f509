// Items gathered with equal keys merged as they come.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "WorkMemory.h"

namespace kelvorin {

// The items in order of first arrival, each key once: open addressing with
// linear probing over a power of two of slots kept at most half full, each
// slot the index of its item stamped with a generation, so that Clear
// empties every slot at once and the slots' memory stays for the next use.
// KeyOf{}(item) is an item's 64-bit key; Merge{}(existing, item) adds an
// item to the one with its key.
template <typename Item, typename KeyOf, typename Merge>
class MergingTable {
public:
    void Clear() {
        items_.clear();
        ++generation_;
    }
    // (Inlined: it is the innermost step of the network's and the integer
    // count's merging.)
    [[gnu::always_inline]] void Add(const Item& item) {
        Add(KeyOf{}(item), [&]() -> const Item& { return item; }, [&](Item& existing) { Merge{}(existing, item); });
    }
    // As Add, for an item with the given key formed only where the key is
    // new: make() forms it (or refers to it); otherwise mergeInto(existing)
    // adds it to the one with its key (as Merge would).
    template <typename Make, typename MergeInto>
    [[gnu::always_inline]] void Add(std::int64_t key, Make&& make, MergeInto&& mergeInto) {
        if (2 * (items_.size() + 1) > slots_.size()) Grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = Hash(key) & mask;; at = (at + 1) & mask) {
            std::uint64_t& slot = slots_[at];
            if ((slot >> 32) != generation_) {
                slot = (generation_ << 32) | items_.size();
                // (Copied in as a named item: the vector's copying append
                // is inlined where its moving one is not.)
                const Item& made = make();
                items_.push_back(made);
                return;
            }
            Item& existing = items_[slot & 0xFFFFFFFFu];
            if (KeyOf{}(existing) == key) {
                mergeInto(existing);
                return;
            }
        }
    }
    // The bytes of slots and items (past the caches, AddAll pays).
    std::size_t Bytes() const { return slots_.size() * sizeof(std::uint64_t) + items_.size() * sizeof(Item); }
    // Adds items[0..count) in order, as Add does, fetching ahead what each
    // will touch (its slot two blocks ahead, the item in that slot one block
    // ahead) so that the random accesses of a large table overlap.
    void AddAll(const Item* items, std::size_t count) {
        constexpr std::size_t kBlock = 32;
        auto slotOf = [&](std::size_t i) { return &slots_[Hash(KeyOf{}(items[i])) & (slots_.size() - 1)]; };
        auto fetchSlots = [&](std::size_t from) {
            for (std::size_t i = from; i < std::min(count, from + kBlock); ++i) __builtin_prefetch(slotOf(i));
        };
        auto fetchItems = [&](std::size_t from) {
            for (std::size_t i = from; i < std::min(count, from + kBlock); ++i) {
                const std::uint64_t slot = *slotOf(i);
                if ((slot >> 32) == generation_ && (slot & 0xFFFFFFFFu) < items_.size())
                    __builtin_prefetch(&items_[slot & 0xFFFFFFFFu]);
            }
        };
        if (slots_.empty()) Grow();  // (so that every key has a slot to look at)
        fetchSlots(0);
        fetchSlots(kBlock);
        fetchItems(0);
        for (std::size_t from = 0; from < count; from += kBlock) {
            fetchSlots(from + 2 * kBlock);
            fetchItems(from + kBlock);
            for (std::size_t i = from; i < std::min(count, from + kBlock); ++i) Add(items[i]);
        }
    }
    WorkVector<Item>& Items() { return items_; }

private:
    static std::size_t Hash(std::int64_t key) {
        const std::uint64_t h = static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ULL;
        return static_cast<std::size_t>(h ^ (h >> 31));
    }
    [[gnu::noinline]] void Grow() {
        ++generation_;
        slots_.assign(std::max<std::size_t>(64, 2 * slots_.size()), 0);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = 0; i < items_.size(); ++i) {
            std::size_t at = Hash(KeyOf{}(items_[i])) & mask;
            while ((slots_[at] >> 32) == generation_) at = (at + 1) & mask;
            slots_[at] = (generation_ << 32) | i;
        }
    }
    WorkVector<std::uint64_t> slots_;  // generation << 32 | index
    WorkVector<Item> items_;
    std::uint64_t generation_ = 1;
};

}  // namespace kelvorin
