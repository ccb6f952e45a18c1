#include "ListOrder.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_map>

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
    if (n == limit) return n;
    if (limit >= 8) {
        // The last 8 bytes before the limit, read whole (they overlap bytes already found equal).
        u64 x, y;
        std::memcpy(&x, a.data() + limit - 8, 8);
        std::memcpy(&y, b.data() + limit - 8, 8);
        return x == y ? limit : limit - 8 + size_t(__builtin_ctzll(x ^ y)) / 8;
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
    // Copies the stretch of run, from at, whose values come before next.
    auto stretch = [&](const u32* run, size_t n, size_t& at, u32 next) {
        const size_t k = Gallop(run + at, n - at, [&](u32 x) { return less(x, next); });
        std::memcpy(out, run + at, k * sizeof *run);
        out += k;
        at += k;
    };
    while (i < na && j < nb) {
        if (winsA >= kGallop) {
            stretch(a, na, i, b[j]);
            winsA = 0;
            if (i < na) *out++ = b[j++], winsB = 1;
        } else if (winsB >= kGallop) {
            stretch(b, nb, j, a[i]);
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

// Merges the sorted runs of order that begin at starts (starts[0] == 0), pairwise, under less.
template <class Less>
void MergeAllRuns(std::vector<u32>& order, std::vector<size_t> starts, Less less) {
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
    MergeAllRuns(order, std::move(starts), less);
}

// The folders' classes: folders with equal heads make one class; classes are numbered in byte order
// of their heads, and a class's head is followed at once by the heads beginning with it: [c, end[c])
// are class c and the classes under it.
struct Classes {
    std::vector<u32> of;  // by folder number; kNoFolder for numbers no line carries
    std::vector<std::string_view> head;
    std::vector<u32> end;
};

Classes ClassesOf(std::span<const ListLine> lines) {
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
    Classes classes;
    classes.of.assign(folders, kNoFolder);
    for (const u32 f : byHead) {
        if (classes.head.empty() || classes.head.back() != headOf[f]) classes.head.push_back(headOf[f]);
        classes.of[f] = u32(classes.head.size() - 1);
    }
    const u32 count = u32(classes.head.size());
    classes.end.assign(count, count);
    std::vector<u32> open;
    for (u32 c = 0; c < count; ++c) {
        while (!open.empty() && !classes.head[c].starts_with(classes.head[open.back()])) {
            classes.end[open.back()] = c;
            open.pop_back();
        }
        open.push_back(c);
    }
    return classes;
}

// The order by one comparison of all lines: two lines of one class compare by their names (16 bytes
// past the class's shared beginning of names held as numbers), lines of unrelated classes by the
// classes' order, any other two by their whole paths.
std::vector<u32> OrderByComparison(std::span<const ListLine> lines, const Classes& classes) {
    const u32 count = u32(lines.size());
    const std::vector<u32>& classOf = classes.of;
    const std::vector<u32>& end = classes.end;
    // The names of one class share their first skip[class] bytes: their keys are taken past them.
    std::vector<size_t> skip(classes.head.size(), size_t(-1));
    std::vector<std::string_view> firstName(classes.head.size());
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

// Sorts the lines [first, last) of one class by name, lines of one name in the order of their
// numbers: the names' 16 bytes past their shared beginning are held as numbers.
void SortClassByName(u32* first, u32* last, std::span<const ListLine> lines) {
    const u32 n = u32(last - first);
    size_t skip = lines[first[0]].name.size();
    for (u32 k = 1; k < n; ++k) skip = CommonLength(lines[first[0]].name, lines[first[k]].name, skip);
    std::vector<NameKey> keys(n);
    for (u32 k = 0; k < n; ++k) keys[k] = KeyOf(lines[first[k]].name.substr(skip));
    auto before = [&](u32 p, u32 q) {
        const NameKey& a = keys[p];
        const NameKey& b = keys[q];
        if (a.high != b.high) return a.high < b.high;
        if (a.low != b.low) return a.low < b.low;
        const std::string_view na = lines[first[p]].name, nb = lines[first[q]].name;
        const size_t past = skip + 16;
        const int c = na.size() >= past && nb.size() >= past ? na.substr(past).compare(nb.substr(past))
                                                             : int(na.size() > nb.size()) - int(na.size() < nb.size());
        return c != 0 ? c < 0 : first[p] < first[q];
    };
    std::vector<u32> order(n);
    for (u32 k = 0; k < n; ++k) order[k] = k;
    SortAdaptive(order, before);
    std::vector<u32> sorted(n);
    for (u32 k = 0; k < n; ++k) sorted[k] = first[order[k]];
    std::memcpy(first, sorted.data(), n * sizeof *first);
}

// Sorts the lines [first, last) by name, lines of one name in the order of their numbers. Names that
// fall between neighbours begin a new stretch; a few stretches are merged by name, many sorted by keys.
void SortByName(u32* first, u32* last, std::span<const ListLine> lines) {
    const size_t n = size_t(last - first);
    if (n < 2) return;
    std::vector<size_t> stretches(1, 0);
    for (const u32* p = first + 1; p < last; ++p)
        if (lines[p[-1]].name > lines[p[0]].name) stretches.push_back(size_t(p - first));
    if (stretches.size() == 1) return;
    if (stretches.size() > n / 16 + 1) {
        SortClassByName(first, last, lines);
        return;
    }
    std::vector<u32> merged(first, last);
    MergeAllRuns(merged, stretches, [&](u32 i, u32 j) {
        const int c = lines[i].name.compare(lines[j].name);
        return c != 0 ? c < 0 : i < j;
    });
    std::memcpy(first, merged.data(), n * sizeof *first);
}

// a + separator before b + separator (names of one folder: never equal, no separator inside).
bool SiblingBefore(std::string_view a, std::string_view b, char separator) {
    const size_t n = std::min(a.size(), b.size());
    if (const int c = std::memcmp(a.data(), b.data(), n)) return c < 0;
    if (a.size() == b.size()) return false;
    const auto byte = [](char c) { return static_cast<unsigned char>(c); };
    return a.size() < b.size() ? byte(separator) < byte(b[n]) : byte(a[n]) < byte(separator);
}

// A line named name before every path below the folder child of the same folder: name against
// child + separator (a name never holds the separator, so the first differing byte decides).
bool LineBeforeSubtree(std::string_view name, std::string_view child, char separator) {
    const size_t n = std::min(name.size(), child.size());
    if (const int c = std::memcmp(name.data(), child.data(), n)) return c < 0;
    if (name.size() <= child.size()) return true;
    return static_cast<unsigned char>(name[n]) < static_cast<unsigned char>(separator);
}

// The lines with a whole path (head then name) as lines of a tree of folders: a folder per distinct
// path ending in "/" that begins a head or a whole path; each line in the folder of everything up to
// its last "/". Nothing when a line's folder head does not end in "/" or a line's name under a folder
// holds "/" (the order is then left to OrderByComparison).
struct HeadTree {
    std::vector<u32> parent;
    std::vector<std::string_view> name;
    std::vector<ListLine> lines;
    std::deque<std::string> joined;  // whole paths of loose lines that had a head
};

bool TreeOfHeads(std::span<const ListLine> lines, HeadTree& tree) {
    std::unordered_map<std::string_view, u32> folderOf;
    // The folder of path (which ends in "/"), made with those above it when new.
    auto folder = [&](std::string_view path) {
        if (auto known = folderOf.find(path); known != folderOf.end()) return known->second;
        u32 parent = kNoFolder;
        for (size_t from = 0, slash = path.find('/'); slash != std::string_view::npos;
             from = slash + 1, slash = path.find('/', from)) {
            const std::string_view prefix = path.substr(0, slash + 1);
            auto [at, added] = folderOf.try_emplace(prefix, u32(tree.parent.size()));
            if (added) {
                tree.parent.push_back(parent);
                tree.name.push_back(path.substr(from, slash - from));
            }
            parent = at->second;
        }
        return parent;
    };
    tree.lines.reserve(lines.size());
    for (const ListLine& line : lines) {
        if (line.folder != kNoFolder) {
            if (!line.head.ends_with('/') || line.name.find('/') != std::string_view::npos) return false;
            tree.lines.push_back({{}, line.name, folder(line.head)});
            continue;
        }
        std::string_view whole = line.name;
        if (!line.head.empty()) whole = tree.joined.emplace_back(std::string(line.head) + std::string(line.name));
        const size_t slash = whole.rfind('/');
        if (slash == std::string_view::npos) {
            tree.lines.push_back({{}, whole, kNoFolder});
        } else {
            tree.lines.push_back({{}, whole.substr(slash + 1), folder(whole.substr(0, slash + 1))});
        }
    }
    return true;
}

}  // namespace

std::vector<u32> TreeOrder(std::span<const ListLine> lines, const FolderTree& folders, char separator) {
    const u32 count = u32(lines.size());
    const u32 folderCount = u32(folders.parent.size());
    const u32 top = folderCount;
    // A folder whose parent does not come before it is taken as a top folder: the walk below reaches
    // every folder once.
    auto parentOf = [&](u32 f) {
        const u32 p = folders.parent[f];
        return p < f ? p : top;
    };
    // Each folder's subfolders (the top's too), ordered by name and separator.
    std::vector<u32> childStart(folderCount + 2, 0);
    for (u32 f = 0; f < folderCount; ++f) ++childStart[parentOf(f) + 1];
    for (u32 f = 0; f <= folderCount; ++f) childStart[f + 1] += childStart[f];
    std::vector<u32> children(folderCount);
    {
        std::vector<u32> at(childStart.begin(), childStart.end() - 1);
        for (u32 f = 0; f < folderCount; ++f) children[at[parentOf(f)]++] = f;
    }
    for (u32 f = 0; f <= folderCount; ++f) {
        std::sort(children.begin() + childStart[f], children.begin() + childStart[f + 1], [&](u32 a, u32 b) {
            return SiblingBefore(folders.name[a], folders.name[b], separator);
        });
    }
    // Each folder's lines (in the order of their numbers), then ordered by name.
    std::vector<u32> lineStart(folderCount + 2, 0);
    auto folderOfLine = [&](u32 i) { return lines[i].folder < folderCount ? lines[i].folder : top; };
    for (u32 i = 0; i < count; ++i) ++lineStart[folderOfLine(i) + 1];
    for (u32 f = 0; f <= folderCount; ++f) lineStart[f + 1] += lineStart[f];
    std::vector<u32> byFolder(count);
    {
        std::vector<u32> at(lineStart.begin(), lineStart.end() - 1);
        for (u32 i = 0; i < count; ++i) byFolder[at[folderOfLine(i)]++] = i;
    }
    for (u32 f = 0; f <= folderCount; ++f)
        SortByName(byFolder.data() + lineStart[f], byFolder.data() + lineStart[f + 1], lines);

    // The folders walked in order: a folder's own lines placed among its subfolders by one comparison
    // of the name with each subfolder's name and separator.
    std::vector<u32> order;
    order.reserve(count);
    struct Walk {
        u32 folder;
        u32 line;
        u32 child;
    };
    std::vector<Walk> walks{{top, lineStart[top], childStart[top]}};
    while (!walks.empty()) {
        Walk& walk = walks.back();
        const u32 lineEnd = lineStart[walk.folder + 1];
        if (walk.child == childStart[walk.folder + 1]) {
            order.insert(order.end(), byFolder.begin() + walk.line, byFolder.begin() + lineEnd);
            walks.pop_back();
            continue;
        }
        const u32 child = children[walk.child++];
        const std::string_view childName = folders.name[child];
        while (walk.line < lineEnd && LineBeforeSubtree(lines[byFolder[walk.line]].name, childName, separator))
            order.push_back(byFolder[walk.line++]);
        walks.push_back({child, lineStart[child], childStart[child]});
    }
    return order;
}

std::vector<u32> ListOrder(std::span<const ListLine> lines) {
    HeadTree tree;
    if (TreeOfHeads(lines, tree)) return TreeOrder(tree.lines, FolderTree{tree.parent, tree.name}, '/');
    return OrderByComparison(lines, ClassesOf(lines));
}

}  // namespace scan
