// Checked byte arithmetic of sector ranges: values from disks and images must not overflow.
#pragma once

#include <limits>

#include "engine/Common/Types.h"

namespace sector_math {

// a * b, or false when either is negative or the product does not fit an i64.
inline bool Multiply(i64 a, i64 b, i64* out) {
    if (a < 0 || b < 0) return false;
    return !__builtin_mul_overflow(a, b, out);
}

// a + b for non-negative values, or false on overflow.
inline bool Add(i64 a, i64 b, i64* out) {
    if (a < 0 || b < 0) return false;
    return !__builtin_add_overflow(a, b, out);
}

// The byte offset and length of count sectors from first: first * size + base and count * size.
inline bool ByteRange(i64 first, i64 count, u32 sectorSize, i64 base, i64* offset, i64* length) {
    i64 start = 0;
    if (!Multiply(first, sectorSize, &start) || !Add(start, base, offset)) return false;
    if (!Multiply(count, sectorSize, length)) return false;
    i64 end = 0;
    return Add(*offset, *length, &end);
}

// Sector sizes a device accepts from a record: powers of two from 512 to 65536.
inline bool IsValidSectorSize(u64 size) { return size >= 512 && size <= 65536 && (size & (size - 1)) == 0; }

}  // namespace sector_math
