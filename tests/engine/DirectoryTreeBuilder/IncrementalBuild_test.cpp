// A build climbs only the pending nodes whose climb can change something. These tests replay large
// random scans twice, once that way and once climbing every pending node at every build, and demand
// the same answers, the same batches in the same order and the same trees, child order included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/RecoveryFilter/RecoveryFilter.h"
#include "support/RecordingTree.h"
#include "support/SimpleFileNode.h"

using testsupport::RecordingTree;
using testsupport::SimpleFileNode;

namespace {

struct Event {
    char op = 'A';  // 'A' add, 'T' clock +3 s, 'F' flush, 'R' register the root again under rootId
    i64 id = 0, parent = 0, size = 0, mtime = 0, tag = 0, rootId = 0;
    std::string name;
    bool dir = false, deleted = false;
    u16 partition = 0;
};

Event Op(char op) {
    Event e;
    e.op = op;
    return e;
}

struct Script {
    _tagSearcherType type;
    _SCAN_TYPE scan;
    i64 rootId;
    std::vector<Event> events;
};

// Folders under the root, under each other (cycles too), under missing folders; files under them;
// duplicates, copies on another partition, dot names, size 0, trash and recycle-bin names; shuffled
// so that children often come before their folders; the 3 s timer and extra flushes here and there.
Script MakeScript(unsigned seed, _tagSearcherType type, _SCAN_TYPE scan, int folders, int files,
                  bool rootChanges = true) {
    std::mt19937 rng(seed);
    auto chance = [&rng](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
    auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    Script s{type, scan, 5, {}};
    i64 tag = 1;
    auto folderId = [](int i) { return i64(1000 + i); };
    auto parentOfFolder = [&](int i) -> i64 {
        if (i == 0 || chance(0.15)) return s.rootId;
        if (chance(0.05)) return 900000 + pick(20);  // never recorded
        return folderId(pick(folders));              // earlier, later or itself: cycles happen
    };
    std::vector<Event> adds;
    for (int i = 0; i < folders; ++i) {
        Event e;
        e.id = folderId(i);
        e.parent = parentOfFolder(i);
        e.dir = true;
        e.deleted = chance(0.1);
        e.name = "d" + std::to_string(i);
        if (chance(0.01)) e.name = chance(0.5) ? ".Trash" : ".Trashes";
        if (chance(0.02)) e.name = ".." + e.name;
        if (chance(0.01)) e.name = "$Recycle.Bin";
        if (type == SEARCHER_HFSPLUS && i == 1) {
            e.name = "HFS+ Private Data";
            e.parent = s.rootId;
        }
        e.partition = chance(0.1) ? 1 : 0;
        e.mtime = pick(100);
        adds.push_back(e);
        if (chance(0.05)) {  // the same folder found again, maybe elsewhere and on another partition
            Event copy = e;
            copy.parent = parentOfFolder(i);
            copy.partition = chance(0.5) ? 1 : 0;
            copy.deleted = chance(0.5);
            adds.push_back(copy);
        }
    }
    for (int i = 0; i < files; ++i) {
        Event e;
        e.id = 100000 + i;
        e.parent = chance(0.03) ? 800000 + pick(50) : chance(0.05) ? s.rootId : folderId(pick(folders));
        e.deleted = scan == SCAN_QUICK ? chance(0.2) : chance(0.5);
        e.size = chance(0.05) ? 0 : 1 + pick(5000);
        e.name = "f" + std::to_string(i);
        if (chance(0.01)) e.name = "." + e.name;
        if (chance(0.01)) e.name = "$R" + std::to_string(i) + ".txt";
        e.partition = chance(0.1) ? 1 : 0;
        e.mtime = pick(100);
        adds.push_back(e);
        if (chance(0.03)) {  // found twice: equal, later or earlier copy
            Event copy = e;
            copy.size = chance(0.2) ? 0 : 1 + pick(5000);
            copy.mtime = pick(100);
            adds.push_back(copy);
        }
    }
    // Mostly in order with local disorder, and some far moves: children before folders.
    for (size_t i = 0; i < adds.size(); ++i) {
        if (chance(0.3)) std::swap(adds[i], adds[std::min(adds.size() - 1, i + pick(40))]);
        if (chance(0.02)) std::swap(adds[i], adds[pick(int(adds.size()))]);
    }
    for (Event& e : adds) {
        e.tag = tag++;
        s.events.push_back(e);
        if (chance(0.002)) s.events.push_back(Op('T'));
        if (chance(0.0003)) s.events.push_back(Op('F'));
        if (chance(0.0002) && rootChanges) {
            Event r = Op('R');
            r.rootId = chance(0.5) ? folderId(pick(folders)) : s.rootId;
            s.events.push_back(r);
        }
    }
    s.events.push_back(Op('F'));
    return s;
}

std::string Label(IFileNode* node) {
    const char* name = node->GetFileName();
    return std::to_string(node->GetCreationTime()) + ":" + (name ? name : "") + (node->IsDeleted() ? "*" : "");
}

void Walk(CFileNode* node, int depth, std::string& out) {
    out += std::string(size_t(depth), ' ') + Label(node) + "\n";
    for (CFileNode* child = node->GetFirstChild(); child; child = child->GetNextNode()) Walk(child, depth + 1, out);
}

struct Outcome {
    std::vector<int> answers;
    std::vector<std::string> batches;
    std::string trees;
    size_t owned = 0;
    size_t released = 0;
    int sleeps = 0;
};

// A node-count hint given to the builder during a replay: before the searcher is registered, right
// after, and again halfway through the events.
struct Hint {
    bool given = false;
    u64 count = 0;
};

Outcome Replay(const Script& s, bool climbEveryPending, Hint hint = {}, bool releaseLiveFiles = true) {
    RecordingTree tree;
    CRecoveryFilter filter;
    filter.SetFilterTypes(FILTER_ALL);
    filter.SetScanType(s.scan);
    CDirectoryTreeBuilder builder(false);
    i64 now = 0;
    Outcome out;
    builder.SetClock([&now] { return now; }, [&out](int) { ++out.sleeps; });
    builder.SetClimbEveryPending(climbEveryPending);
    builder.SetReleaseLiveFiles(releaseLiveFiles);
    EXPECT_EQ(builder.Initialize("Dev", &tree, &filter), 1);
    if (hint.given) builder.ExpectNodes(s.type, hint.count);
    builder.AddSearcherInfo(s.type, s.rootId);
    if (hint.given) builder.ExpectNodes(s.type, hint.count);
    size_t at = 0;
    for (const Event& e : s.events) {
        if (hint.given && ++at == s.events.size() / 2) builder.ExpectNodes(s.type, hint.count);
        switch (e.op) {
            case 'T':
                now += 3;
                break;
            case 'F':
                builder.FlashBuild(s.type);
                break;
            case 'R':
                builder.AddSearcherInfo(s.type, e.rootId);
                break;
            default: {
                auto* node = new SimpleFileNode(e.id, e.parent, e.name, e.dir, e.size);
                node->Deleted(e.deleted).Times(e.tag, e.mtime).Type(s.type).Partition(e.partition);
                const int taken = builder.AddNode(node, s.type);
                if (!taken) node->Release();
                out.answers.push_back(taken);
            }
        }
    }
    for (const auto& batch : tree.Batches()) {
        std::string line = std::to_string(batch.lost) + ":";
        for (IFileNode* node : batch.nodes) line += Label(node) + ",";
        out.batches.push_back(line);
    }
    for (IFilesystemNode* root : tree.Roots()) Walk(dynamic_cast<CFileNode*>(root), 0, out.trees);
    out.owned = builder.OwnedNodeCount();
    out.released = builder.ReleasedFileCount();
    return out;
}

void ExpectSameOutcome(const Outcome& got, const Outcome& want) {
    EXPECT_EQ(got.answers, want.answers);
    ASSERT_EQ(got.batches.size(), want.batches.size());
    for (size_t i = 0; i < want.batches.size(); ++i) EXPECT_EQ(got.batches[i], want.batches[i]) << "batch " << i;
    EXPECT_EQ(got.trees, want.trees);
    EXPECT_EQ(got.owned, want.owned);
    EXPECT_EQ(got.sleeps, want.sleeps);
}

void ExpectSame(const Script& s) {
    const Outcome every = Replay(s, true);
    const Outcome woken = Replay(s, false);
    ExpectSameOutcome(woken, every);
    // Not a vacuous comparison: several batches, something published.
    EXPECT_GT(every.batches.size(), 2u);
}

}  // namespace

TEST(DirectoryTreeBuilderIncremental, SameBatchesAndTreesAsClimbingEveryPendingNode) {
    setenv("HOME", "/d3", 1);  // a ".Trash" below folder d3 is the user's trash
    const struct {
        _tagSearcherType type;
        _SCAN_TYPE scan;
    } kinds[] = {{SEARCHER_FAT, SCAN_QUICK},  {SEARCHER_FAT, SCAN_DEEP},     {SEARCHER_NTFS, SCAN_DEEP},
                 {SEARCHER_APFS, SCAN_QUICK}, {SEARCHER_HFSPLUS, SCAN_DEEP}, {SEARCHER_EXFAT, SCAN_QUICK}};
    unsigned seed = 1;
    for (const auto& kind : kinds) {
        for (int round = 0; round < 3; ++round, ++seed) {
            SCOPED_TRACE("type " + std::to_string(int(kind.type)) + " seed " + std::to_string(seed));
            ExpectSame(MakeScript(seed, kind.type, kind.scan, 60 + 40 * round, 3000 + 1500 * round));
        }
    }
    unsetenv("HOME");
}

// The shape of a quick scan of a large volume: many existing files that a quick scan never links, and some
// deleted folders and files. Same results, and the climbs stay proportional to the nodes rather than to
// nodes times builds. Where the folders come first (a walk of the folders), the existing files in live
// folders are released as they come; where each folder comes after its files (a walk of a file table),
// they wait to the end.
TEST(DirectoryTreeBuilderIncremental, QuickScanOfManyExistingFilesClimbsEachNodeAFewTimes) {
    const int folders = 200, perFolder = 150;
    for (const bool foldersFirst : {true, false}) {
        SCOPED_TRACE(foldersFirst ? "folders first" : "each folder after its files");
        Script s{SEARCHER_FAT, SCAN_QUICK, 2, {}};
        i64 tag = 1;
        int liveInLiveFolders = 0;
        for (int d = 0; d < folders; ++d) {
            Event e;
            e.id = 10 + d;
            e.parent = 2;
            e.dir = true;
            e.deleted = d % 25 == 0;
            e.name = "folder" + std::to_string(d);
            e.tag = tag++;
            if (foldersFirst) s.events.push_back(e);
            for (int f = 0; f < perFolder; ++f) {
                Event file;
                file.id = 100000 + d * perFolder + f;
                file.parent = e.id;
                file.size = 20;
                file.deleted = e.deleted || f % 50 == 0;
                file.name = "file" + std::to_string(file.id);
                file.tag = tag++;
                s.events.push_back(file);
                if (!file.deleted) ++liveInLiveFolders;
            }
            if (!foldersFirst) s.events.push_back(e);
        }
        s.events.push_back(Op('F'));
        ExpectSame(s);

        auto climbs = [&s](bool every, size_t* released) {
            RecordingTree tree;
            CRecoveryFilter filter;
            filter.SetFilterTypes(FILTER_ALL);
            filter.SetScanType(SCAN_QUICK);
            CDirectoryTreeBuilder builder(false);
            builder.SetClock([] { return i64(0); }, [](int) {});
            builder.SetClimbEveryPending(every);
            builder.Initialize("Dev", &tree, &filter);
            builder.AddSearcherInfo(s.type, s.rootId);
            for (const Event& e : s.events) {
                if (e.op == 'F') {
                    builder.FlashBuild(s.type);
                    continue;
                }
                auto* node = new SimpleFileNode(e.id, e.parent, e.name, e.dir, e.size);
                node->Deleted(e.deleted).Times(e.tag, 0);
                if (!builder.AddNode(node, s.type)) node->Release();
            }
            *released = builder.ReleasedFileCount();
            return builder.ClimbCount();
        };
        const u64 nodes = u64(folders) * (perFolder + 1);
        size_t released = 0, releasedEvery = 0;
        const u64 woken = climbs(false, &released), every = climbs(true, &releasedEvery);
        // Once on arrival, and a few passes over everything while flushing.
        EXPECT_LE(woken, 5 * nodes);
        EXPECT_EQ(released, releasedEvery);
        if (foldersFirst) {
            EXPECT_EQ(released, size_t(liveInLiveFolders));
        } else {
            EXPECT_EQ(released, 0u);
            EXPECT_GT(every, 10 * nodes);  // about nodes²/2048 with a build every 1024 nodes
        }
    }
}

// A quick scan releases the live files that nothing will list as they come: the trees and the batches
// (which nodes, in which order, in which publish) are those of a scan that keeps every node to the end,
// over random scans of each file system with folders found twice, deleted, under deleted or missing
// folders, in cycles, trash and recycle-bin folders, duplicates and copies on another partition. Only
// the answers of the released files differ (0: the caller releases them).
TEST(DirectoryTreeBuilderIncremental, ReleasingLiveFilesChangesNoTreeAndNoBatch) {
    setenv("HOME", "/d3", 1);
    unsigned seed = 500;
    for (_tagSearcherType type : {SEARCHER_FAT, SEARCHER_NTFS, SEARCHER_EXFAT, SEARCHER_HFSPLUS}) {
        for (int round = 0; round < 3; ++round, ++seed) {
            SCOPED_TRACE("type " + std::to_string(int(type)) + " seed " + std::to_string(seed));
            // Quick searchers register their root once.
            const Script s = MakeScript(seed, type, SCAN_QUICK, 60 + 60 * round, 3000 + 2000 * round, false);
            const Outcome released = Replay(s, false, {}, true);
            const Outcome kept = Replay(s, false, {}, false);
            EXPECT_EQ(released.trees, kept.trees);
            ASSERT_EQ(released.batches.size(), kept.batches.size());
            for (size_t i = 0; i < kept.batches.size(); ++i)
                EXPECT_EQ(released.batches[i], kept.batches[i]) << "batch " << i;
            EXPECT_EQ(released.sleeps, kept.sleeps);
            EXPECT_EQ(kept.released, 0u);
            // Not vacuous: files were released, and every one answered 0 where it had answered 1.
            EXPECT_GT(released.released, 0u);
            size_t changed = 0;
            ASSERT_EQ(released.answers.size(), kept.answers.size());
            for (size_t i = 0; i < kept.answers.size(); ++i) {
                if (released.answers[i] == kept.answers[i]) continue;
                EXPECT_EQ(released.answers[i], 0);
                ++changed;
            }
            EXPECT_EQ(changed, released.released);
        }
    }
    unsetenv("HOME");
}

// The node-count hint only makes room: whatever the count (none, too few, exact, far too many, more than
// the builder ever reserves), the answers, batches, trees and owned nodes are those of a build without it.
TEST(DirectoryTreeBuilderIncremental, TheNodeCountHintChangesNothing) {
    setenv("HOME", "/d3", 1);
    const struct {
        _tagSearcherType type;
        _SCAN_TYPE scan;
    } kinds[] = {{SEARCHER_NTFS, SCAN_DEEP}, {SEARCHER_EXFAT, SCAN_QUICK}, {SEARCHER_HFSPLUS, SCAN_DEEP}};
    unsigned seed = 100;
    for (const auto& kind : kinds) {
        const Script s = MakeScript(seed++, kind.type, kind.scan, 80, 4000);
        const Outcome plain = Replay(s, false);
        EXPECT_GT(plain.batches.size(), 2u);
        const u64 adds = u64(std::count_if(s.events.begin(), s.events.end(), [](const Event& e) { return e.op == 'A'; }));
        for (const u64 count : {u64(0), u64(1), adds / 3, adds, 10 * adds, ~u64(0)}) {
            SCOPED_TRACE("type " + std::to_string(int(kind.type)) + " hint " + std::to_string(count));
            ExpectSameOutcome(Replay(s, false, {true, count}), plain);
        }
        SCOPED_TRACE("every pending node climbed, with a hint");
        ExpectSameOutcome(Replay(s, true, {true, adds}), plain);
    }
    unsetenv("HOME");
}
