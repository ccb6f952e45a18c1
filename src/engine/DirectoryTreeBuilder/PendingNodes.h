// The nodes added to one result tree and not yet published, in the order they came. Each keeps its
// arrival number for good (numbers are never reused, not even after Clear), so a number held
// elsewhere never names another node; finding a node's number is a hash lookup.
#pragma once

#include <unordered_map>
#include <vector>

#include "engine/Common/Types.h"

class CFileNode;

class CPendingNodes {
public:
    u64 Add(CFileNode* node) {
        const u64 seq = m_base + m_slots.size();
        m_slots.push_back(node);
        m_index[node] = seq;
        ++m_live;
        return seq;
    }
    bool Erase(const CFileNode* node) {
        auto it = m_index.find(node);
        if (it == m_index.end()) return false;
        m_slots[it->second - m_base] = nullptr;
        m_index.erase(it);
        --m_live;
        return true;
    }
    // The node of an arrival number, null once it left.
    CFileNode* At(u64 seq) const {
        return seq >= m_base && seq - m_base < m_slots.size() ? m_slots[seq - m_base] : nullptr;
    }
    bool Find(const CFileNode* node, u64& seq) const {
        auto it = m_index.find(node);
        if (it == m_index.end()) return false;
        seq = it->second;
        return true;
    }
    bool Contains(const CFileNode* node) const { return m_index.count(node) != 0; }
    void Clear() {
        m_base += m_slots.size();
        m_slots.clear();
        m_index.clear();
        m_live = 0;
    }
    size_t Size() const { return m_live; }
    bool Empty() const { return m_live == 0; }
    // f(seq, node) for each node in arrival order. f may not add or erase.
    template <class F>
    void ForEach(F f) const {
        for (size_t i = 0; i < m_slots.size(); ++i) {
            if (m_slots[i]) f(m_base + i, m_slots[i]);
        }
    }

private:
    std::vector<CFileNode*> m_slots;
    std::unordered_map<const CFileNode*, u64> m_index;
    u64 m_base = 0;
    size_t m_live = 0;
};
