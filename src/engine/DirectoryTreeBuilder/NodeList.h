// The nodes recorded under one ID: mostly one, two or three where the volumes of one disk number their
// records alike. Up to kInPlace nodes are held in place (no allocation); more go to one heap array that
// then holds them all, so the nodes always lie one after the other. Used like a vector of node pointers
// (appending or erasing may move them).
#pragma once

#include <algorithm>
#include <cstddef>

#include "engine/Common/Types.h"

class CFileNode;

class CNodeList {
public:
    using value_type = CFileNode*;
    using iterator = CFileNode**;
    using const_iterator = CFileNode* const*;
    static constexpr u32 kInPlace = 3;

    CNodeList() = default;
    ~CNodeList() { Free(); }
    CNodeList(CNodeList&& other) noexcept { Take(other); }
    CNodeList& operator=(CNodeList&& other) noexcept {
        if (this != &other) {
            Free();
            Take(other);
        }
        return *this;
    }
    CNodeList(const CNodeList& other) { CopyFrom(other); }
    CNodeList& operator=(const CNodeList& other) {
        if (this != &other) {
            clear();
            CopyFrom(other);
        }
        return *this;
    }

    iterator begin() { return OnHeap() ? m_heap : m_inPlace; }
    iterator end() { return begin() + m_size; }
    const_iterator begin() const { return OnHeap() ? m_heap : m_inPlace; }
    const_iterator end() const { return begin() + m_size; }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    CFileNode*& front() { return *begin(); }
    CFileNode* front() const { return *begin(); }
    CFileNode*& back() { return *(end() - 1); }
    CFileNode*& operator[](size_t i) { return begin()[i]; }
    CFileNode* operator[](size_t i) const { return begin()[i]; }

    void push_back(CFileNode* node) {
        if (m_size == m_capacity) Grow();
        begin()[m_size++] = node;
    }
    // Keeps the room already made.
    void clear() { m_size = 0; }
    // Removes [first, last), as vector::erase does.
    iterator erase(iterator first, iterator last) {
        if (first == last) return first;
        const iterator stop = end();
        std::copy(last, stop, first);
        m_size -= static_cast<u32>(last - first);
        return first;
    }

private:
    bool OnHeap() const { return m_capacity > kInPlace; }
    void Grow() {
        const u32 capacity = m_capacity * 2;
        auto* heap = new CFileNode*[capacity];
        std::copy(begin(), end(), heap);
        Free();
        m_heap = heap;
        m_capacity = capacity;
    }
    void Free() {
        if (OnHeap()) delete[] m_heap;
        m_capacity = kInPlace;
    }
    void Take(CNodeList& other) {
        if (other.OnHeap())
            m_heap = other.m_heap;
        else
            std::copy(other.m_inPlace, other.m_inPlace + other.m_size, m_inPlace);
        m_size = other.m_size;
        m_capacity = other.m_capacity;
        other.m_size = 0;
        other.m_capacity = kInPlace;
    }
    void CopyFrom(const CNodeList& other) {
        for (CFileNode* node : other) push_back(node);
    }

    union {
        CFileNode* m_inPlace[kInPlace] = {};
        CFileNode** m_heap;
    };
    u32 m_size = 0;
    u32 m_capacity = kInPlace;  // above kInPlace: the nodes are in m_heap
};
