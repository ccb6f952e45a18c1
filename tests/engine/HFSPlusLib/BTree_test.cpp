// B-tree search and walk over writer images: results below and above every key, exact finds, and the
// damage that must end a search or walk instead of looping (a child pointing to itself or to a node
// above it, a key length past the node).
#include <gtest/gtest.h>

#include <random>

#include "engine/HFSPlusLib/HFSPlusQuickSearchProgress.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HfsTestSupport.h"
#include "support/RecordingProgress.h"

using namespace hfstest;
namespace hfs = testsupport::hfs;
namespace f = hfsplus;

namespace {

// A catalog three levels deep: leaves of two records under index nodes of two records.
std::vector<u8> DeepCatalog(hfs::Layout& layout) {
    hfs::Options options;
    options.totalBlocks = 512;
    options.maxLeafRecords = 2;
    hfs::Writer writer(options);
    for (int i = 0; i < 12; ++i) {
        hfs::Entry e;
        e.path = "folder/file " + std::to_string(100 + i) + ".txt";
        e.data = hfs::TextContent(e.path, 100);
        writer.Add(e);
    }
    return writer.Build(&layout);
}

// The byte of the child pointer of record `index` of catalog node `node`.
size_t ChildPointer(const std::vector<u8>& image, const hfs::Layout& layout, u32 node, u16 index) {
    const size_t base = layout.catalogByte + size_t(node) * layout.catalogNodeSize;
    CHFSPlusBTNode view(image.data() + base, layout.catalogNodeSize, false);
    const auto record = view.GetRecord(index);
    return size_t(record->data() - image.data()) + record->Be16(0).value() + 2;
}

struct Walk {
    RecordingBuilder builder;
    testsupport::RecordingProgress progress;
    u64 code = 0;
    explicit Walk(CHFSPlusVolume& volume, bool withProgress = true) {
        builder.AddSearcherInfo(SEARCHER_HFSPLUS, 2);
        CHFSPlusQuickFileSystemSearchProgress adapter(withProgress ? &progress : nullptr, true);
        code = volume.Traverse(f::kCatalogFileID, &builder, withProgress ? &adapter : nullptr);
    }
};

}  // namespace

TEST(HfsPlusBTree, SearchBelowAboveAndAtEveryKey) {
    hfs::Layout layout;
    auto device = VolumeDevice(DeepCatalog(layout), 4096);
    CHFSPlusVolume volume(device.get(), false);
    ASSERT_TRUE(volume.IsOpen());
    ASSERT_GE(volume.GetCatalogTree()->GetHeaderRec()->treeDepth, 3);

    HFSPlusSearchResult result{7, 7, 7};
    BTRecordPtr record;
    EXPECT_EQ(volume.Search(f::kCatalogFileID, CatalogKey(0, u""), result, &record), 0u);
    EXPECT_EQ(result.nodeNumber, layout.catalogLeaves.front());
    EXPECT_EQ(result.recordIndex, 0);
    EXPECT_EQ(result.found, 0);
    EXPECT_EQ(record, nullptr);

    result = {7, 7, 7};
    EXPECT_EQ(volume.Search(f::kCatalogFileID, CatalogKey(0xFFFFFFFF, u"zzz"), result, &record), 0u);
    EXPECT_EQ(result.nodeNumber, 0u);
    EXPECT_EQ(result.recordIndex, 0);
    EXPECT_EQ(result.found, 0);

    // Every listed record is found under its own key, with its own ID.
    Walk walk(volume);
    ASSERT_EQ(walk.code, 0u);
    ASSERT_EQ(walk.builder.m_nodes.size(), 15u);  // the root, the private folder, "folder" and its 12 files
    for (IFileNode* node : walk.builder.m_nodes) {
        std::u16string name;
        for (char c : std::string(node->GetFileName())) name.push_back(char16_t(u8(c)));
        if (node->GetCurrentNodeID() == 16) name = std::u16string(4, u'\0') + name;
        EXPECT_EQ(volume.Search(f::kCatalogFileID, CatalogKey(u32(node->GetParentNodeID()), name), result, &record), 0u);
        ASSERT_EQ(result.found, 1) << node->GetFileName();
        EXPECT_EQ(record->catalog.CatalogNodeID(), u32(node->GetCurrentNodeID()));
    }
    // Other special files are refused; an empty tree (root 0) leaves the result as it was.
    EXPECT_EQ(result::KindOf(volume.Search(6, CatalogKey(1, u""), result, nullptr)), f::kKindUnsupported);
    BTKey extentKey;
    extentKey.fileID = 99;
    result = {7, 7, 7};
    EXPECT_FALSE(result::IsFailure(volume.Search(f::kExtentsFileID, extentKey, result, nullptr)));
    EXPECT_EQ(result.nodeNumber, 7u);
}

