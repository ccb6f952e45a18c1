#include "engine/NTFSLib/Lznt1.h"

#include <algorithm>
#include <cstring>

#include "engine/Common/ByteReader.h"

namespace lznt1 {

namespace {

// How many bits of a token go to the length at output position p: the displacement takes
// 4 bits up to position 16 and one more for each doubling after that.
int LengthShift(int p) {
    int k = 0;
    for (int v = p - 1; v > 15; v >>= 1) ++k;
    return k;
}

int CopyStored(u8* out, int capacity, const u8* data, size_t available, u16 header) {
    size_t n = std::min<size_t>(size_t(header & kLengthMask) + 1, available);
    n = std::min<size_t>(n, size_t(capacity));
    std::memcpy(out, data, n);
    return static_cast<int>(n);
}

}  // namespace

int DecompressBlock(u8* out, int capacity, const u8* chunk, size_t available) {
    if (capacity < 1 || !out || !chunk || available < 2) return 0;
    const ByteReader bytes(chunk, available);
    const u16 header = bytes.Le16(0).value_or(0);
    if (!(header & kCompressedFlag)) return CopyStored(out, capacity, chunk + 2, available - 2, header);

    const size_t end = std::min(ChunkSize(header), available);
    size_t in = 2;
    int p = 0;
    while (in < end && p < capacity) {
        const u8 flags = chunk[in++];
        for (int bit = 0; bit < 8 && in < end && p < capacity; ++bit) {
            if (!(flags & (1 << bit))) {
                out[p++] = chunk[in++];
                continue;
            }
            if (in + 2 > end) return p;  // a token cut by the chunk's end
            const u16 token = bytes.Le16(in).value_or(0);
            in += 2;
            const int k = LengthShift(p);
            const int length = (token & (kLengthMask >> k)) + 3;
            const int displacement = (token >> (12 - k)) + 1;
            for (int i = 0; i < length && p < capacity; ++i, ++p) {
                const int from = p - displacement;
                out[p] = from >= 0 ? out[from] : 0;
            }
        }
    }
    return p;
}

size_t DecompressUnit(const u8* in, size_t inLength, u8* out, size_t capacity) {
    if (!in || !out) return 0;
    const ByteReader bytes(in, inLength);
    size_t produced = 0;
    size_t pos = 0;
    while (pos + 2 <= inLength && produced < capacity) {
        const u16 header = bytes.Le16(pos).value_or(0);
        if (header == 0) break;
        // A chunk's back-references never reach before its own start, so it decompresses in place.
        const size_t room = std::min<size_t>(capacity - produced, 0x7FFFFFFF);
        produced += size_t(DecompressBlock(out + produced, static_cast<int>(room), in + pos, inLength - pos));
        pos += ChunkSize(header);
    }
    return produced;
}

}  // namespace lznt1
