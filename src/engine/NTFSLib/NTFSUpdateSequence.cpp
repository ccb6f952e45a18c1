#include "engine/NTFSLib/NTFSUpdateSequence.h"

#include <cstring>

#include "engine/Common/ByteReader.h"

namespace ntfs {

u32 ProtectedStrides(size_t size, u32 usaOffset, u32 wanted) {
    u32 strides = 0;
    while (strides < wanted && size_t(strides + 1) * kStride <= size && usaOffset + 2 * size_t(strides + 2) <= size)
        ++strides;
    return strides;
}

bool SequenceMatches(const u8* buf, size_t size, u32 usaOffset, u32 strides) {
    const ByteReader r(buf, size);
    const auto sequence = r.Le16(usaOffset);
    if (!sequence) return false;
    for (u32 k = 0; k < strides; ++k) {
        if (r.Le16(size_t(k) * kStride + kStride - 2) != sequence) return false;
    }
    return true;
}

void UndoProtection(u8* buf, size_t size, u32 usaOffset, u32 strides) {
    ByteWriter w(buf, size);
    const ByteReader r(buf, size);
    for (u32 k = 0; k < strides; ++k) {
        const auto saved = r.Le16(usaOffset + 2 * size_t(k + 1));
        if (saved) w.Le16(size_t(k) * kStride + kStride - 2, *saved);
    }
}

u8* PrivateCopy::Assign(const u8* buf, size_t size) {
    u8* copy = m_inPlace.data();
    if (size > kInPlaceBytes) {
        m_large.assign(buf, buf + size);
        return m_large.data();
    }
    m_large.clear();
    if (size != 0) std::memcpy(copy, buf, size);
    return copy;
}

void RedoProtection(u8* buf, size_t size, u32 usaOffset, u32 strides) {
    ByteWriter w(buf, size);
    const ByteReader r(buf, size);
    const auto sequence = r.Le16(usaOffset);
    if (!sequence) return;
    for (u32 k = 0; k < strides; ++k) {
        const size_t end = size_t(k) * kStride + kStride - 2;
        const auto current = r.Le16(end);
        if (!current) return;
        w.Le16(usaOffset + 2 * size_t(k + 1), *current);
        w.Le16(end, *sequence);
    }
}

}  // namespace ntfs
