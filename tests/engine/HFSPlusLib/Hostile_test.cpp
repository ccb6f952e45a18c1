// Hostile bytes: a table of damaged volumes (B-tree loops and bad lengths, broken journals, bad
// compressed data, absurd header values), then seeded random damage. Each runs the whole quick search
// and reads every file it finds; each must end, and the sanitizer builds must report nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HfsTestSupport.h"
#include "engine/HFSPlusSearch/HFSPlusQuickSearcher.h"
#include "support/RecordingProgress.h"

using namespace hfstest;
namespace hfs = testsupport::hfs;
namespace f = hfsplus;

namespace {

// A small journaled volume with a deep catalog, compressed files of both resource-fork types, a
// fragmented file and deleted files whose records live in the journal.
struct Base {
    hfs::Layout layout;
    std::vector<u8> image;
    Base() {
        hfs::Options o;
        o.totalBlocks = 512;
        o.journaled = true;
        o.journalSize = 64 * 1024;
        o.maxLeafRecords = 3;
        hfs::Writer w(o);
        for (int i = 0; i < 10; ++i) {
            hfs::Entry e;
            e.path = "Docs/file " + std::to_string(i) + ".txt";
            e.data = hfs::TextContent(e.path, 500 + 100 * size_t(i));
            w.Add(e);
        }
        for (u32 type : {3u, 4u, 7u, 8u}) {
            hfs::Entry e;
            e.path = "Packed/t" + std::to_string(type);
            // Inline types hold their data in one attribute record; the others need two blocks.
            e.data = hfs::TextContent(e.path, type == 3 || type == 7 ? 3000 : 70000);
            e.compression = type;
            w.Add(e);
            e.path += " gone";
            e.deleted = true;
            w.Add(e);
        }
        hfs::Entry frag;
        frag.path = "frag.bin";
        frag.data = hfs::TextContent("frag", 10 * 4096);
        frag.extents = 10;
        w.Add(frag);
        frag.path = "frag gone.bin";
        frag.deleted = true;
        w.Add(frag);
        image = w.Build(&layout);
    }
    size_t CatalogNode(u32 n) const { return layout.catalogByte + size_t(n) * layout.catalogNodeSize; }
    // The byte of record `index` of catalog node `n`.
    size_t CatalogRecord(u32 n, u16 index) const {
        CHFSPlusBTNode view(image.data() + CatalogNode(n), layout.catalogNodeSize, false);
        return size_t(view.GetRecord(index)->data() - image.data());
    }
    size_t ChildPointer(u32 n, u16 index) const {
        const size_t at = CatalogRecord(n, index);
        return at + ByteReader(image).Be16(at).value() + 2;
    }
    // The byte of the first block list header of the journal and of its entry i.
    size_t BlockList() const { return layout.journalByte + layout.firstTransaction; }
    size_t Entry(u16 i) const { return BlockList() + f::blhdr::kEntries + size_t(i) * f::blhdr::kEntrySize; }
    size_t Find(const std::string& bytes, size_t from = 0) const {
        for (size_t i = from; i + bytes.size() <= image.size(); ++i)
            if (std::memcmp(image.data() + i, bytes.data(), bytes.size()) == 0) return i;
        return std::string::npos;
    }
};

const Base& Clean() {
    static const Base base;
    return base;
}

struct Outcome {
    u64 code = 0;
    size_t nodes = 0;
    size_t read = 0;
};

// The whole quick search, then every found file read as a recovery reads it.
Outcome SearchAndRead(const std::vector<u8>& image, u32 sectorSize = 512) {
    auto device = VolumeDevice(image, sectorSize);
    RecordingBuilder builder;
    testsupport::RecordingProgress progress;
    std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateHFSPlusQuickSearcher());
    searcher->SetDirecotryTreeBuilder(&builder);
    Outcome out;
    out.code = searcher->QuickSearchFiles(device.get(), &progress);
    out.nodes = builder.m_nodes.size();
    CSearchedPartitionInfo* record = nullptr;
    if (searcher->GetSearchedPartitionInfo(&record, 1) == 1 && record) {
        for (IFileNode* node : builder.m_nodes) {
            if (node->IsDirectory()) continue;
            std::string bytes;
            // A claimed size is read in pieces up to 16 MiB: enough to reach any damage here.
            if (node->GetFileSize() > (i64(16) << 20)) continue;
            if (ReadNode(*device, *record, node, bytes)) ++out.read;
        }
        delete record;
    }
    return out;
}

}  // namespace

