#include "engine/HFSPlusLib/HFSPlusNames.h"

#include <algorithm>

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
        // Runs of four ASCII units (most names) are copied four at a time.
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
