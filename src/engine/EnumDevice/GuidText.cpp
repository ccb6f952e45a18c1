#include "engine/EnumDevice/GuidText.h"

#include <cstring>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool ParseGuidText(std::string_view text, u8 out[16]) {
    // 8-4-4-4-12 hexadecimal digits.
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return false;
    u8 bytes[16];
    int n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) continue;
        int high = HexValue(text[i]), low = HexValue(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[n++] = static_cast<u8>(high * 16 + low);
        ++i;
    }
    // The text reads the first three groups most significant byte first; on disk they are little-endian.
    const u8 order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) out[i] = bytes[order[i]];
    return true;
}
