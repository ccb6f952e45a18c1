// The listing's order against the plain rule (stable sort of the whole paths' bytes), over trees whose
// names share long beginnings, begin one another, differ past 16 bytes or hold bytes above 0x7F, two
// folders of one path, lines with whole paths, and inputs sorted, nearly sorted, reversed and shuffled;
// then the session's listing of nodes published many times.
#include "brelvox-scan/ListOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "brelvox-scan/ScanSession.h"
#include "support/DriverListing.h"
#include "support/SimpleFileNode.h"
#include "support/TempDir.h"

namespace {

// A generated listing: heads (folder paths with "/") and lines over them.
struct Listing {
    std::deque<std::string> heads;
    std::deque<std::string> names;
    std::vector<scan::ListLine> lines;
};

std::string Joined(const scan::ListLine& line) { return std::string(line.head) + std::string(line.name); }

// Names from a few stems (" ", "!", "0" sort around "/"; 0xC3 and 0xFF above ASCII; stems longer than
// 16 bytes) and short tails, so names share beginnings, begin one another and repeat; with slashes,
// some names hold "/" too.
std::string Name(std::mt19937& random, bool slashes = false) {
    static const char* const kStems[] = {"a", "a ", "a!", "a0", "b", "", "\xC3\xA9t\xC3\xA9", "\xFF",
                                         "a file with a long name 000", "0123456789abcdef", "0123456789abcde",
                                         "0123456789abcdef0123456789abcdef_"};
    static const char* const kTails[] = {"", "", "1", "2", " ", "!", "0", "~", ".txt", "12.txt", "\x80"};
    std::string name = kStems[random() % std::size(kStems)];
    name += kTails[random() % std::size(kTails)];
    if (slashes && random() % 8 == 0) name.insert(random() % (name.size() + 1), "/");
    return name.empty() ? "x" : name;
}

// Folders made below earlier folders (some with the path of another folder), lines under them (some
// listed with their whole path and no folder), in the order of the folders.
Listing MakeListing(std::mt19937& random, size_t folders, size_t lines, bool slashes) {
    Listing out;
    std::vector<std::string> paths{"root"};
    for (size_t f = 1; f < folders; ++f) {
        const std::string& parent = paths[random() % paths.size()];
        paths.push_back(random() % 8 == 0 ? paths[random() % paths.size()] : parent + "/" + Name(random));
    }
    for (const std::string& path : paths) out.heads.push_back(path + "/");
    for (size_t l = 0; l < lines; ++l) {
        const u32 folder = u32(random() % paths.size());
        out.names.push_back(Name(random, slashes));
        if (random() % 16 == 0) {
            // The same path as the folder's line would have, given whole.
            out.names.back() = out.heads[folder] + out.names.back();
            out.lines.push_back({{}, out.names.back(), scan::kNoFolder});
        } else {
            out.lines.push_back({out.heads[folder], out.names.back(), folder});
        }
    }
    return out;
}

// The expected order: the lines' whole paths, stable.
std::vector<u32> PlainOrder(const std::vector<scan::ListLine>& lines) {
    std::vector<u32> order(lines.size());
    for (u32 i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](u32 a, u32 b) { return Joined(lines[a]) < Joined(lines[b]); });
    return order;
}

std::vector<scan::ListLine> Permuted(const std::vector<scan::ListLine>& lines, const std::vector<u32>& order) {
    std::vector<scan::ListLine> out;
    for (const u32 i : order) out.push_back(lines[i]);
    return out;
}

TEST(ListOrderTest, EqualsTheStableSortOfWholePaths) {
    std::mt19937 random(20261210);
    enum Arrangement { kAsMade, kSorted, kNearlySorted, kReversed, kShuffled, kSortedFolders };
    for (int round = 0; round < 40; ++round) {
        const size_t folders = 1 + random() % (round < 20 ? 6 : 60);
        const size_t count = round % 5 == 0 ? random() % 4 : 50 + random() % 3000;
        // Every fourth round, names holding "/" as well (lines whose order the folders cannot tell).
        const Listing made = MakeListing(random, folders, count, round % 4 == 3);
        for (const Arrangement arrangement : {kAsMade, kSorted, kNearlySorted, kReversed, kShuffled, kSortedFolders}) {
            std::vector<scan::ListLine> lines = made.lines;
            if (arrangement != kAsMade && arrangement != kShuffled && arrangement != kSortedFolders)
                lines = Permuted(lines, PlainOrder(lines));
            if (arrangement == kNearlySorted) {
                // Sorted stretches in another order, and a few lines moved.
                const size_t stretch = 1 + lines.size() / 7;
                for (size_t at = 0; at + 2 * stretch <= lines.size(); at += 2 * stretch)
                    std::rotate(lines.begin() + at, lines.begin() + at + stretch, lines.begin() + at + 2 * stretch);
                for (size_t k = 0; k + 1 < lines.size() && k < 5; ++k)
                    std::swap(lines[random() % lines.size()], lines[random() % lines.size()]);
            }
            if (arrangement == kReversed) std::reverse(lines.begin(), lines.end());
            if (arrangement == kShuffled) std::shuffle(lines.begin(), lines.end(), random);
            if (arrangement == kSortedFolders) {
                // Each folder's lines sorted and together, the folders in the order made: long runs that
                // interleave with one another.
                std::stable_sort(lines.begin(), lines.end(), [](const scan::ListLine& a, const scan::ListLine& b) {
                    return a.folder != b.folder ? a.folder < b.folder : a.name < b.name;
                });
            }
            EXPECT_EQ(scan::ListOrder(lines), PlainOrder(lines)) << "round " << round << ", arrangement " << arrangement;
        }
    }
}

