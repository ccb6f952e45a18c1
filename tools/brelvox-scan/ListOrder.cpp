#include "ListOrder.h"

#include <algorithm>
#include <cstring>

namespace scan {

namespace {

// Byte order of head + name against other.head + other.name, without joining them: <0, 0 or >0.
int CompareWhole(const ListLine& a, const ListLine& b) {
    std::string_view pa = a.head, pb = b.head;
    bool aInName = false, bInName = false;
    for (;;) {
        if (pa.empty() && !aInName) pa = a.name, aInName = true;
        if (pb.empty() && !bInName) pb = b.name, bInName = true;
        // A path that has ended (its name read) comes first unless the other has ended too.
        if (pa.empty() || pb.empty()) return int(!pa.empty()) - int(!pb.empty());
        const size_t n = std::min(pa.size(), pb.size());
        if (const int c = std::memcmp(pa.data(), pb.data(), n)) return c;
        pa.remove_prefix(n);
        pb.remove_prefix(n);
    }
}

// A name's first 16 bytes as two numbers in byte order, missing bytes as 0.
struct NameKey {
    u64 high = 0;
    u64 low = 0;
};

NameKey KeyOf(std::string_view name) {
    u64 high = 0, low = 0;
    if (name.size() >= 16) {
        std::memcpy(&high, name.data(), 8);
        std::memcpy(&low, name.data() + 8, 8);
    } else {
        unsigned char bytes[16] = {};
        if (!name.empty()) std::memcpy(bytes, name.data(), name.size());
        std::memcpy(&high, bytes, 8);
        std::memcpy(&low, bytes + 8, 8);
    }
    return {__builtin_bswap64(high), __builtin_bswap64(low)};
}

// The length of the common beginning of a and b, at most limit.
size_t CommonLength(std::string_view a, std::string_view b, size_t limit) {
    limit = std::min({limit, a.size(), b.size()});
    size_t n = 0;
    for (; n + 8 <= limit; n += 8) {
        u64 x, y;
        std::memcpy(&x, a.data() + n, 8);
        std::memcpy(&y, b.data() + n, 8);
        if (x != y) return n + size_t(__builtin_ctzll(x ^ y)) / 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// How many of the n values at p, from the first, pass `before` (those that pass all come first):
// found by doubling steps, then halving, so a long stretch costs a few tests.
template <class Test>
size_t Gallop(const u32* p, size_t n, Test before) {
    if (n == 0 || !before(p[0])) return 0;
    size_t pass = 0, fail = 1;
    while (fail < n && before(p[fail])) {
        pass = fail;
        fail = 2 * fail + 1;
    }
    fail = std::min(fail, n);
    while (fail - pass > 1) {
        const size_t mid = pass + (fail - pass) / 2;
        (before(p[mid]) ? pass : fail) = mid;
    }
    return fail;
}

// Merges the sorted runs a and b into out. A side that wins kGallop times in a row is then taken in
// stretches found by Gallop, so runs that interleave coarsely cost a few comparisons per stretch.
template <class Less>
void MergeRuns(const u32* a, size_t na, const u32* b, size_t nb, u32* out, Less less) {
    constexpr size_t kGallop = 7;
    size_t i = 0, j = 0, winsA = 0, winsB = 0;
    if (na && nb && less(a[na - 1], b[0])) {
        std::memcpy(out, a, na * sizeof *a);
        std::memcpy(out + na, b, nb * sizeof *b);
        return;
    }
    while (i < na && j < nb) {
        if (winsA >= kGallop) {
            const u32 next = b[j];
            const size_t k = Gallop(a + i, na - i, [&](u32 x) { return less(x, next); });
            std::memcpy(out, a + i, k * sizeof *a);
            out += k;
            i += k;
            winsA = 0;
            if (i < na) *out++ = b[j++], winsB = 1;
        } else if (winsB >= kGallop) {
            const u32 next = a[i];
            const size_t k = Gallop(b + j, nb - j, [&](u32 x) { return less(x, next); });
            std::memcpy(out, b + j, k * sizeof *b);
            out += k;
            j += k;
            winsB = 0;
            if (j < nb) *out++ = a[i++], winsA = 1;
        } else if (less(b[j], a[i])) {
            *out++ = b[j++];
            ++winsB;
            winsA = 0;
        } else {
            *out++ = a[i++];
            ++winsA;
            winsB = 0;
        }
    }
    std::memcpy(out, a + i, (na - i) * sizeof *a);
    out += na - i;
    std::memcpy(out, b + j, (nb - j) * sizeof *b);
}

// Sorts order (a strict total order: no two values equal under less). The lines mostly come in long
// sorted stretches (a folder's files in the order of its entries): those are found, then merged
// pairwise; input without such stretches is sorted as a whole.
template <class Less>
void SortAdaptive(std::vector<u32>& order, Less less) {
    std::vector<size_t> starts{0};
    for (size_t k = 1; k < order.size(); ++k)
        if (!less(order[k - 1], order[k])) starts.push_back(k);
    if (starts.size() > order.size() / 16 + 1) {
        std::stable_sort(order.begin(), order.end(), less);
        return;
    }
    std::vector<u32> other(order.size());
    while (starts.size() > 1) {
        std::vector<size_t> merged;
        for (size_t r = 0; r < starts.size(); r += 2) {
            const size_t from = starts[r];
            const size_t middle = r + 1 < starts.size() ? starts[r + 1] : order.size();
            const size_t to = r + 2 < starts.size() ? starts[r + 2] : order.size();
            MergeRuns(order.data() + from, middle - from, order.data() + middle, to - middle, other.data() + from, less);
            merged.push_back(from);
        }
        order.swap(other);
        starts.swap(merged);
    }
}

}  // namespace

std::vector<u32> ListOrder(const std::vector<ListLine>& lines) {
    const u32 count = u32(lines.size());
    // The folders' heads in byte order; folders with equal heads become one class, numbered by that
    // order. Heads beginning with a class's head follow it at once: [class, end[class]) are the class
    // and the classes under it.
    u32 folders = 0;
    for (const ListLine& line : lines)
        if (line.folder != kNoFolder) folders = std::max(folders, line.folder + 1);
    std::vector<std::string_view> headOf(folders);
    std::vector<bool> used(folders, false);
    for (const ListLine& line : lines)
        if (line.folder != kNoFolder && !used[line.folder]) used[line.folder] = true, headOf[line.folder] = line.head;
    std::vector<u32> byHead;
    for (u32 f = 0; f < folders; ++f)
        if (used[f]) byHead.push_back(f);
    std::sort(byHead.begin(), byHead.end(), [&](u32 a, u32 b) { return headOf[a] < headOf[b]; });
    std::vector<u32> classOf(folders, kNoFolder);
    std::vector<std::string_view> classHead;
    for (const u32 f : byHead) {
        if (classHead.empty() || classHead.back() != headOf[f]) classHead.push_back(headOf[f]);
        classOf[f] = u32(classHead.size() - 1);
    }
    std::vector<u32> end(classHead.size(), u32(classHead.size()));
    std::vector<u32> open;
    for (u32 c = 0; c < classHead.size(); ++c) {
        while (!open.empty() && !classHead[c].starts_with(classHead[open.back()])) {
            end[open.back()] = c;
            open.pop_back();
        }
        open.push_back(c);
    }

    // The names of one class share their first skip[class] bytes: their keys are taken past them.
    std::vector<size_t> skip(classHead.size(), size_t(-1));
    std::vector<std::string_view> firstName(classHead.size());
    for (const ListLine& line : lines) {
        if (line.folder == kNoFolder) continue;
        const u32 c = classOf[line.folder];
        if (skip[c] == size_t(-1)) {
            firstName[c] = line.name;
            skip[c] = line.name.size();
        } else {
            skip[c] = CommonLength(firstName[c], line.name, skip[c]);
        }
    }
    struct Key {
        NameKey name;
        u32 cls;
    };
    std::vector<Key> keys(count);
    for (u32 i = 0; i < count; ++i) {
        const u32 c = lines[i].folder == kNoFolder ? kNoFolder : classOf[lines[i].folder];
        keys[i] = {c == kNoFolder ? NameKey{} : KeyOf(lines[i].name.substr(skip[c])), c};
    }

    auto before = [&](u32 i, u32 j) {
        const Key& a = keys[i];
        const Key& b = keys[j];
        int c = 0;
        if (a.cls == b.cls && a.cls != kNoFolder) {
            // One head: the names decide.
            if (a.name.high != b.name.high) return a.name.high < b.name.high;
            if (a.name.low != b.name.low) return a.name.low < b.name.low;
            const std::string_view na = lines[i].name, nb = lines[j].name;
            // Equal up to 16 bytes past the shared beginning: past them when both go on; else the
            // shorter is the other's beginning.
            const size_t past = skip[a.cls] + 16;
            c = na.size() >= past && nb.size() >= past ? na.substr(past).compare(nb.substr(past))
                                                       : int(na.size() > nb.size()) - int(na.size() < nb.size());
        } else {
            // Two heads of which neither begins the other: the heads decide.
            if (a.cls != kNoFolder && b.cls != kNoFolder) {
                if (a.cls < b.cls && b.cls >= end[a.cls]) return true;
                if (b.cls < a.cls && a.cls >= end[b.cls]) return false;
            }
            c = CompareWhole(lines[i], lines[j]);
        }
        return c != 0 ? c < 0 : i < j;
    };
    std::vector<u32> order(count);
    for (u32 i = 0; i < count; ++i) order[i] = i;
    SortAdaptive(order, before);
    return order;
}

}  // namespace scan
