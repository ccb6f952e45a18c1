#include "engine/Utility/TBitmap.h"

#include <cstring>
#include <new>

TBitmap::~TBitmap() {
    DestroyBitmap();
}

int TBitmap::CreateBitmap(i64 bits, u32 scale) {
    if (bits < 1) return 0;
    DestroyBitmap();
    const u64 bytes = BytesForBits(bits);
    if (bytes > static_cast<u64>(static_cast<size_t>(-1))) return 0;
    m_data = new (std::nothrow) u8[static_cast<size_t>(bytes)];
    if (!m_data) return 0;
    std::memset(m_data, 0, static_cast<size_t>(bytes));
    m_size = bytes;
    m_maxIndex = bits - 1;
    m_scale = scale;
    return 1;
}

int TBitmap::SetBit(i64 index, int value, u32 count) {
    if (!m_data || index < 0 || index > m_maxIndex) return 0;
    if (count == 0) return 1;
    i64 last = index + static_cast<i64>(count) - 1;  // index <= maxIndex < 2^63 - 2^32: no overflow
    if (last > m_maxIndex) last = m_maxIndex;
    for (i64 i = index; i <= last; ++i) {
        const u8 mask = static_cast<u8>(1u << (i % 8));
        if (value)
            m_data[i / 8] |= mask;
        else
            m_data[i / 8] &= static_cast<u8>(~mask);
    }
    return 1;
}

u32 TBitmap::GetBit(i64 index) const {
    if (!m_data || index < 0 || index > m_maxIndex) return 0;
    return m_data[index / 8] & (1u << (index % 8));
}

int TBitmap::FillBitmap(int flag) {
    if (!m_data) return 0;
    std::memset(m_data, flag ? 0x00 : 0xFF, static_cast<size_t>(m_size));
    return 1;
}

int TBitmap::DestroyBitmap() {
    delete[] m_data;
    m_data = nullptr;
    m_size = 0;
    m_maxIndex = 0;
    return 1;
}