TEST(HfsPlusBTree, AWalkWithoutProgressAddsNothingAndAStopEndsIt) {
    hfs::Layout layout;
    auto device = VolumeDevice(DeepCatalog(layout), 4096);
    CHFSPlusVolume volume(device.get(), false);
    Walk silent(volume, false);
    EXPECT_TRUE(silent.builder.m_nodes.empty());

    RecordingBuilder builder;
    builder.AddSearcherInfo(SEARCHER_HFSPLUS, 2);
    testsupport::RecordingProgress progress;
    progress.StopAfter(0);
    CHFSPlusQuickFileSystemSearchProgress adapter(&progress, true);
    EXPECT_EQ(result::KindOf(volume.Traverse(f::kCatalogFileID, &builder, &adapter)), f::kKindStopped);
    EXPECT_TRUE(builder.m_nodes.empty());
    EXPECT_EQ(result::KindOf(volume.Traverse(f::kExtentsFileID, &builder, &adapter)), f::kKindUnsupported);
}

TEST(HfsPlusBTree, LoopsInTheTreeEndSearchAndWalkWithAnError) {
    hfs::Layout layout;
    const std::vector<u8> clean = DeepCatalog(layout);
    const u32 root = layout.catalogRoot;
    // An index node below the root: the first child of the root.
    const u32 below = ByteReader(clean).Be32(ChildPointer(clean, layout, root, 0)).value();
    ASSERT_NE(std::find(layout.catalogIndexNodes.begin(), layout.catalogIndexNodes.end(), below),
              layout.catalogIndexNodes.end());
    struct Case {
        const char* what;
        u32 node;
        u32 target;
    } cases[] = {
        {"the root's first child is the root", root, root},
        {"a child points to its parent", below, root},
        {"a child points to itself", below, below},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> image = clean;
        ByteWriter(image).Be32(ChildPointer(image, layout, c.node, 0), c.target);
        auto device = VolumeDevice(image, 4096);
        CHFSPlusVolume volume(device.get(), false);
        ASSERT_TRUE(volume.IsOpen());
        HFSPlusSearchResult result;
        EXPECT_EQ(result::KindOf(volume.Search(f::kCatalogFileID, CatalogKey(0, u""), result, nullptr)), f::kKindBadData);
        Walk walk(volume);
        EXPECT_EQ(result::KindOf(walk.code), f::kKindBadData);
    }
}

TEST(HfsPlusBTree, AKeyLengthPastItsNodeIsRefused) {
    hfs::Layout layout;
    std::vector<u8> image = DeepCatalog(layout);
    const u32 leaf = layout.catalogLeaves.back();
    const size_t base = layout.catalogByte + size_t(leaf) * layout.catalogNodeSize;
    CHFSPlusBTNode view(image.data() + base, layout.catalogNodeSize, false);
    const size_t keyAt = size_t(view.GetRecord(u16(0))->data() - image.data());
    ByteWriter(image).Be16(keyAt, 0xFFF0);
    auto device = VolumeDevice(image, 4096);
    CHFSPlusVolume volume(device.get(), false);
    ASSERT_TRUE(volume.IsOpen());

    CHFSPlusBTNode node(std::vector<u8>(image.begin() + base, image.begin() + base + layout.catalogNodeSize));
    ASSERT_TRUE(node.IsValid());
    EXPECT_EQ(volume.GetCatalogTree()->KeyRead(&node, 0), nullptr);
    EXPECT_EQ(volume.GetCatalogTree()->DataRead(&node, 0), nullptr);
    Walk walk(volume);
    EXPECT_EQ(result::KindOf(walk.code), f::kKindBadData);
    // What came before the damaged leaf is kept.
    EXPECT_GE(walk.builder.m_nodes.size(), 10u);
}

