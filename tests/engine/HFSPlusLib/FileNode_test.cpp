// File nodes from catalog keys and records, as one table of cases.
#include <gtest/gtest.h>

#include "engine/HFSPlusLib/HfsTestSupport.h"
#include "engine/Utility/IDataRunList.h"

using namespace hfstest;
namespace hfs = testsupport::hfs;
namespace f = hfsplus;

namespace {

HFSPlusCatalogRecord FileRecord(u32 id, u64 size, u32 blocks) {
    HFSPlusCatalogRecord r;
    r.recordType = f::catrec::kFile;
    r.file.fileID = id;
    r.file.createDate = 1;
    r.file.contentModDate = 2;
    r.file.accessDate = 3;
    r.file.dataFork.logicalSize = size;
    r.file.dataFork.totalBlocks = blocks;
    r.file.dataFork.extents[0] = {100, blocks};
    return r;
}

HFSPlusCatalogRecord FolderRecord(u32 id) {
    HFSPlusCatalogRecord r;
    r.recordType = f::catrec::kFolder;
    r.folder.folderID = id;
    r.folder.createDate = 10;
    return r;
}

size_t RunCount(CHFSPlusFileNode& node) {
    size_t n = 0;
    IDataRunList* runs = node.GetDataRunList();
    for (DataRun* r = runs ? runs->GetFirst() : nullptr; r; r = runs->GetNext()) ++n;
    return n;
}

}  // namespace

TEST(HfsPlusFileNode, FromKeysAndRecords) {
    auto device = VolumeDevice(FixtureBytes("plain"), 512);
    CHFSPlusVolume volume(device.get(), false);
    ASSERT_TRUE(volume.IsOpen());
    HFSPlusCatalogRecord hardLink = FileRecord(30, 0, 0);
    hardLink.file.fileType = f::file::kHardLinkType;
    hardLink.file.fileCreator = f::file::kHardLinkCreator;
    HFSPlusCatalogRecord alias = FileRecord(31, 0, 0);
    alias.file.fileType = f::file::kFolderAliasType;
    HFSPlusCatalogRecord thread;
    thread.recordType = f::catrec::kFileThread;
    struct Case {
        const char* what;
        BTKey key;
        HFSPlusCatalogRecord record;
        int deleted;
        i64 id;
        std::string name;
        i64 size;
        bool directory;
        bool markedDeleted;
        _FILETIME created;
    } cases[] = {
        {"a file", CatalogKey(20, u"a.txt"), FileRecord(40, 5, 1), 0, 40, "a.txt", 5, false, false,
         CHFSPlusFileNode::TimeConvert(1)},
        {"two leading zero units", CatalogKey(2, std::u16string(u"\0\0name", 6)), FileRecord(41, 5, 1), 0, 41, "name", 5, false, false,
         CHFSPlusFileNode::TimeConvert(1)},
        {"a ':' stands for a '/' on disk", CatalogKey(2, u"a:b"), FileRecord(42, 5, 1), 0, 42, "a:b", 5, false, false,
         CHFSPlusFileNode::TimeConvert(1)},
        {"a deleted file", CatalogKey(20, u"gone"), FileRecord(43, 5, 1), 1, 43, "gone", 5, false, true,
         CHFSPlusFileNode::TimeConvert(1)},
        {"no logical size: whole blocks", CatalogKey(20, u"blocks"), FileRecord(44, 0, 3), 0, 44, "blocks", 3 * 4096, false,
         false, CHFSPlusFileNode::TimeConvert(1)},
        {"a deleted root folder stays", CatalogKey(1, u"VOL"), FolderRecord(2), 1, 2, "VOL", 0, true, false,
         CHFSPlusFileNode::TimeConvert(10)},
        {"a deleted folder 17", CatalogKey(2, u"old"), FolderRecord(17), 1, 17, "old", 0, true, true,
         CHFSPlusFileNode::TimeConvert(10)},
        {"the root's parent makes no node", CatalogKey(0, u""), FolderRecord(1), 0, -1, "", 0, true, false, 0},
        {"a thread makes no node", CatalogKey(20, u""), thread, 0, -1, "", 0, false, false, 0},
        {"a deleted thread", CatalogKey(20, u""), thread, 1, -1, "", 0, false, true, 0},
        {"a hard link is shown as a folder", CatalogKey(2, u"link"), hardLink, 0, 30, "link", 0, true, false,
         CHFSPlusFileNode::TimeConvert(1)},
        {"a folder alias too", CatalogKey(2, u"alias"), alias, 0, 31, "alias", 0, true, false,
         CHFSPlusFileNode::TimeConvert(1)},
        {"no parent, no name, 2 GiB: bare", CatalogKey(0, u""), FileRecord(45, u64(2) << 30, 524288), 1, 45, "", i64(2) << 30,
         false, false, 0},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        CHFSPlusFileNode node(&volume, &c.key, &c.record, c.deleted);
        EXPECT_EQ(node.GetCurrentNodeID(), c.id);
        EXPECT_EQ(std::string(node.GetFileName()), c.name);
        EXPECT_EQ(node.GetFileSize(), c.size);
        EXPECT_EQ(node.IsDirectory() != 0, c.directory);
        EXPECT_EQ(node.IsDeleted() != 0, c.markedDeleted);
        EXPECT_EQ(node.GetCreationTime(), c.created);
        EXPECT_EQ(node.GetSearcheType(), SEARCHER_HFSPLUS);
        if (c.id > 0 && c.created) {
            EXPECT_EQ(node.GetParentNodeID(), i64(c.key.parentID));
            EXPECT_EQ(node.GetBelongedPartition(), 0);
            EXPECT_EQ(node.GetMetadataStartPosition(), 0);
        }
    }
    // The bare record keeps its ID, size and runs, and the status word it was born with.
    BTKey bareKey = CatalogKey(0, u"");
    HFSPlusCatalogRecord bare = FileRecord(45, u64(2) << 30, 524288);
    CHFSPlusFileNode node(&volume, &bareKey, &bare, 1);
    EXPECT_EQ(RunCount(node), 1u);
    EXPECT_EQ(node.GetStatusWord(), CFileNode::kInitialStatus);
}

