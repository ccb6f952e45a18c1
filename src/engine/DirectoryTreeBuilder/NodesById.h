// The nodes recorded per ID in one result tree: one entry per ID, in the order the IDs first came,
// found through an open-addressing hash of the IDs. An entry is never taken out: an ID whose nodes all
// left keeps an empty list, which every reader takes as no entry. So recording a node allocates nothing
// once the tables have grown, and nothing is freed per node when the builder goes.
#pragma once

#include <utility>
#include <vector>

#include "engine/Common/Types.h"
#include "engine/DirectoryTreeBuilder/NodeList.h"

struct _PARENT_INFO {
    CNodeList nodes;  // every node recorded under one ID (the same folder found again)
};

class CNodesById {
public:
    using Entry = std::pair<i64, _PARENT_INFO>;

    // The entry of id, or null. Valid until the next Get of a new ID.
    _PARENT_INFO* Find(i64 id) {
        if (m_slots.empty()) return nullptr;
        const u32 index = m_slots[Probe(id)];
        return index == 0 ? nullptr : &m_entries[index - 1].second;
    }
    // The entry of id, made (empty) when id is new.
    _PARENT_INFO& Get(i64 id) {
        if ((m_entries.size() + 1) * 2 > m_slots.size()) Grow();
        const size_t slot = Probe(id);
        if (m_slots[slot] != 0) return m_entries[m_slots[slot] - 1].second;
        m_entries.emplace_back(id, _PARENT_INFO{});
        m_slots[slot] = static_cast<u32>(m_entries.size());
        return m_entries.back().second;
    }
    // The IDs ever recorded (some may have no node left).
    size_t size() const { return m_entries.size(); }
    // Every entry, in the order the IDs first came; empty lists included.
    std::vector<Entry>::iterator begin() { return m_entries.begin(); }
    std::vector<Entry>::iterator end() { return m_entries.end(); }

private:
    static size_t Hash(i64 id) {
        // The mixing step of splitmix64: neighbouring IDs (record and cluster numbers) spread out.
        u64 x = static_cast<u64>(id);
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
        return static_cast<size_t>(x ^ (x >> 31));
    }
    size_t Mask() const { return m_slots.size() - 1; }
    // The slot of id, or the free slot where it would go (the table is never full).
    size_t Probe(i64 id) const {
        size_t slot = Hash(id) & Mask();
        for (;;) {
            const u32 index = m_slots[slot];
            if (index == 0 || m_entries[index - 1].first == id) return slot;
            slot = (slot + 1) & Mask();
        }
    }
    void Grow() {
        m_slots.assign(m_slots.empty() ? 16 : m_slots.size() * 2, 0);
        for (size_t i = 0; i < m_entries.size(); ++i) m_slots[Probe(m_entries[i].first)] = static_cast<u32>(i + 1);
    }

    std::vector<Entry> m_entries;
    std::vector<u32> m_slots;  // entry index + 1; 0 = free. At most half full.
};
