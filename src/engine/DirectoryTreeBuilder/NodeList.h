// The nodes recorded under one ID: almost always one, so the first is kept in place and a heap array is
// made only when a second node of the same ID comes. Used like a vector of node pointers.
#pragma once

#include <cstddef>
#include <vector>

class CFileNode;

class CNodeList {
public:
    using iterator = CFileNode**;
    using const_iterator = CFileNode* const*;

    iterator begin() { return m_more.empty() ? &m_one : m_more.data(); }
    iterator end() { return begin() + size(); }
    const_iterator begin() const { return m_more.empty() ? &m_one : m_more.data(); }
    const_iterator end() const { return begin() + size(); }
    size_t size() const { return m_more.empty() ? (m_hasOne ? 1 : 0) : m_more.size(); }
    bool empty() const { return size() == 0; }
    CFileNode* front() const { return *begin(); }

    void push_back(CFileNode* node) {
        if (m_more.empty()) {
            if (!m_hasOne) {
                m_one = node;
                m_hasOne = true;
                return;
            }
            m_more.reserve(2);
            m_more.push_back(m_one);
            m_hasOne = false;
        }
        m_more.push_back(node);
    }
    // Removes [first, last), as vector::erase does.
    iterator erase(iterator first, iterator last) {
        if (first == last) return first;
        if (m_more.empty()) {
            m_hasOne = false;
            return &m_one;
        }
        const auto from = static_cast<std::ptrdiff_t>(first - m_more.data());
        const auto to = static_cast<std::ptrdiff_t>(last - m_more.data());
        m_more.erase(m_more.begin() + from, m_more.begin() + to);
        if (m_more.empty()) return end();
        return m_more.data() + from;
    }

private:
    CFileNode* m_one = nullptr;
    bool m_hasOne = false;
    std::vector<CFileNode*> m_more;  // every node once there are two or more
};
