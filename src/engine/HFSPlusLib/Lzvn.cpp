#include "engine/HFSPlusLib/Lzvn.h"

#include <cstdint>
#include <cstring>

namespace {

enum class Op : unsigned char {
    SmallDistance,   // LLMMMDDD DDDDDDDD
    MediumDistance,  // 101LLMMM DDDDDDMM DDDDDDDD
    LargeDistance,   // LLMMM111 DDDDDDDD DDDDDDDD (distance little-endian)
    PreviousDistance,// LLMMM110
    SmallMatch,      // 1111MMMM
    LargeMatch,      // 11110000 MMMMMMMM
    SmallLiteral,    // 1110LLLL
    LargeLiteral,    // 11100000 LLLLLLLL
    EndOfStream,     // 00000110 (and seven bytes of padding)
    Nop,             // 00001110, 00010110
    Undefined,
};

constexpr Op Classify(unsigned op) {
    if (op == 0x06) return Op::EndOfStream;
    if (op == 0x0E || op == 0x16) return Op::Nop;
    if (op >= 0x70 && op <= 0x7F) return Op::Undefined;
    if (op >= 0xD0 && op <= 0xDF) return Op::Undefined;
    if (op >= 0xA0 && op <= 0xBF) return Op::MediumDistance;
    if (op == 0xE0) return Op::LargeLiteral;
    if (op > 0xE0 && op <= 0xEF) return Op::SmallLiteral;
    if (op == 0xF0) return Op::LargeMatch;
    if (op > 0xF0) return Op::SmallMatch;
    if ((op & 7) == 7) return Op::LargeDistance;
    if ((op & 7) == 6) return op < 0x40 ? Op::Undefined : Op::PreviousDistance;
    return Op::SmallDistance;
}

}  // namespace

unsigned long lzvn_decode(void* dst, unsigned long dstSize, const void* src, unsigned long srcSize) {
    if (!dst || !src || dstSize < 16) return 0;
    const auto srcStart = reinterpret_cast<std::uintptr_t>(src);
    if (srcStart + srcSize < srcStart) return 0;

    const auto* s = static_cast<const unsigned char*>(src);
    const unsigned char* const sEnd = s + srcSize;
    auto* const out = static_cast<unsigned char*>(dst);
    unsigned long d = 0;
    unsigned long distance = 0;

    // Copies n literal bytes; false when the stream ends first. The output stops filling at its end.
    auto literals = [&](unsigned long n) {
        if (static_cast<unsigned long>(sEnd - s) < n) return false;
        const unsigned long room = dstSize - d;
        const unsigned long take = n < room ? n : room;
        std::memcpy(out + d, s, take);
        d += take;
        s += n;
        return true;
    };
    // Copies n bytes from `distance` back in the output (overlapping copies repeat the pattern).
    auto match = [&](unsigned long n) {
        if (distance == 0 || distance > d) return false;
        for (unsigned long i = 0; i < n && d < dstSize; ++i, ++d) out[d] = out[d - distance];
        return true;
    };
    auto have = [&](unsigned long n) { return static_cast<unsigned long>(sEnd - s) >= n; };

    while (d < dstSize) {
        if (!have(1)) return 0;
        const unsigned op = s[0];
        unsigned long literalCount = 0;
        unsigned long matchLength = 0;
        switch (Classify(op)) {
            case Op::EndOfStream:
                return d;
            case Op::Nop:
                ++s;
                continue;
            case Op::Undefined:
                return 0;
            case Op::SmallDistance:
                if (!have(2)) return 0;
                literalCount = op >> 6;
                matchLength = ((op >> 3) & 7) + 3;
                distance = ((op & 7u) << 8) | s[1];
                s += 2;
                break;
            case Op::MediumDistance:
                if (!have(3)) return 0;
                literalCount = (op >> 3) & 3;
                matchLength = (((op & 7u) << 2) | (s[1] & 3u)) + 3;
                distance = (static_cast<unsigned long>(s[2]) << 6) | (s[1] >> 2);
                s += 3;
                break;
            case Op::LargeDistance:
                if (!have(3)) return 0;
                literalCount = op >> 6;
                matchLength = ((op >> 3) & 7) + 3;
                distance = s[1] | (static_cast<unsigned long>(s[2]) << 8);
                s += 3;
                break;
            case Op::PreviousDistance:
                literalCount = op >> 6;
                matchLength = ((op >> 3) & 7) + 3;
                s += 1;
                break;
            case Op::SmallMatch:
                matchLength = op & 0x0F;
                s += 1;
                break;
            case Op::LargeMatch:
                if (!have(2)) return 0;
                matchLength = s[1] + 16ul;
                s += 2;
                break;
            case Op::SmallLiteral:
                literalCount = op & 0x0F;
                s += 1;
                break;
            case Op::LargeLiteral:
                if (!have(2)) return 0;
                literalCount = s[1] + 16ul;
                s += 2;
                break;
        }
        if (literalCount && !literals(literalCount)) return 0;
        if (matchLength && !match(matchLength)) return 0;
    }
    return d;
}
