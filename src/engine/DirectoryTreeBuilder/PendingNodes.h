// The nodes added to one result tree and not yet published, in the order they came. Each keeps its
// arrival number for good (numbers are never reused, not even after Clear), so a number held
// elsewhere never names another node. Which number a node has is the tree builder's to remember.
#pragma once

#include <algorithm>
#include <vector>

#include "engine/Common/HugePages.h"
#include "engine/Common/ReserveAtLeast.h"
#include "engine/Common/Types.h"

class CFileNode;

class CPendingNodes {
public:
    u64 Add(CFileNode* node) {
        const u64 seq = m_base + m_slots.size();
        m_slots.push_back(node);
        ++m_live;
        return seq;
    }
    // Takes out the node of an arrival number (the caller keeps each node's number).
    bool Erase(u64 seq) {
        if (!At(seq)) return false;
        m_slots[seq - m_base] = nullptr;
        --m_live;
        return true;
    }
    // The node of an arrival number, null once it left.
    CFileNode* At(u64 seq) const {
        return seq >= m_base && seq - m_base < m_slots.size() ? m_slots[seq - m_base] : nullptr;
    }
    // Room for `more` nodes beyond those added so far (geometric, so repeated calls stay linear).
    void Reserve(size_t more) {
        ReserveAtLeast(m_slots, m_slots.size() + more);
    }
    void Clear() {
        m_base += m_slots.size();
        m_slots.clear();
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
    std::vector<CFileNode*, hugepages::Allocator<CFileNode*>> m_slots;  // a large scan's: a large array
    u64 m_base = 0;
    size_t m_live = 0;
};