// Lines whose order the folders alone cannot tell, each case beside its neighbours.
TEST(ListOrderTest, HardCases) {
    struct Case {
        const char* what;
        std::vector<std::tuple<int, std::string, std::string>> lines;  // folder (-1: a whole path), head, name
    };
    const std::vector<Case> cases = {
        {"a folder's files around its subfolder's",
         {{0, "r/", "a!"}, {1, "r/a/", "x"}, {0, "r/", "a"}, {0, "r/", "a0"}, {0, "r/", "a b"}}},
        {"names equal for 16 bytes past a long shared beginning",
         {{0, "r/", "same beginning 0123456789abcdefX"}, {0, "r/", "same beginning 0123456789abcdef"},
          {0, "r/", "same beginning 0123456789abcdefW"}, {0, "r/", "same beginning 0123456789abcdeg"}}},
        {"one name beginning another", {{0, "r/", "ab"}, {0, "r/", "a"}, {0, "r/", "abc"}, {0, "r/", "a"}, {0, "r/", ""}}},
        {"names ending in NUL bytes", {{0, "r/", std::string("a\0", 2)}, {0, "r/", "a"}, {0, "r/", std::string("a\0\0", 3)},
                                       {0, "r/", std::string("a\0", 2)}}},
        {"bytes above 0x7F after ASCII", {{0, "r/", "\xC3\xA9"}, {0, "r/", "z"}, {0, "r/", "\x7F"}, {0, "r/", "\xFF"}}},
        {"two folders of one path",
         {{0, "r/d/", "b"}, {1, "s/", "x"}, {2, "r/d/", "a"}, {0, "r/d/", "b"}, {3, "r/", "d"}, {2, "r/d/", "b"}}},
        {"whole paths among folders' lines",
         {{-1, "", "r/d/a"}, {0, "r/d/", "a"}, {-1, "", "r"}, {1, "r/", "d"}, {-1, "", "r/d!"}, {-1, "", "r/d/a"}}},
        {"heads beginning one another",
         {{2, "r/a/b/", "c"}, {1, "r/a/", "b"}, {0, "r/", "a"}, {1, "r/a/", "b c"}, {1, "r/a/", "b/"}, {3, "r/a/b c/", "d"}}},
        {"heads not ending in a slash", {{1, "r/ab", "x"}, {0, "r/a", "b"}, {0, "r/a", "c"}, {1, "r/ab", ""}}},
        {"a folder's name before, between and after its subfolders' heads",
         {{1, "r/d/", "x"}, {0, "r/", "d"}, {2, "r/d0/", "y"}, {0, "r/", "d!"}, {0, "r/", "d0"}, {0, "r/", "d1"},
          {3, "r/d/e/", "z"}, {0, "r/", "d/"}, {1, "r/d/", "e"}, {1, "r/d/", "e0"}, {1, "r/d/", "a"}}},
        {"whole paths alone", {{-1, "", "r/b"}, {-1, "", "r/a"}, {-1, "", "r"}, {-1, "", "r/a"}}},
        {"nothing", {}},
    };
    for (const Case& c : cases) {
        std::vector<scan::ListLine> lines;
        for (const auto& [folder, head, name] : c.lines)
            lines.push_back({head, name, folder < 0 ? scan::kNoFolder : u32(folder)});
        EXPECT_EQ(scan::ListOrder(lines), PlainOrder(lines)) << c.what;
    }
}

