#include "support/LzvnEncoder.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace testsupport {

namespace {

class Emitter {
public:
    explicit Emitter(std::string& out) : m_out(out) {}

    // Literal runs on their own (sml_l, lrg_l).
    void Literals(const char* p, size_t n) {
        while (n > 0) {
            const size_t take = std::min<size_t>(n, 271);
            if (take < 16) {
                Byte(0xE0 | take);
            } else {
                Byte(0xE0);
                Byte(take - 16);
            }
            m_out.append(p, take);
            p += take;
            n -= take;
        }
    }

    // Up to three literals, then a match of length m at distance d. The one-byte and two-byte
    // distance forms leave fewer match lengths to the opcodes with more literals (the others are taken
    // by other opcodes): 10, 8, 6 and 4 for 0 to 3 literals.
    void Match(const char* lit, size_t l, size_t m, size_t d) {
        static constexpr size_t kLongest[4] = {10, 8, 6, 4};
        size_t first = std::min<size_t>(m, kLongest[l]);
        if (l > 0 && d == m_distance) {
            Byte((l << 6) | ((first - 3) << 3) | 6);  // pre_d
        } else if (l == 0 && d == m_distance) {
            first = 0;
        } else if (d < 0x600) {
            Byte((l << 6) | ((first - 3) << 3) | (d >> 8));  // sml_d
            Byte(d & 0xFF);
        } else if (d < 0x4000) {
            first = std::min<size_t>(m, 34);  // med_d
            Byte(0xA0 | (l << 3) | ((first - 3) >> 2));
            Byte(((d & 0x3F) << 2) | ((first - 3) & 3));
            Byte(d >> 6);
        } else {
            Byte((l << 6) | ((first - 3) << 3) | 7);  // lrg_d
            Byte(d & 0xFF);
            Byte(d >> 8);
        }
        if (first > 0) m_out.append(lit, l);
        m_distance = d;
        // The rest of the match reuses the distance (sml_m, lrg_m).
        size_t rest = m - first;
        while (rest > 0) {
            const size_t take = std::min<size_t>(rest, 271);
            if (take < 16) {
                Byte(0xF0 | take);
            } else {
                Byte(0xF0);
                Byte(take - 16);
            }
            rest -= take;
        }
    }

    void End() { m_out.append("\x06\0\0\0\0\0\0\0", 8); }

private:
    void Byte(size_t v) { m_out.push_back(static_cast<char>(v & 0xFF)); }

    std::string& m_out;
    size_t m_distance = 0;
};

}  // namespace

std::string LzvnEncode(const std::string& data) {
    std::string out;
    Emitter emit(out);
    const size_t n = data.size();
    constexpr size_t kHashBits = 14;
    std::vector<int64_t> table(size_t(1) << kHashBits, -1);
    auto hash = [&](size_t i) {
        const uint32_t v = uint8_t(data[i]) | (uint32_t(uint8_t(data[i + 1])) << 8) | (uint32_t(uint8_t(data[i + 2])) << 16);
        return (v * 2654435761u) >> (32 - kHashBits);
    };
    size_t literalStart = 0;
    size_t i = 0;
    while (i + 3 <= n) {
        const uint32_t h = hash(i);
        const int64_t candidate = table[h];
        table[h] = int64_t(i);
        size_t length = 0;
        size_t distance = 0;
        if (candidate >= 0 && i - size_t(candidate) <= 0xFFFF) {
            distance = i - size_t(candidate);
            while (i + length < n && data[size_t(candidate) + length] == data[i + length]) ++length;
        }
        if (length < 3) {
            ++i;
            continue;
        }
        // Literals beyond the three an opcode carries go out on their own first.
        size_t literals = i - literalStart;
        if (literals > 3) {
            emit.Literals(data.data() + literalStart, literals - 3);
            literalStart += literals - 3;
            literals = 3;
        }
        emit.Match(data.data() + literalStart, literals, length, distance);
        i += length;
        literalStart = i;
    }
    emit.Literals(data.data() + literalStart, n - literalStart);
    emit.End();
    return out;
}

}  // namespace testsupport