// The node test on nodes whose offset tables are valid or broken in one place (two offsets equal or
// swapped, one past the table, the last one right at or one past the table, too many records): the
// same answer as the rule read record by record (each offset above the one before, below its own
// table entry).
TEST(HfsPlusBTree, NodeTestTakesEveryOffsetOfTheTable) {
    const auto byRecords = [](const std::vector<u8>& node) {
        const u32 size = u32(node.size());
        const ByteReader b(node.data(), node.size());
        const u32 count = b.Be16(f::node::kNumRecords).value_or(0);
        u32 previous = 0;
        for (u32 i = 0; i <= count; ++i) {
            const i64 at = i64(size) - 2 * (i64(i) + 1);
            if (at < i64(f::node::kDescriptorSize)) return false;
            const u32 offset = b.Be16(size_t(at)).value_or(0);
            if (i == 0 ? offset != f::node::kDescriptorSize : (offset <= previous || offset > u32(at))) return false;
            previous = offset;
        }
        return true;
    };
    std::mt19937 random(5);
    size_t valid = 0;
    for (int round = 0; round < 4000; ++round) {
        const u32 size = round % 2 ? 512 : 1024;
        std::vector<u8> node(size, 0);
        const u32 count = u32(random() % (round % 7 == 0 ? 600 : 60));
        node[f::node::kKind] = u8(f::node::kKindLeaf);
        node[f::node::kHeight] = 1;
        node[f::node::kNumRecords] = u8(count >> 8);
        node[f::node::kNumRecords + 1] = u8(count);
        // Offsets that grow by 1 to 8 bytes from 14, written at the node's end (while they fit).
        u32 offset = f::node::kDescriptorSize;
        for (u32 i = 0; i <= count && 2 * (i + 1) <= size; ++i) {
            node[size - 2 * (i + 1)] = u8(offset >> 8);
            node[size - 2 * (i + 1) + 1] = u8(offset);
            offset += 1 + u32(random() % 8);
        }
        const u32 broken = count ? u32(random() % (count + 1)) : 0;
        const size_t at = size - 2 * (broken + 1);
        if (2 * (broken + 1) <= size - f::node::kDescriptorSize) {
            // Equal to the one before, past the table, swapped with the next.
            if (round % 5 == 1 && broken > 0)
                std::copy(node.begin() + i64(at) + 2, node.begin() + i64(at) + 4, node.begin() + i64(at));
            if (round % 5 == 2) node[at] = 0xFF;
            if (round % 5 == 3) std::swap(node[at + 1], node[at - 1]);
        }
        // The last offset right at the table (allowed) or one past it.
        if (round % 5 == 4 && 2 * (count + 1) <= size - f::node::kDescriptorSize) {
            const u32 table = size - 2 * (count + 1) + (round % 10 == 4 ? 0 : 1);
            node[size - 2 * (count + 1)] = u8(table >> 8);
            node[size - 2 * (count + 1) + 1] = u8(table);
        }
        SCOPED_TRACE(testing::Message() << "round " << round << " records " << count);
        const bool expected = byRecords(node);
        valid += expected ? 1 : 0;
        ASSERT_EQ(CHFSPlusBTNode::IsValidNode(node.data(), size), expected);
    }
    EXPECT_GT(valid, 500u);
    EXPECT_LT(valid, 3500u);
}
