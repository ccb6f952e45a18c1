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
        // 32 KiB nodes with long steps: offsets above 0x7FFF.
        const u32 size = round % 4 == 3 ? 32768 : (round % 2 ? 512 : 1024);
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
            offset += 1 + u32(random() % (size == 32768 ? 1100 : 8));
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

// Searches while the tree keeps the nodes it read (the journal scan's run of searches) answer as the
// plain search on every key: present, absent, in another case, between and past the keys; on a clean
// tree (keys found by halving), on nodes whose keys do not ascend (read in order) and on a leaf with a
// key that does not decode (the search fails where the plain one fails).
TEST(HfsPlusBTree, KeptNodesAnswerAsThePlainSearch) {
    hfs::Layout layout;
    hfs::Options options;
    options.totalBlocks = 1024;
    options.maxLeafRecords = 5;
    hfs::Writer writer(options);
    for (int i = 0; i < 40; ++i) {
        hfs::Entry e;
        e.path = (i % 2 ? "Folder/File " : "other/file ") + std::to_string(100 + i) + ".txt";
        e.data = hfs::TextContent(e.path, 10);
        writer.Add(e);
    }
    const std::vector<u8> clean = writer.Build(&layout);
    ASSERT_GE(layout.catalogLeaves.size(), 8u);
    ASSERT_GE(layout.catalogIndexNodes.size(), 2u);
    // The byte of the key of record `index` of catalog node `node`.
    const auto keyAt = [&](u32 node, u16 index) {
        const size_t base = layout.catalogByte + size_t(node) * layout.catalogNodeSize;
        CHFSPlusBTNode view(clean.data() + base, layout.catalogNodeSize, false);
        return size_t(view.GetRecord(index)->data() - clean.data());
    };
    const u32 leaf = layout.catalogLeaves[layout.catalogLeaves.size() / 2];
    const u32 index = layout.catalogIndexNodes.front();
    struct Case {
        const char* what;
        size_t at;
        size_t byteOffset;
        u32 value;
        bool be16;
    } cases[] = {
        {"clean", 0, 0, 0, false},
        {"a leaf key raised above the keys after it", keyAt(leaf, 1), f::catkey::kParentID, 0xFFFF0000u, false},
        {"a leaf key lowered below the keys before it", keyAt(leaf, 3), f::catkey::kParentID, 0, false},
        {"an index key raised above the keys after it", keyAt(index, 0), f::catkey::kParentID, 0xFFFF0000u, false},
        {"a leaf key that does not decode", keyAt(leaf, 2), f::catkey::kKeyLength, 0xFFF0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> image = clean;
        if (c.at != 0) {
            if (c.be16)
                ByteWriter(image).Be16(c.at + c.byteOffset, u16(c.value));
            else
                ByteWriter(image).Be32(c.at + c.byteOffset, c.value);
        }
        auto device = VolumeDevice(image, 4096);
        CHFSPlusVolume volume(device.get(), false);
        ASSERT_TRUE(volume.IsOpen());
        CHFSPlusCatalog* catalog = volume.GetCatalogTree();

        // The keys of every record of every leaf, and keys around each.
        std::vector<BTKey> keys;
        for (u32 n : layout.catalogLeaves) {
            CHFSPlusBTNode node(std::vector<u8>(image.begin() + i64(layout.catalogByte + size_t(n) * layout.catalogNodeSize),
                                                image.begin() + i64(layout.catalogByte + size_t(n + 1) * layout.catalogNodeSize)));
            for (u16 i = 0; i < node.GetRecordCount(); ++i) {
                BTKey key;
                if (!catalog->KeyReadInto(&node, i, key)) continue;
                keys.push_back(key);
                BTKey other = key;
                for (u16 u = 0; u < other.nameLength; ++u)
                    if (other.name[u] >= u'a' && other.name[u] <= u'z') other.name[u] = u16(other.name[u] - 32);
                keys.push_back(other);
                other = key;
                if (other.nameLength < 255) other.name[other.nameLength++] = u'~';
                keys.push_back(other);
                other = key;
                if (other.nameLength > 0) --other.nameLength;
                keys.push_back(other);
                other = key;
                ++other.parentID;
                keys.push_back(other);
            }
        }
        keys.push_back(CatalogKey(0, u""));
        keys.push_back(CatalogKey(0xFFFFFFFF, u"zzz"));
        ASSERT_GT(keys.size(), 300u);

        struct Answer {
            u64 code;
            HFSPlusSearchResult result;
            u32 id;
            bool operator==(const Answer& o) const {
                return code == o.code && result.nodeNumber == o.result.nodeNumber &&
                       result.recordIndex == o.result.recordIndex && result.found == o.result.found && id == o.id;
            }
        };
        const auto ask = [&](const BTKey& key) {
            Answer a{};
            a.result = {7, 7, 7};
            BTRecordPtr record;
            a.code = catalog->Search(key, a.result, &record);
            a.id = record ? record->catalog.CatalogNodeID() : 0xFFFFFFFFu;
            return a;
        };
        std::vector<Answer> plain;
        for (const BTKey& key : keys) plain.push_back(ask(key));
        size_t found = 0, failed = 0;
        for (const Answer& a : plain) {
            found += a.result.found;
            failed += result::IsFailure(a.code) ? 1 : 0;
        }
        EXPECT_GT(found, 60u);
        if (std::string(c.what) == "a leaf key that does not decode") {
            EXPECT_GT(failed, 0u);
        }

        catalog->KeepSearchedNodes(true);
        // Twice: once as the nodes are read, once from the kept ones; in reverse order too.
        for (int round = 0; round < 2; ++round)
            for (size_t i = 0; i < keys.size(); ++i) EXPECT_TRUE(ask(keys[i]) == plain[i]) << "key " << i;
        catalog->KeepSearchedNodes(false);
        catalog->KeepSearchedNodes(true);
        for (size_t i = keys.size(); i-- > 0;) EXPECT_TRUE(ask(keys[i]) == plain[i]) << "key " << i;
        catalog->KeepSearchedNodes(false);
        for (size_t i = 0; i < keys.size(); ++i) EXPECT_TRUE(ask(keys[i]) == plain[i]) << "key " << i;
    }
}

// A key's name decoded eight units at a time equals the name taken unit by unit ('/' stored as ':',
// every other unit as it stands, zeros after the name) at every length and place of a '/', among units
// that differ from it in one byte only.
TEST(HfsPlusBTree, KeyNamesDecodeAsUnitByUnit) {
    std::mt19937 random(11);
    const u16 units[] = {u16('/'), u16(':'), 0x2F00, 0x2F2F, 0x012F, 0xFFFF, u16('a'), 0x00E9, 0xD83D, 0};
    for (u16 length = 0; length <= 255; length += (length < 40 ? 1 : 17)) {
        for (int round = 0; round < 6; ++round) {
            SCOPED_TRACE(testing::Message() << "length " << length << " round " << round);
            std::vector<u16> name(length);
            for (u16& u : name) u = round == 0 ? u16('/') : units[random() % std::size(units)];
            std::vector<u8> b(8 + 2 * size_t(length), 0);
            ByteWriter w(b);
            w.Be16(f::catkey::kKeyLength, u16(b.size() - 2));
            w.Be32(f::catkey::kParentID, 77);
            w.Be16(f::catkey::kNameLength, length);
            for (size_t i = 0; i < length; ++i) w.Be16(f::catkey::kName + 2 * i, name[i]);
            BTKey key;
            key.name.fill(0x5555);
            ASSERT_TRUE(f::DecodeCatalogKey(ByteReader(b.data(), b.size()), key));
            ASSERT_EQ(key.nameLength, length);
            for (size_t i = 0; i < key.name.size(); ++i) {
                const u16 expected = i < length ? (name[i] == u16('/') ? u16(':') : name[i]) : 0;
                ASSERT_EQ(key.name[i], expected) << "unit " << i;
            }
        }
    }
}

// A catalog key decoded over one that held another (a walk reuses one key) equals a fresh decode, name
// tail and all; a key that does not decode leaves what a fresh failed decode leaves.
TEST(HfsPlusBTree, AKeyDecodedOverAnotherEqualsAFreshOne) {
    const auto bytes = [](u32 parent, const std::u16string& name, u16 claimedUnits) {
        std::vector<u8> b(8 + 2 * name.size(), 0);
        ByteWriter w(b);
        w.Be16(f::catkey::kKeyLength, u16(b.size() - 2));
        w.Be32(f::catkey::kParentID, parent);
        w.Be16(f::catkey::kNameLength, claimedUnits);
        for (size_t i = 0; i < name.size(); ++i) w.Be16(f::catkey::kName + 2 * i, u16(name[i]));
        return b;
    };
    const auto same = [](const BTKey& a, const BTKey& b) {
        return a.keyLength == b.keyLength && a.parentID == b.parentID && a.forkType == b.forkType &&
               a.fileID == b.fileID && a.startBlock == b.startBlock && a.nameLength == b.nameLength && a.name == b.name;
    };
    const std::vector<std::vector<u8>> keys{
        bytes(16, u"a much longer name than the next one", 36), bytes(17, u"short", 5), bytes(2, u"", 0),
        bytes(18, u"claims more units than it holds", 40), bytes(19, u"x/y", 3)};
    for (const auto& before : keys) {
        for (const auto& key : keys) {
            BTKey reused, fresh;
            reused.forkType = 3;
            reused.fileID = 7;
            reused.startBlock = 9;
            f::DecodeCatalogKey(ByteReader(before.data(), before.size()), reused);
            const bool a = f::DecodeCatalogKey(ByteReader(key.data(), key.size()), reused);
            const bool b = f::DecodeCatalogKey(ByteReader(key.data(), key.size()), fresh);
            EXPECT_EQ(a, b);
            EXPECT_TRUE(same(reused, fresh));
        }
    }
}
