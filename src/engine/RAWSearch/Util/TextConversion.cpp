#include "engine/RAWSearch/Util/TextConversion.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

constexpr unsigned char kTrailing[256] = {
#define R16(v) v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v
    R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0),
    R16(1), R16(1), R16(2), 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5,
#undef R16
};
constexpr unsigned long kOffsets[6] = {0x00000000UL, 0x00003080UL, 0x000E2080UL,
                                       0x03C82080UL, 0xFA082080UL, 0x82082080UL};
constexpr unsigned char kFirstMark[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
constexpr unsigned char kLeadMask[6] = {0x80, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};
constexpr unsigned char kLeadValue[6] = {0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

// Decodes one sequence of n trailing bytes; false when the lead or a trailing byte is malformed.
bool Decode(const unsigned char* in, int n, unsigned long& value) {
    if ((in[0] & kLeadMask[n]) != kLeadValue[n]) return false;
    unsigned long v = 0;
    for (int i = 0; i <= n; ++i) {
        if (i > 0 && (in[i] & 0xC0) != 0x80) return false;
        v = (v << 6) + in[i];
    }
    value = (v - kOffsets[n]) & 0xFFFFFFFFUL;
    return true;
}

}  // namespace

long UTF8ToUNICODE(const unsigned char* in, long inLength, wchar_t* out, long outCount) {
    if (in == nullptr || out == nullptr || inLength <= 0 || outCount <= 0) return 0;
    long i = 0, o = 0;
    while (i < inLength && o < outCount) {
        const int n = kTrailing[in[i]];
        if (i + n >= inLength) break;  // a truncated sequence ends the text
        unsigned long v = 0;
        if (!Decode(in + i, n, v)) return 0;
        i += n + 1;
        if (v >= 0x110000UL) return o < 33 ? 0 : o;
        if (v >= 0x10000UL) {
            if (o + 2 > outCount) break;
            v -= 0x10000UL;
            out[o++] = static_cast<wchar_t>(0xD800 + (v >> 10));
            out[o++] = static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
            continue;
        }
        out[o++] = static_cast<wchar_t>(v);
    }
    return o;
}

long UNICODEToUTF8(const wchar_t* in, long inCount, unsigned char* out, long outLength) {
    if (in == nullptr || out == nullptr || inCount <= 0 || outLength <= 0) return 0;
    long i = 0, o = 0;
    while (i < inCount) {
        unsigned long c = static_cast<unsigned long>(static_cast<unsigned int>(in[i++]));
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i >= inCount) break;
            const unsigned long low = static_cast<unsigned int>(in[i++]);
            c = ((c << 10) + low - 0x35FDC00UL) & 0xFFFFFFFFUL;
        }
        if (c >= 0x80000000UL) continue;
        int n = 1;
        if (c >= 0x4000000UL) n = 6;
        else if (c >= 0x200000UL) n = 5;
        else if (c >= 0x10000UL) n = 4;
        else if (c >= 0x800UL) n = 3;
        else if (c >= 0x80UL) n = 2;
        if (o + n > outLength) break;
        for (int k = n - 1; k > 0; --k) {
            out[o + k] = static_cast<unsigned char>((c & 0x3F) | 0x80);
            c >>= 6;
        }
        out[o] = static_cast<unsigned char>(c | kFirstMark[n]);
        o += n;
    }
    return o;
}

size_t ANSIToUNICODE(const char* in, size_t, wchar_t* out, size_t outCount) {
    if (in == nullptr || out == nullptr) return 0;
    const size_t n = mbstowcs(out, in, outCount);
    return n == static_cast<size_t>(-1) ? 0 : n;
}

size_t UNICODEToANSI(const wchar_t* in, size_t, char* out, size_t outLength) {
    if (in == nullptr || out == nullptr) return 0;
    const size_t n = wcstombs(out, in, outLength);
    return n == static_cast<size_t>(-1) ? 0 : n;
}

size_t ANSIToUTF8(const char* in, size_t inLength, unsigned char* out, size_t outLength) {
    if (in == nullptr || out == nullptr) return 0;
    std::vector<wchar_t> wide(strlen(in) + 1, 0);
    const size_t units = ANSIToUNICODE(in, inLength, wide.data(), wide.size());
    if (units == 0) return 0;
    return static_cast<size_t>(UNICODEToUTF8(wide.data(), static_cast<long>(units), out, static_cast<long>(outLength)));
}

size_t UTF8ToANSI(const unsigned char* in, size_t inLength, char* out, size_t outLength) {
    if (in == nullptr || out == nullptr || outLength == 0) return 0;
    std::vector<wchar_t> wide(outLength + 1, 0);
    const long units = UTF8ToUNICODE(in, static_cast<long>(inLength), wide.data(), static_cast<long>(outLength));
    if (units <= 0) return 0;
    wide[static_cast<size_t>(units)] = 0;
    return UNICODEToANSI(wide.data(), static_cast<size_t>(units), out, outLength);
}

int XCharToUTF8(int c, char* out) {
    const unsigned long v = static_cast<unsigned int>(c);
    int n = 1;
    if (v >= 0x4000000UL) n = 6;
    else if (v >= 0x200000UL) n = 5;
    else if (v >= 0x10000UL) n = 4;
    else if (v >= 0x800UL) n = 3;
    else if (v >= 0x80UL) n = 2;
    unsigned long rest = v;
    for (int k = n - 1; k > 0; --k) {
        out[k] = static_cast<char>((rest & 0x3F) | 0x80);
        rest >>= 6;
    }
    out[0] = static_cast<char>(rest | kFirstMark[n]);
    return n;
}

int UTF8ToXChar(const unsigned char* in, int& c) {
    c = 0;
    if (in == nullptr) return 0;
    const int n = kTrailing[in[0]];
    for (int i = 1; i <= n; ++i) {
        if (in[i] == 0) return 0;  // stop at the terminator, never read past it
    }
    unsigned long v = 0;
    if (!Decode(in, n, v)) return 0;
    if (v >= 0x10000UL) v -= 0x10000UL;
    c = static_cast<int>(v);
    return n + 1;
}

int utf8_value(const unsigned char* in) {
    int c = 0;
    return UTF8ToXChar(in, c) == 0 ? 0 : c;
}

int utf8_strcmp(const char* a, const char* b, size_t n) {
    if (n == static_cast<size_t>(-1)) return strcmp(a, b);
    const size_t la = strlen(a), lb = strlen(b);
    const size_t m = std::min(n, std::min(la, lb));
    const int r = memcmp(a, b, m);
    if (r != 0) return r;
    if (la == lb) return 0;
    return la < lb ? -1 : 1;
}

void utf8_strlen(const char* text, unsigned& characters, unsigned& bytes, unsigned maxBytes) {
    assert(text != nullptr && "str != NULL");
    characters = 0;
    bytes = 0;
    if (text == nullptr) return;
    while (bytes < maxBytes && text[bytes] != 0) {
        const unsigned char b = static_cast<unsigned char>(text[bytes]);
        if (b < 0x80 || b >= 0xE0) ++characters;
        ++bytes;
    }
}
