// A table of values by 64-bit key: one entry per key, kept in the order the keys first came, found
// through an open-addressing hash of the keys. An entry is never taken out (a caller resets its value
// in place), so adding a key allocates nothing once the table has grown, and nothing is freed per key.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "engine/Common/HugePages.h"
#include "engine/Common/ReserveAtLeast.h"
#include "engine/Common/Types.h"

template <typename Key, typename Value>
class FlatKeyTable {
public:
    using Entry = std::pair<Key, Value>;
    using Entries = std::vector<Entry, hugepages::Allocator<Entry>>;

    // The value of key, or null when the key was never added.
    Value* Find(Key key) {
        if (m_slots.empty()) return nullptr;
        const u32 index = m_slots[Probe(key)];
        return index == 0 ? nullptr : &m_entries[index - 1].second;
    }
    const Value* Find(Key key) const { return const_cast<FlatKeyTable*>(this)->Find(key); }
    // The value of key, made as Value{} when the key is new. The reference lasts until the next new
    // key, or for as long as Reserve said.
    Value& Get(Key key) {
        if ((m_entries.size() + 1) * 2 > m_slots.size()) Grow(m_slots.empty() ? 16 : m_slots.size() * 2);
        const size_t slot = Probe(key);
        if (m_slots[slot] != 0) return m_entries[m_slots[slot] - 1].second;
        m_entries.emplace_back(key, Value{});
        m_slots[slot] = static_cast<u32>(m_entries.size());
        return m_entries.back().second;
    }
    // Room for `keys` keys: later Gets up to that count neither grow the table nor move a value.
    // Growth is geometric, so a caller that reserves one more key before each new one stays linear.
    void Reserve(size_t keys) {
        ReserveAtLeast(m_entries, keys);
        size_t count = m_slots.empty() ? 16 : m_slots.size();
        while (keys * 2 > count) count *= 2;
        if (count != m_slots.size()) Grow(count);
    }
    // Starts loading the slot of key into the cache, for a Find or Get soon after: a large table's slot
    // is a cache miss, which the caller's work in between then overlaps.
    void Prefetch(Key key) const {
        if (!m_slots.empty()) __builtin_prefetch(&m_slots[Hash(key) & Mask()]);
    }
    // The keys ever added.
    size_t size() const { return m_entries.size(); }
    // Every entry, in the order the keys first came.
    typename Entries::iterator begin() { return m_entries.begin(); }
    typename Entries::iterator end() { return m_entries.end(); }

private:
    static size_t Hash(Key key) {
        // The mixing step of splitmix64: neighbouring keys (record numbers, clusters, object IDs with a
        // container index in the high half) spread out.
        u64 x = static_cast<u64>(key);
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
        return static_cast<size_t>(x ^ (x >> 31));
    }
    size_t Mask() const { return m_slots.size() - 1; }
    // The slot of key, or the free slot where it would go (the table is never full).
    size_t Probe(Key key) const {
        size_t slot = Hash(key) & Mask();
        for (;;) {
            const u32 index = m_slots[slot];
            if (index == 0 || m_entries[index - 1].first == key) return slot;
            slot = (slot + 1) & Mask();
        }
    }
    void Grow(size_t count) {
        m_slots.assign(count, 0);
        for (size_t i = 0; i < m_entries.size(); ++i) m_slots[Probe(m_entries[i].first)] = static_cast<u32>(i + 1);
    }

    Entries m_entries;
    std::vector<u32, hugepages::Allocator<u32>> m_slots;  // entry index + 1; 0 = free. At most half full.
};
