#include "engine/Common/TextFunctions.h"

#include "engine/Common/Types.h"

int isValidString(const char* text) {
    if (!text) return 0;
    auto p = reinterpret_cast<const u8*>(text);
    while (*p) {
        u8 lead = *p;
        int follow;
        u32 code;
        u32 least;
        if (lead < 0x80) {
            ++p;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            follow = 1, code = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            follow = 2, code = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            follow = 3, code = lead & 0x07, least = 0x10000;
        } else {
            return 0;
        }
        ++p;
        for (int i = 0; i < follow; ++i, ++p) {
            // The terminating NUL is not a continuation byte, so this also stops at the end.
            if ((*p & 0xC0) != 0x80) return 0;
            code = (code << 6) | (*p & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    }
    return 1;
}
