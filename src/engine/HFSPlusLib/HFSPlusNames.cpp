#include "engine/HFSPlusLib/HFSPlusNames.h"

#include <algorithm>
#include <cstring>

#include "engine/HFSPlusLib/HFSPlusStructs.h"

namespace hfsplus {

namespace {

bool IsHighSurrogate(u32 unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(u32 unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::string NameToUtf8(const u16* units, size_t count) {
    if (!units || count == 0) return {};
    count = std::min<size_t>(count, 255);
    // At most 3 bytes a unit (4 for a pair of two units).
    char out[3 * 255];
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        // Runs of eight, then four ASCII units (most names) are copied eight or four at a time.
        while (i + 8 <= count) {
            EightUnits eight;
            std::memcpy(&eight, units + i, sizeof eight);
            const auto high = eight & u16(0xFF80);
            u64 halves[2];
            std::memcpy(halves, &high, sizeof halves);
            if ((halves[0] | halves[1]) != 0) break;
            using EightBytes = u8 __attribute__((vector_size(8)));
            const EightBytes bytes = __builtin_convertvector(eight, EightBytes);
            std::memcpy(out + n, &bytes, sizeof bytes);
            n += 8;
            i += 8;
        }
        while (i + 4 <= count && ((units[i] | units[i + 1] | units[i + 2] | units[i + 3]) & 0xFF80) == 0) {
            out[n] = char(units[i]);
            out[n + 1] = char(units[i + 1]);
            out[n + 2] = char(units[i + 2]);
            out[n + 3] = char(units[i + 3]);
            n += 4;
            i += 4;
        }
        if (i == count) break;
        u32 c = units[i];
        if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            // Only a high surrogate followed by a low one is a character; anything else ends the name.
            if (!IsHighSurrogate(c) || i + 1 == count || !IsLowSurrogate(units[i + 1])) break;
            c = 0x10000 + ((c - 0xD800) << 10) + (u32(units[++i]) - 0xDC00);
        }
        if (c < 0x80) {
            out[n++] = char(c);
        } else if (c < 0x800) {
            out[n++] = char(0xC0 | (c >> 6));
            out[n++] = char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out[n++] = char(0xE0 | (c >> 12));
            out[n++] = char(0x80 | ((c >> 6) & 0x3F));
            out[n++] = char(0x80 | (c & 0x3F));
        } else {
            out[n++] = char(0xF0 | (c >> 18));
            out[n++] = char(0x80 | ((c >> 12) & 0x3F));
            out[n++] = char(0x80 | ((c >> 6) & 0x3F));
            out[n++] = char(0x80 | (c & 0x3F));
        }
    }
    return std::string(out, n);
}

}  // namespace hfsplus
