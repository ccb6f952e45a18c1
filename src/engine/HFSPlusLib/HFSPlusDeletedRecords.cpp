#include "engine/HFSPlusLib/HFSPlusDeletedRecords.h"

#include <algorithm>

CDeletedRecordList::CDeletedRecordList(KeyCompare compare) : m_compare(std::move(compare)), m_index(Less{&m_compare}) {}

CDeletedRecordList::Entry* CDeletedRecordList::FindNewest(const BTKey& key, const std::function<bool(const Entry&)>& accept) {
    const auto [first, last] = m_index.equal_range(&key);
    Entry* newest = nullptr;
    size_t newestAt = 0;
    for (auto it = first; it != last; ++it) {
        Entry& entry = m_entries[it->second];
        if (accept && !accept(entry)) continue;
        if (!newest || it->second > newestAt) {
            newest = &entry;
            newestAt = it->second;
        }
    }
    return newest;
}

void CDeletedRecordList::Add(BTKeyPtr key, BTRecordPtr record) {
    if (!key || !record) return;
    const BTKey* at = key.get();
    m_entries.push_back({std::move(key), std::move(record)});
    m_index.emplace(at, m_entries.size() - 1);
}

std::vector<CDeletedRecordList::Entry> CDeletedRecordList::TakeAll() {
    std::vector<Entry> out = std::move(m_entries);
    std::reverse(out.begin(), out.end());
    Clear();
    return out;
}

void CDeletedRecordList::Clear() {
    m_index.clear();
    m_entries.clear();
}
