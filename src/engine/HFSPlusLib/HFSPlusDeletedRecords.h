// Records of a B-tree that the journal still holds and the live tree lacks (deleted files, their
// overflow extents and attributes). Walking yields the most recently added entry first; equal keys are
// kept apart. Lookups by key go through an ordered index, so large journals stay fast.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "engine/HFSPlusLib/HFSPlusStructs.h"

class CDeletedRecordList {
public:
    using KeyCompare = std::function<int(const BTKey&, const BTKey&)>;
    struct Entry {
        BTKeyPtr key;
        BTRecordPtr record;
    };

    explicit CDeletedRecordList(KeyCompare compare);
    CDeletedRecordList(const CDeletedRecordList&) = delete;
    CDeletedRecordList& operator=(const CDeletedRecordList&) = delete;

    // The most recently added entry whose key compares equal and that `accept` takes (any, without it).
    Entry* FindNewest(const BTKey& key, const std::function<bool(const Entry&)>& accept = {});
    void Add(BTKeyPtr key, BTRecordPtr record);
    size_t Size() const { return m_entries.size(); }
    bool Empty() const { return m_entries.empty(); }
    // Hands every entry over, most recently added first, and leaves the list empty.
    std::vector<Entry> TakeAll();
    void Clear();

private:
    struct Less {
        const KeyCompare* compare;
        bool operator()(const BTKey* a, const BTKey* b) const { return (*compare)(*a, *b) < 0; }
    };

    KeyCompare m_compare;
    std::vector<Entry> m_entries;  // in the order added
    std::multimap<const BTKey*, size_t, Less> m_index;
};
