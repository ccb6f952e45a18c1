// A hash table of 64-bit keys for the APFS search's per-key state (the nodes of an object key, the
// nodes waiting for a folder key): open addressing in one array, so that adding a key costs no heap
// allocation of its own. Entries are never removed; a value is reset in place instead.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/Common/Types.h"

template <typename Value>
class APFSKeyTable {
public:
    // The value of key, or nullptr when the key was never added.
    const Value* Find(u64 key) const {
        if (m_entries.empty()) return nullptr;
        const size_t mask = m_entries.size() - 1;
        for (size_t at = Hash(key) & mask;; at = (at + 1) & mask) {
            const Entry& entry = m_entries[at];
            if (!entry.used) return nullptr;
            if (entry.key == key) return &entry.value;
        }
    }
    Value* Find(u64 key) { return const_cast<Value*>(static_cast<const APFSKeyTable*>(this)->Find(key)); }
    // The value of key, added as Value{} when it is new. The reference lasts until the next Add.
    Value& Add(u64 key) {
        // At most half full: probes stay short.
        if ((m_used + 1) * 2 > m_entries.size()) Grow();
        const size_t mask = m_entries.size() - 1;
        for (size_t at = Hash(key) & mask;; at = (at + 1) & mask) {
            Entry& entry = m_entries[at];
            if (entry.used && entry.key == key) return entry.value;
            if (!entry.used) {
                entry.used = true;
                entry.key = key;
                ++m_used;
                return entry.value;
            }
        }
    }
    size_t size() const { return m_used; }
    // Room for `keys` keys without growing: later Adds up to that count never move the entries.
    void Reserve(size_t keys) {
        while (keys * 2 > m_entries.size()) Grow();
    }

private:
    struct Entry {
        u64 key = 0;
        bool used = false;
        Value value{};
    };
    static size_t Hash(u64 key) {
        // Keys differ mostly in their low bits and in the container index above bit 32: mixed.
        key ^= key >> 33;
        key *= 0xFF51AFD7ED558CCDULL;
        key ^= key >> 33;
        return static_cast<size_t>(key);
    }
    void Grow() {
        std::vector<Entry> old;
        old.swap(m_entries);
        m_entries.resize(old.empty() ? 64 : old.size() * 2);
        const size_t mask = m_entries.size() - 1;
        for (Entry& entry : old) {
            if (!entry.used) continue;
            size_t at = Hash(entry.key) & mask;
            while (m_entries[at].used) at = (at + 1) & mask;
            m_entries[at] = entry;
        }
    }

    std::vector<Entry> m_entries;  // a power of two in size
    size_t m_used = 0;
};
