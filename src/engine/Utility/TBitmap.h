// One bit per sector or cluster, shared by the deep searchers. Sizes are 64-bit: a 16 TiB device at
// 512-byte sectors already needs 2^35 bits.
#pragma once

#include "engine/Common/Types.h"

class TBitmap {
public:
    TBitmap() = default;
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // 0 when bits < 1 (the old map stays) or the memory cannot be had (the old map is gone).
    int CreateBitmap(i64 bits, u32 scale);
    // Sets (value != 0) or clears count bits from index, stopping at the highest index.
    int SetBit(i64 index, int value, u32 count);
    // The byte masked with the bit's mask (bit 3 gives 8); 0 out of range.
    u32 GetBit(i64 index) const;
    i64 GetMaxBitIndex() const { return m_maxIndex; }
    u64 GetBitmapSize() const { return m_size; }
    u8* GetBitmapData() { return m_data; }
    u32 GetScale() const { return m_scale; }
    // A non-zero flag clears every byte, a zero flag sets every byte to 0xFF.
    int FillBitmap(int flag);
    int DestroyBitmap();

    // Bytes needed for the given number of bits (64-bit throughout).
    static u64 BytesForBits(i64 bits) { return bits < 1 ? 0 : (static_cast<u64>(bits) + 7) / 8; }

private:
    u8* m_data = nullptr;
    u64 m_size = 0;
    i64 m_maxIndex = 0;
    u32 m_scale = 1;
};