// A tree of folders (no two of one parent named alike) with lines in its folders and at its top: with
// NUL between the names, the order is that of paths compared name by name; with "/", that of whole
// paths (names here hold "/" only under NUL).
TEST(ListOrderTest, TreeOrderEqualsTheStableSortOfJoinedPaths) {
    std::mt19937 random(20261211);
    for (const char separator : {'\0', '/'}) {
        for (int round = 0; round < 30; ++round) {
            const size_t folderCount = random() % (round < 10 ? 5 : 80);
            std::vector<u32> parent;
            std::deque<std::string> names;
            std::vector<std::string> paths;  // joined by the separator
            std::set<std::pair<u32, std::string>> taken;
            while (parent.size() < folderCount) {
                const u32 up = parent.empty() || random() % 4 == 0 ? scan::kNoFolder : u32(random() % parent.size());
                std::string name = Name(random, separator == '\0');
                if (!taken.insert({up, name}).second) continue;
                parent.push_back(up);
                names.push_back(name);
                paths.push_back(up == scan::kNoFolder ? name : paths[up] + separator + name);
            }
            const std::vector<std::string_view> nameViews(names.begin(), names.end());
            std::deque<std::string> lineNames;
            std::vector<scan::ListLine> lines;
            std::vector<std::string> whole;
            const size_t count = random() % 600;
            for (size_t l = 0; l < count; ++l) {
                const u32 folder = parent.empty() || random() % 5 == 0 ? scan::kNoFolder : u32(random() % parent.size());
                lineNames.push_back(Name(random, separator == '\0'));
                lines.push_back({{}, lineNames.back(), folder});
                whole.push_back(folder == scan::kNoFolder ? lineNames.back() : paths[folder] + separator + lineNames.back());
            }
            std::vector<u32> expected(lines.size());
            for (u32 i = 0; i < expected.size(); ++i) expected[i] = i;
            std::stable_sort(expected.begin(), expected.end(), [&](u32 a, u32 b) { return whole[a] < whole[b]; });
            EXPECT_EQ(scan::TreeOrder(lines, scan::FolderTree{parent, nameViews}, separator), expected)
                << "round " << round << ", separator " << int(separator);
        }
    }
}

// A session that only lists, into dir/list.txt.
scan::Options ListOnly(const testsupport::TempDir& dir) {
    scan::Options options;
    options.source = (dir / "none.img").string();
    options.listPath = (dir / "list.txt").string();
    return options;
}

// Nodes published many times, in batches, under folders: each is listed once, and nodes of one path in
// the order of their first publication. The nodes lie side by side in one allocation.
TEST(ListOrderTest, SessionListsEachPublishedNodeOnce) {
    testsupport::TempDir dir;
    scan::ScanSession session(ListOnly(dir));

    constexpr int kFolders = 20, kFiles = 3000;
    std::deque<testsupport::SimpleFileNode> nodes;
    nodes.emplace_back(1, 0, "root", true);
    for (int f = 0; f < kFolders; ++f) {
        nodes.emplace_back(100 + f, 1, "folder " + std::to_string(f % 15), true);  // five paths twice
        nodes.back().SetParent(&nodes.front());
    }
    std::mt19937 random(7);
    for (int i = 0; i < kFiles; ++i) {
        nodes.emplace_back(1000 + i, 0, "file " + std::to_string(random() % 1000), false, i);
        nodes.back().SetParent(&nodes[1 + random() % kFolders]);
    }
    std::vector<IFileNode*> all;
    for (auto& node : nodes) all.push_back(&node);
    // First publication in a shuffled order, then every node again, twice, in batches of varied size.
    std::vector<IFileNode*> first = all;
    std::shuffle(first.begin(), first.end(), random);
    std::vector<IFileNode*> published = first;
    for (int again = 0; again < 2; ++again) {
        std::vector<IFileNode*> more = all;
        std::shuffle(more.begin(), more.end(), random);
        published.insert(published.end(), more.begin(), more.end());
    }
    for (size_t at = 0; at < published.size();) {
        const size_t batch = std::min<size_t>(1 + random() % 500, published.size() - at);
        session.ShowNodes(published.data() + at, u32(batch), 0);
        at += batch;
    }
    std::string reason;
    ASSERT_TRUE(session.WriteList(reason)) << reason;

    // Expected: each node once, by whole path, stable in the first publication's order.
    auto pathOf = [](IFileNode* node) {
        std::string path = node->GetFileName();
        for (IFileNode* up = node->GetParent(); up; up = up->GetParent()) path = std::string(up->GetFileName()) + "/" + path;
        return path;
    };
    std::vector<std::pair<std::string, i64>> expected;
    for (IFileNode* node : first) expected.emplace_back(pathOf(node), node->GetFileSize());
    std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<std::string, i64>> listed;
    for (const auto& [path, size] : testsupport::ListedPathsInOrder(testsupport::ReadFile(dir / "list.txt")))
        listed.emplace_back(path, std::stoll(size));
    EXPECT_EQ(listed.size(), all.size());
    EXPECT_EQ(listed, expected);
}

