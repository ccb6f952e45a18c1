// The merge of records offered block by block, on tree nodes built here: records met again far apart,
// a second node for one identifier, and flushes that only look at what can have changed.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/APFS/APFSContainer.h"
#include "engine/APFS/APFSDelegate.h"
#include "engine/APFS/APFSFileNode.h"
#include "engine/Common/ByteReader.h"
#include "support/CapturingTreeBuilder.h"

namespace {

constexpr u64 kTime = 1622548800ULL * 1000000000ULL;  // 2021-06-01

// A file-system tree leaf (type 3, subtype 14) with records appended in the order given.
class Leaf {
public:
    explicit Leaf(u64 oid) : m_block(4096, 0) {
        ByteWriter w(m_block.data(), m_block.size());
        w.Le64(8, oid);
        w.Le16(24, 3);
        w.Le16(28, 14);
        w.Le16(32, 2);  // a leaf
        w.Le16(42, 8 * 64);
    }
    Leaf& Inode(u64 oid, u64 parent, const std::string& name, bool folder, u64 size = 0) {
        std::string value(92, '\0');
        Put(value, 0, parent);
        Put(value, 8, oid);
        for (size_t at = 16; at <= 40; at += 8) Put(value, at, kTime);
        const u16 mode = folder ? 0x41ED : 0x81A4;
        std::memcpy(&value[80], &mode, 2);
        const std::string named = name + '\0';
        const size_t nameRound = (named.size() + 7) & ~size_t{7};
        const u16 fields = size ? 2 : 1;
        value += std::string(4 + 4 * fields, '\0');
        std::memcpy(&value[92], &fields, 2);
        const u16 nameHead = 0x0204, nameSize = static_cast<u16>(named.size());
        std::memcpy(&value[96], &nameHead, 2);
        std::memcpy(&value[98], &nameSize, 2);
        if (size) {
            const u16 head = 0x2008, length = 40;
            std::memcpy(&value[100], &head, 2);
            std::memcpy(&value[102], &length, 2);
        }
        value += named + std::string(nameRound - named.size(), '\0');
        if (size) {
            std::string stream(40, '\0');
            Put(stream, 0, size);
            value += stream;
        }
        return Add(Key(oid, 0x3), value);
    }
    Leaf& Directory(u64 parent, const std::string& name, u64 file, bool folder) {
        std::string key = Key(parent, 0x9) + std::string(4, '\0') + name + '\0';
        const u32 length = static_cast<u32>(name.size() + 1);
        std::memcpy(&key[8], &length, 4);
        std::string value(18, '\0');
        Put(value, 0, file);
        Put(value, 8, kTime);
        const u16 type = folder ? 4 : 8;
        std::memcpy(&value[16], &type, 2);
        return Add(key, value);
    }
    const u8* data() const { return m_block.data(); }

private:
    static void Put(std::string& bytes, size_t at, u64 v) { std::memcpy(&bytes[at], &v, 8); }
    static std::string Key(u64 oid, u64 kind) {
        std::string key(8, '\0');
        Put(key, 0, oid | (kind << 60));
        return key;
    }
    Leaf& Add(const std::string& key, const std::string& value) {
        EXPECT_LE(56 + 8 * 64 + m_keyUsed + key.size() + m_valueUsed + value.size(), 4096u) << "the leaf is full";
        ByteWriter w(m_block.data(), m_block.size());
        const size_t entry = 56 + 8 * m_count;
        m_valueUsed += value.size();
        w.Le16(entry, static_cast<u16>(m_keyUsed));
        w.Le16(entry + 2, static_cast<u16>(key.size()));
        w.Le16(entry + 4, static_cast<u16>(m_valueUsed));
        w.Le16(entry + 6, static_cast<u16>(value.size()));
        w.Bytes(56 + 8 * 64 + m_keyUsed, key.data(), key.size());
        w.Bytes(4096 - m_valueUsed, value.data(), value.size());
        m_keyUsed += key.size();
        w.Le32(36, static_cast<u32>(++m_count));
        return *this;
    }
    std::vector<u8> m_block;
    size_t m_count = 0, m_keyUsed = 0, m_valueUsed = 0;
};

// A delegate that counts the continue tests (one per record and per node a flush looks at).
struct Delegate : APFSDelegate {
    bool ContinueScan() override {
        ++asked;
        return true;
    }
    int PublishNode(APFSFileNode* node) override { return builder.AddNode(node, SEARCHER_APFS); }
    int ReadBlocks(APFSContainer*, u64, i32, u8*) override { return 0; }
    testsupport::CapturingTreeBuilder builder;
    int asked = 0;
};

// A container known by its volume, its walk done: what the blocks give is deleted.
struct Offered {
    Offered() : container(&delegate, 0, 0) {
        delegate.builder.AddSearcherInfo(SEARCHER_APFS, 2);
        container.SetSectorSize(512);
        container.SetVolumeOnly(u64{1} << 24);
        container.SetWalked();
    }
    void Offer(u64 block, const Leaf& leaf) { container.AnalyzeBlock(block * 8, block, leaf.data()); }
    std::vector<IFileNode*> Named(const std::string& name) const {
        std::vector<IFileNode*> out;
        for (const auto& [node, type] : delegate.builder.accepted)
            if (name == node->GetFileName()) out.push_back(node);
        return out;
    }
    Delegate delegate;  // the builder outlives the container
    APFSContainer container;
};

TEST(ApfsRecords, AFileWaitingForItsFolderIsLookedAtAgainOnlyWhenTheFolderAppears) {
    Offered scan;
    Leaf files(1000);
    for (int i = 0; i < 15; ++i) files.Inode(100 + i, 500, "file" + std::to_string(i), false, 10);
    scan.Offer(100, files);
    EXPECT_EQ(scan.container.PendingCount(), 15u);
    scan.delegate.asked = 0;
    scan.container.Flush(101);
    EXPECT_EQ(scan.delegate.asked, 15);
    // Flushes after later ranges do not walk the 15 again while their folder is missing.
    for (int range = 0; range < 500; ++range) scan.container.Flush(200 + range);
    EXPECT_EQ(scan.delegate.asked, 15);
    EXPECT_TRUE(scan.delegate.builder.accepted.empty());

    Leaf folder(1001);
    folder.Inode(500, 2, "Folder", true);
    scan.Offer(9000, folder);
    scan.container.Flush(9001);
    EXPECT_EQ(scan.container.PendingCount(), 0u);
    ASSERT_EQ(scan.delegate.builder.accepted.size(), 16u);
    for (const auto& entry : scan.delegate.builder.List(SEARCHER_APFS)) {
        EXPECT_TRUE(entry.deleted);
        if (!entry.directory) {
            EXPECT_EQ(entry.path.rfind("Folder/file", 0), 0u) << entry.path;
        }
    }
}

TEST(ApfsRecords, TheFinalFlushHandsOverAFileWhoseFolderNeverCame) {
    Offered scan;
    Leaf lost(1000);
    lost.Inode(100, 700, "lost.bin", false, 10);
    scan.Offer(50, lost);
    scan.container.Flush(51);
    EXPECT_TRUE(scan.delegate.builder.accepted.empty());
    scan.container.Flush(-1);
    ASSERT_EQ(scan.delegate.builder.accepted.size(), 1u);
    EXPECT_EQ(scan.delegate.builder.accepted[0].first->GetParentNodeID(), 700) << "its parent ID stays set";
}

TEST(ApfsRecords, RecordsOfOneFileMetFarApartUpdateOneNode) {
    Offered scan;
    Leaf first(1000), again(1001), moved(1002);
    first.Directory(2, "same.txt", 60, false).Inode(60, 2, "same.txt", false, 10);
    again.Directory(2, "same.txt", 60, false).Inode(60, 2, "same.txt", false, 10);
    // The same identifier under another parent and name: its nearest candidate has a parent, so a
    // second node, whose ID comes from the container's counter.
    moved.Inode(60, 3, "other.txt", false, 10);
    scan.Offer(10, first);
    scan.Offer(900000, again);
    scan.Offer(900001, moved);
    scan.container.Flush(-1);
    const auto same = scan.Named("same.txt");
    ASSERT_EQ(same.size(), 1u);
    EXPECT_EQ(same[0]->GetCurrentNodeID(), 60);
    const auto other = scan.Named("other.txt");
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(u64(other[0]->GetCurrentNodeID()),
              APFSContainer::kDuplicateIdBase | APFSContainer::kDuplicateIdLowBit | 1);
}

// Never-ready files (their folder never comes), as a damaged disk gives them by the ten thousand: a
// node costs the same however many came before it.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

TEST(ApfsRecords, ManyWaitingFilesCostTheSameEachAsFew) {
    const auto seconds = [](int files, int runs) {
        double best = 1e9;
        for (int run = 0; run < runs; ++run) {
            Offered scan;
            std::vector<Leaf> leaves;
            leaves.reserve(64);
            // The thread's own processor time: a loaded machine's waits do not count.
            const double start = ThreadSeconds();
            for (int i = 0; i < files; ++i) {
                if (leaves.size() == 64) leaves.clear();
                leaves.emplace_back(100000 + i);
                leaves.back().Inode(1000000 + i, 5000000 + i, "waiting " + std::to_string(i), false, 10);
                scan.Offer(10 + u64(i) * 2, leaves.back());
                if (i % 64 == 63) scan.container.Flush(11 + i * 2);
            }
            best = std::min(best, ThreadSeconds() - start);
            EXPECT_EQ(scan.container.PendingCount(), size_t(files));
        }
        return best;
    };
    const double few = seconds(2000, 5);
    // 32 times the files: about 32 times the time when each costs the same, about a thousand times when
    // every new file moves the whole waiting table. The wide margin keeps a loaded machine from failing it.
    const double many = seconds(64000, 3);
    EXPECT_LT(many / few, 200.0) << few << " s for 2,000 files, " << many << " s for 64,000";
}

TEST(ApfsRecords, APlausibleTimeLiesBetween1985And2029) {
    const struct {
        u64 seconds;
        bool plausible;
    } cases[] = {
        {0, false},         {499999999, false},  {500000000, true},   {1622548800, true},
        {1873497444, true}, {1873497445, false}, {4000000000, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(APFSContainer::IsPlausibleTime(c.seconds * 1000000000ULL), c.plausible) << c.seconds;
}

}  // namespace
