#include "engine/Common/KeHashTable.h"

#include <cstring>

CKeHashTable::CKeHashTable() {
    std::memset(m_entries, 0, sizeof(m_entries));
    InitliazeCryptTable();
}

void CKeHashTable::InitliazeCryptTable() {
    u32 seed = 0x00100001;
    for (u32 i = 0; i < 256; ++i) {
        for (u32 row = 0; row < 5; ++row) {
            const u32 a = (seed * 125 + 3) % 0x2AAAAB;
            seed = (a * 125 + 3) % 0x2AAAAB;
            m_crypt[row * 256 + i] = (a << 16) | (seed & 0xFFFF);
        }
    }
}

u32 CKeHashTable::GetHashCode(const char* key, u32 hashType) const {
    u32 h = 0x7FED7FED;
    u32 s = 0xEEEEEEEE;
    if (!key || hashType > 4) return h;
    // Unsigned bytes: a UTF-8 byte >= 0x80 must not index before the table.
    for (const auto* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) {
        u32 c = *p;
        if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
        h = (h + s) ^ m_crypt[hashType * 256 + c];
        s = s * 97 + c + h;
    }
    return h;
}

int CKeHashTable::InsertNode(const char* key, u32 value) {
    if (!key) return 0;
    const u32 home = GetHashCode(key, 0) & kMask;
    u32 pos = home;
    while (m_entries[pos].used) {
        pos = (pos + 1) & kMask;
        if (pos == home) return 0;
    }
    m_entries[pos] = Entry{value, 1, GetHashCode(key, 1), GetHashCode(key, 2)};
    return 1;
}

int CKeHashTable::GetHashTablePos(const char* key) const {
    if (!key) return -1;
    const u32 home = GetHashCode(key, 0) & kMask;
    const u32 a = GetHashCode(key, 1);
    const u32 b = GetHashCode(key, 2);
    u32 pos = home;
    do {
        const Entry& e = m_entries[pos];
        if (e.used && e.hashA == a && e.hashB == b) return static_cast<int>(pos);
        pos = (pos + 1) & kMask;
    } while (pos != home);
    return -1;
}

int CKeHashTable::FindNode(const char* key, u32& value) const {
    const int pos = GetHashTablePos(key);
    if (pos < 0) return 0;
    value = m_entries[pos].value;
    return 1;
}