// Lines of every kind of value, many more than one write of the list holds, and a path longer than
// such a write: the session's text equals lines made here from the nodes, in stable order of path.
TEST(ListOrderTest, SessionWritesEveryLineWholeThroughManyWrites) {
    testsupport::TempDir dir;
    scan::ScanSession session(ListOnly(dir));

    std::deque<testsupport::SimpleFileNode> nodes;
    nodes.emplace_back(1, 0, "root", true).Type(SEARCHER_NTFS);
    // A chain of folders whose path is longer than 256 KiB, a file at its end (listed; the folders
    // past the first three are not).
    IFileNode* deepest = &nodes.front();
    for (int i = 0; i < 1100; ++i) {
        nodes.emplace_back(10 + i, 0, std::string(250, char('a' + i % 26)), true).Type(SEARCHER_NTFS);
        nodes.back().SetParent(static_cast<CFileNode*>(deepest));
        deepest = &nodes.back();
    }
    // Its numbers as wide as they come, so the line fills all the room a line may take.
    nodes.emplace_back(5000, 0, "at the end", false, std::numeric_limits<i64>::min())
        .Times(0, std::numeric_limits<i64>::max())
        .Type(SEARCHER_NTFS);
    nodes.back().SetParent(static_cast<CFileNode*>(deepest));
    // Files whose numbers repeat in stretches, change every line, or take their widest forms.
    std::mt19937 random(11);
    constexpr i64 kEpoch = 116444736000000000;  // 1970 in 100 ns ticks
    const i64 sizes[] = {0, 1, 9, 10, 4096, 999999999999, std::numeric_limits<i64>::max(), -1};
    for (int i = 0; i < 30000; ++i) {
        const bool stretch = (i / 100) % 2 == 0;
        const i64 size = stretch ? sizes[(i / 100) % std::size(sizes)] : sizes[random() % std::size(sizes)];
        const i64 seconds = stretch ? 1700000000 + i / 100 : i64(random() % 4000000000);
        nodes.emplace_back(10000 + i, 0, "file " + std::to_string(random() % 5000), i % 7 == 0, size)
            .Times(0, i % 13 == 0 ? 0 : kEpoch + seconds * 10000000)
            .Deleted(i % 5 == 0)
            .Type(i % 3 == 0 ? SEARCHER_RAW : SEARCHER_NTFS);
        nodes.back().SetParent(&nodes[size_t(random() % 4)]);
    }
    std::vector<IFileNode*> all;
    for (size_t k = 0; k < nodes.size(); ++k)
        if (k < 4 || k > 1100) all.push_back(&nodes[k]);
    std::shuffle(all.begin(), all.end(), random);
    session.ShowNodes(all.data(), u32(all.size()), 0);
    std::string reason;
    ASSERT_TRUE(session.WriteList(reason)) << reason;

    std::map<IFileNode*, std::string> paths;
    std::function<const std::string&(IFileNode*)> pathOf = [&](IFileNode* node) -> const std::string& {
        if (auto known = paths.find(node); known != paths.end()) return known->second;
        std::string path = node->GetParent() ? pathOf(node->GetParent()) + "/" : std::string();
        return paths[node] = path + node->GetFileName();
    };
    for (auto& node : nodes) pathOf(&node);  // parents before children: no deep recursion
    std::vector<std::pair<std::string, std::string>> expected;  // path, line
    for (IFileNode* node : all) {
        const std::string& path = paths.at(node);
        const _FILETIME t = node->GetModificationTime();
        const std::string line = std::to_string(int(node->GetSearcheType())) + "\t" + path + "\t" +
                                 std::to_string(node->GetFileSize()) + "\t" + (node->IsDeleted() ? "1" : "0") + "\t" +
                                 (node->IsDirectory() ? "1" : "0") + "\t" +
                                 std::to_string(t > 0 ? t / 10000000 - 11644473600LL : 0) + "\n";
        expected.emplace_back(path, line);
    }
    std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string text;
    for (const auto& entry : expected) text += entry.second;
    const std::string listed = testsupport::ReadFile(dir / "list.txt");
    ASSERT_GT(listed.size(), size_t(1) << 20);
    EXPECT_TRUE(listed == text) << "sizes " << listed.size() << " and " << text.size();
}

}  // namespace