TEST(HfsPlusFileNode, DeepSearchNodesCarryTheirLeafAndPartition) {
    auto device = VolumeDevice(FixtureBytes("plain"), 512);
    CHFSPlusVolume volume(device.get(), false);
    BTKey key = CatalogKey(20, u"found.txt");
    HFSPlusCatalogRecord record = FileRecord(50, 10, 1);
    CHFSPlusFileNode node(&volume, 123456, 3, &key, &record);
    EXPECT_EQ(node.GetBelongedPartition(), 3);
    EXPECT_EQ(node.GetMetadataStartPosition(), 123456);
    EXPECT_FALSE(node.IsDeleted());
}

TEST(HfsPlusFileNode, ACloneIsACopyWithItsOwnRuns) {
    auto device = VolumeDevice(FixtureBytes("plain"), 512);
    CHFSPlusVolume volume(device.get(), false);
    BTKey key = CatalogKey(20, u"a.txt");
    HFSPlusCatalogRecord record = FileRecord(40, 5, 1);
    CHFSPlusFileNode node(&volume, &key, &record, 1);
    IFileNode* clone = node.Clone();
    ASSERT_NE(clone, nullptr);
    ASSERT_NE(clone, static_cast<IFileNode*>(&node));
    auto* copy = dynamic_cast<CHFSPlusFileNode*>(clone);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::string(copy->GetFileName()), "a.txt");
    EXPECT_EQ(copy->GetFileSize(), 5);
    EXPECT_TRUE(copy->IsDeleted());
    EXPECT_NE(copy->GetDataRunList(), node.GetDataRunList());
    EXPECT_EQ(RunCount(*copy), 1u);
    EXPECT_EQ(copy->GetVolume(), &volume);
    clone->Release();
}

TEST(HfsPlusFileNode, CompressedFilesTakeTheirUncompressedSize) {
    // A compressed file's copy is its decoded bytes: its size is the decmpfs size, whether the data is
    // inline (empty resource fork) or in the resource fork.
    auto device = VolumeDevice(FixtureBytes("journaled"), 512);
    CHFSPlusVolume volume(device.get(), false);
    ASSERT_TRUE(volume.IsOpen());
    for (const auto& p : hfs::FixturePlanted("journaled")) {
        if (p.deleted || !p.compression) continue;
        SCOPED_TRACE(p.path);
        const std::string name = p.path.substr(p.path.rfind('/') + 1);
        std::u16string units(name.begin(), name.end());
        HFSPlusSearchResult found;
        BTRecordPtr record;
        // Compressed files live in the folder "Compressed": find its ID through its thread-less key.
        BTKey folder = CatalogKey(2, u"Compressed");
        ASSERT_EQ(volume.Search(f::kCatalogFileID, folder, found, &record), 0u);
        ASSERT_TRUE(found.found);
        BTKey key = CatalogKey(record->catalog.CatalogNodeID(), units);
        ASSERT_EQ(volume.Search(f::kCatalogFileID, key, found, &record), 0u);
        ASSERT_TRUE(found.found);
        CHFSPlusFileNode node(&volume, &key, &record->catalog, 0);
        EXPECT_TRUE(node.IsCompressed());
        EXPECT_EQ(node.GetFileSize(), i64(p.size));
        EXPECT_EQ(node.GetForkSize(), record->catalog.file.resourceFork.logicalSize);
        EXPECT_EQ(node.GetDataRunList() != nullptr && node.GetDataRunList()->GetFirst() != nullptr,
                  p.compression == 4 || p.compression == 8);
    }
}