TEST(HfsPlusHostile, DamagedVolumesEndCleanly) {
    const Base& base = Clean();
    const u32 root = base.layout.catalogRoot;
    const u32 leaf = base.layout.catalogLeaves[1];
    struct Case {
        const char* what;
        std::function<void(std::vector<u8>&)> patch;
    } cases[] = {
        {"the root's child is the root", [&](std::vector<u8>& i) { ByteWriter(i).Be32(base.ChildPointer(root, 0), root); }},
        {"a child points to an ancestor",
         [&](std::vector<u8>& i) {
             const u32 below = ByteReader(i).Be32(base.ChildPointer(root, 0)).value();
             ByteWriter(i).Be32(base.ChildPointer(below, 1), root);
         }},
        {"a child past the catalog", [&](std::vector<u8>& i) { ByteWriter(i).Be32(base.ChildPointer(root, 1), 0x7FFFFFFF); }},
        {"cyclic leaf links",
         [&](std::vector<u8>& i) {
             ByteWriter(i).Be32(base.CatalogNode(leaf) + f::node::kFLink, leaf);
             ByteWriter(i).Be32(base.CatalogNode(leaf) + f::node::kBLink, leaf);
         }},
        {"a key length past the node", [&](std::vector<u8>& i) { ByteWriter(i).Be16(base.CatalogRecord(leaf, 0), 0xFFF0); }},
        {"a name length past the key", [&](std::vector<u8>& i) { ByteWriter(i).Be16(base.CatalogRecord(leaf, 0) + 6, 0x00FF); }},
        {"a record count past the node", [&](std::vector<u8>& i) { ByteWriter(i).Be16(base.CatalogNode(leaf) + 10, 0xFFFF); }},
        {"a catalog root past the file", [&](std::vector<u8>& i) { ByteWriter(i).Be32(base.CatalogNode(0) + 14 + 2, 0xFFFFFFF0); }},
        {"a catalog node size of 0", [&](std::vector<u8>& i) { ByteWriter(i).Be16(base.CatalogNode(0) + 14 + 18, 0); }},
        {"a catalog node size of 65535", [&](std::vector<u8>& i) { ByteWriter(i).Be16(base.CatalogNode(0) + 14 + 18, 0xFFFF); }},
        {"a catalog of 4 GiB blocks",
         [&](std::vector<u8>& i) { ByteWriter(i).Be32(1024 + f::vh::kCatalogFile + f::fork::kTotalBlocks, 0xFFFFFFFF); }},
        {"block size 0", [&](std::vector<u8>& i) { ByteWriter(i).Be32(1024 + f::vh::kBlockSize, 0); }},
        {"block size 512 on 4096-byte blocks", [&](std::vector<u8>& i) { ByteWriter(i).Be32(1024 + f::vh::kBlockSize, 512); }},
        {"a file extent past the volume",
         [&](std::vector<u8>& i) {
             // The first extent of the first file record found: its start block made huge.
             for (u16 r = 0; r < 3; ++r) {
                 const size_t at = base.CatalogRecord(leaf, r);
                 const size_t data = at + ByteReader(i).Be16(at).value() + 2;
                 if (ByteReader(i).Be16(data).value() == f::catrec::kFile)
                     ByteWriter(i).Be32(data + f::file::kDataFork + f::fork::kExtents, 0xFFFFFFF0);
             }
         }},
        {"an overflow record that places nothing",
         [&](std::vector<u8>& i) {
             const size_t node = base.layout.extentsByte + 4096;  // the extents tree's only leaf
             std::memset(i.data() + node + 14 + 12, 0, 64);
         }},
        {"jhdr_size 0", [&](std::vector<u8>& i) { ByteWriter(i).Le32(base.layout.journalByte + f::jhdr::kJhdrSize, 0); }},
        {"blhdr_size 8", [&](std::vector<u8>& i) { ByteWriter(i).Le32(base.layout.journalByte + f::jhdr::kBlhdrSize, 8); }},
        {"blhdr_size 1", [&](std::vector<u8>& i) { ByteWriter(i).Le32(base.layout.journalByte + f::jhdr::kBlhdrSize, 1); }},
        {"jhdr_size 3", [&](std::vector<u8>& i) { ByteWriter(i).Le32(base.layout.journalByte + f::jhdr::kJhdrSize, 3); }},
        {"a huge bsize", [&](std::vector<u8>& i) { ByteWriter(i).Le32(base.Entry(1) + f::blhdr::kEntryBsize, 0xFFFFFFF0); }},
        {"a bsize of 1", [&](std::vector<u8>& i) { ByteWriter(i).Le32(base.Entry(1) + f::blhdr::kEntryBsize, 1); }},
        {"a block count past the list", [&](std::vector<u8>& i) { ByteWriter(i).Le16(base.BlockList() + 2, 0xFFFF); }},
        {"a bnum past everything", [&](std::vector<u8>& i) { ByteWriter(i).Le64(base.Entry(1), ~u64(0)); }},
        {"a wrap over the end",
         [&](std::vector<u8>& i) {
             // The scan starts 512 bytes before the end at a block list whose block wraps around.
             const size_t jb = base.layout.journalByte;
             const u64 size = base.layout.journalSize;
             ByteWriter(i).Le64(jb + f::jhdr::kEnd, size - 4096);
             std::memcpy(i.data() + jb + size - 4096, i.data() + base.BlockList(), 4096);
             ByteWriter(i).Le32(jb + size - 4096 + 16 + 16 + 8, 8192);
         }},
        {"a journal of size 0",
         [&](std::vector<u8>& i) {
             ByteWriter(i).Be64(base.layout.journalInfoByte + f::jib::kSize, 0);
             ByteWriter(i).Le64(base.layout.journalByte + f::jhdr::kSize, 0);
         }},
        {"a journal past the volume", [&](std::vector<u8>& i) { ByteWriter(i).Be64(base.layout.journalInfoByte + f::jib::kOffset, ~u64(0) - 100); }},
        {"a journal larger than the volume",
         [&](std::vector<u8>& i) {
             ByteWriter(i).Be64(base.layout.journalInfoByte + f::jib::kSize, u64(1) << 40);
             ByteWriter(i).Le64(base.layout.journalByte + f::jhdr::kSize, u64(1) << 40);
         }},
        {"decmpfs sizes far beyond the files",
         [&](std::vector<u8>& i) {
             for (size_t at = base.Find("fpmc"); at != std::string::npos; at = base.Find("fpmc", at + 1))
                 ByteWriter(i).Le64(at + 8, ~u64(0) - 7);
         }},
        {"decmpfs attribute sizes past their records",
         [&](std::vector<u8>& i) {
             for (size_t at = base.Find("fpmc"); at != std::string::npos; at = base.Find("fpmc", at + 1))
                 ByteWriter(i).Be32(at - 4, 0x7FFFFFFF);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> image = base.image;
        c.patch(image);
        const Outcome out = SearchAndRead(image);
        if (std::string(c.what) == "block size 0") {
            // Nothing of such a volume opens (and nothing divides by its block size).
            EXPECT_TRUE(result::IsFailure(out.code));
            EXPECT_EQ(out.nodes, 0u);
        }
    }
    // The clean base: every file found and read (20 planted, the two journal files).
    const Outcome clean = SearchAndRead(base.image);
    EXPECT_EQ(clean.code, 0u);
    EXPECT_EQ(clean.read, 22u);
}

TEST(HfsPlusHostile, RandomDamageEndsCleanly) {
    const Base& base = Clean();
    // Bytes of the metadata: catalog nodes, the extents and attributes trees, the journal's start.
    std::vector<std::pair<size_t, size_t>> areas = {
        {base.layout.catalogByte, size_t(base.layout.catalogLeaves.size() + 8) * base.layout.catalogNodeSize},
        {base.layout.extentsByte, 2 * 4096},
        {base.layout.attributesByte, 3 * 4096},
        {base.layout.journalByte, 64 * 1024},
        {1024, 512},
    };
    std::mt19937 random(20240229);
    for (int round = 0; round < 150; ++round) {
        std::vector<u8> image = base.image;
        const auto& [start, length] = areas[size_t(round) % areas.size()];
        const int flips = 1 + int(random() % 24);
        for (int k = 0; k < flips; ++k) {
            const size_t at = start + random() % length;
            image[at] = (random() % 3 == 0) ? u8(random()) : u8(image[at] ^ (1u << (random() % 8)));
        }
        SCOPED_TRACE(round);
        SearchAndRead(image, round % 2 ? 512 : 4096);
    }
}
