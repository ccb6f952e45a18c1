// The compressed-file reader on hand-made damage, the restore path (a volume opened without its
// catalog), and a reader over a volume that failed to open.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/HFSPlusLib/HFSPlusQuickSearchProgress.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HfsTestSupport.h"
#include "engine/Utility/IDataRunList.h"
#include "support/RecordingProgress.h"
#include "support/Sha256.h"

using namespace hfstest;
namespace hfs = testsupport::hfs;
namespace f = hfsplus;

namespace {

// One compressed file per case, found by walking a small image.
struct OneFile {
    std::vector<u8> image;
    std::unique_ptr<MemoryDevice> device;
    std::unique_ptr<CHFSPlusVolume> volume;
    RecordingBuilder builder;
    IFileNode* node = nullptr;
    std::string data;

    OneFile(u32 type, std::string content, bool raw = false) : data(std::move(content)) {
        hfs::Options options;
        options.totalBlocks = 256;
        hfs::Entry e;
        e.path = "c.bin";
        e.data = data;
        e.compression = type;
        e.rawStored = raw;
        hfs::Writer writer(options);
        writer.Add(e);
        image = writer.Build();
    }
    // Opens the (possibly patched) image and finds the file; again after a patch.
    void Open() {
        for (IFileNode* n : builder.m_nodes) n->Release();
        builder.m_nodes.clear();
        node = nullptr;
        volume.reset();
        device = VolumeDevice(image, 4096);
        volume = std::make_unique<CHFSPlusVolume>(device.get(), false);
        builder.AddSearcherInfo(SEARCHER_HFSPLUS, 2);
        testsupport::RecordingProgress sink;
        CHFSPlusQuickFileSystemSearchProgress adapter(&sink, true);
        volume->Traverse(f::kCatalogFileID, &builder, &adapter);
        for (const auto& l : builder.List())
            if (l.path == "c.bin") node = l.node;
    }
    // The byte in the image where the fork holding the data begins.
    size_t ForkByte() {
        auto* file = dynamic_cast<CFileNode*>(node);
        return size_t(file->GetDataRunList()->GetFirst()->start) * 4096;
    }
    // The byte of the decmpfs attribute's header.
    size_t AttributeByte() {
        const u8 magic[4] = {'f', 'p', 'm', 'c'};
        for (size_t i = 0; i + 4 <= image.size(); ++i)
            if (std::memcmp(image.data() + i, magic, 4) == 0) return i;
        return 0;
    }
    u32 Read(i64 offset, std::string& out, u32 size) {
        std::unique_ptr<IFileReader, void (*)(IFileReader*)> reader(node->CreateCompressFileReader(nullptr),
                                                                    [](IFileReader* r) { r->Release(); });
        out.assign(size, '\0');
        const u32 got = reader->ReadData(offset, out.data(), size, nullptr);
        out.resize(got);
        return got;
    }
};

}  // namespace

TEST(HfsPlusCompressed, DamageFailsTheReadInsteadOfGivingWrongBytes) {
    const std::string text = hfs::TextContent("damage", 150000);
    struct Case {
        const char* what;
        u32 type;
        std::function<void(OneFile&)> patch;
    } cases[] = {
        {"type 8: chunk offsets going back",
         8, [](OneFile& c) { ByteWriter(c.image).Le32(c.ForkByte() + 4, 8); }},
        {"type 8: a chunk past the fork", 8, [](OneFile& c) { ByteWriter(c.image).Le32(c.ForkByte() + 8, 0x7FFFFFF0); }},
        {"type 8: a table larger than the fork", 8, [](OneFile& c) { ByteWriter(c.image).Le32(c.ForkByte(), 0x40000000); }},
        {"type 8: a damaged chunk", 8, [](OneFile& c) {
             const u32 first = ByteReader(c.image).Le32(c.ForkByte()).value();
             c.image[c.ForkByte() + first] = 0x1E;  // an undefined opcode
         }},
        {"type 4: a block past the fork", 4, [](OneFile& c) { ByteWriter(c.image).Le32(c.ForkByte() + 0x100 + 8, 0x7FFFFFF0); }},
        {"type 4: a count that is not the size's", 4, [](OneFile& c) { ByteWriter(c.image).Le32(c.ForkByte() + 0x100 + 4, 0xFFFFFFFF); }},
        {"type 4: a data offset past the fork", 4, [](OneFile& c) { ByteWriter(c.image).Be32(c.ForkByte(), 0x7FFFFFF0); }},
        {"type 4: a damaged block", 4, [](OneFile& c) {
             const u32 first = ByteReader(c.image).Le32(c.ForkByte() + 0x100 + 8).value();
             c.image[c.ForkByte() + 0x104 + first + 2] ^= 0xFF;
         }},
        {"type 4: a size far beyond the file", 4, [](OneFile& c) { ByteWriter(c.image).Le64(c.AttributeByte() + 8, u64(1) << 60); }},
        {"type 8: a size far beyond the file", 8, [](OneFile& c) { ByteWriter(c.image).Le64(c.AttributeByte() + 8, u64(1) << 60); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OneFile file(c.type, text);
        file.Open();
        c.patch(file);
        file.Open();
        ASSERT_NE(file.node, nullptr);
        std::string out;
        // No read gives bytes that are not the file's: every read is whole and right, or empty.
        for (i64 at : {i64(0), i64(65536), i64(140000)}) {
            const u32 got = file.Read(at, out, 4096);
            if (got) {
                EXPECT_EQ(out, text.substr(size_t(at), got));
            }
        }
        EXPECT_EQ(file.Read(0, out, 4096), 0u);
    }
}

TEST(HfsPlusCompressed, InlineStreamsAndRawStoredData) {
    struct Case {
        const char* what;
        u32 type;
        bool raw;
        std::string data;
    } cases[] = {
        {"zlib inline", 3, false, hfs::TextContent("zi", 3000)},
        {"zlib inline, raw", 3, true, hfs::TextContent("zr", 300)},
        {"LZVN inline", 7, false, hfs::TextContent("li", 3000)},
        {"LZVN inline, raw", 7, true, hfs::TextContent("lr", 300)},
        {"LZVN inline, shorter than 16 bytes", 7, false, "tiny"},
        {"zlib blocks, raw", 4, true, hfs::NoiseContent("zbr", 70000)},
        {"LZVN chunks, raw", 8, true, hfs::NoiseContent("lcr", 70000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OneFile file(c.type, c.data, c.raw);
        file.Open();
        ASSERT_NE(file.node, nullptr);
        EXPECT_EQ(file.node->GetFileSize(), i64(c.data.size()));
        std::string out;
        EXPECT_EQ(file.Read(0, out, u32(c.data.size() + 100)), c.data.size());
        EXPECT_EQ(out, c.data);
    }
    // A truncated inline LZVN stream fails the read.
    OneFile cut(7, hfs::TextContent("cut", 3000));
    const size_t at = cut.AttributeByte();
    // The attribute's size (u32 BE, 4 bytes before the header) loses the stream's last half.
    const u32 size = ByteReader(cut.image).Be32(at - 4).value();
    ByteWriter(cut.image).Be32(at - 4, 16 + (size - 16) / 2);
    cut.Open();
    ASSERT_NE(cut.node, nullptr);
    std::string out;
    EXPECT_EQ(cut.Read(0, out, 4096), 0u);
}

TEST(HfsPlusCompressed, ABlockEndingExactlyAtTheForksEndIsDecoded) {
    OneFile file(4, hfs::TextContent("exact", 100000));
    file.Open();
    ASSERT_NE(file.node, nullptr);
    // The fork ends right after the last block (the resource map cut off).
    const ByteReader fork(file.image.data() + file.ForkByte(), 0x100 + 8 + 16);
    const u64 end = 0x100 + 4 + fork.Le32(0x100 + 8 + 8).value() + fork.Le32(0x100 + 8 + 12).value();
    BTKey key;
    key.parentID = 2;
    const std::u16string name = u"c.bin";
    key.nameLength = u16(name.size());
    std::copy(name.begin(), name.end(), key.name.begin());
    HFSPlusSearchResult found;
    BTRecordPtr record;
    ASSERT_EQ(file.volume->Search(f::kCatalogFileID, key, found, &record), 0u);
    record->catalog.file.resourceFork.logicalSize = end;
    CHFSPlusFileNode cut(file.volume.get(), &key, &record->catalog, 0);
    EXPECT_EQ(cut.GetForkSize(), end);
    std::unique_ptr<IFileReader, void (*)(IFileReader*)> reader(cut.CreateCompressFileReader(nullptr),
                                                                [](IFileReader* r) { r->Release(); });
    std::string out(4096, '\0');
    ASSERT_EQ(reader->ReadData(99000, out.data(), 4096, nullptr), 1000u);
    EXPECT_EQ(out.substr(0, 1000), file.data.substr(99000));
    // One byte less and the last block is past the fork.
    record->catalog.file.resourceFork.logicalSize = end - 1;
    CHFSPlusFileNode shorter(file.volume.get(), &key, &record->catalog, 0);
    std::unique_ptr<IFileReader, void (*)(IFileReader*)> refused(shorter.CreateCompressFileReader(nullptr),
                                                                 [](IFileReader* r) { r->Release(); });
    EXPECT_EQ(refused->ReadData(99000, out.data(), 4096, nullptr), 0u);
}

TEST(HfsPlusCompressed, UnknownTypesAndMissingRunsReadNothing) {
    for (u32 type : {5u, 6u, 2u, 9u}) {
        OneFile file(4, hfs::TextContent("types", 1000));
        ByteWriter(file.image).Le32(file.AttributeByte() + 4, type);
        file.Open();
        ASSERT_NE(file.node, nullptr);
        std::string out;
        EXPECT_EQ(file.Read(0, out, 4096), 0u) << type;
    }
    // A resource-fork type on a node without runs: nothing (and a log line).
    OneFile file(8, hfs::TextContent("runs", 1000));
    file.Open();
    ASSERT_NE(file.node, nullptr);
    dynamic_cast<CFileNode*>(file.node)->SetDataRunList(nullptr);
    std::string out;
    EXPECT_EQ(file.Read(0, out, 4096), 0u);
}

TEST(HfsPlusCompressed, RestoredVolumesReadCompressedFilesAndFailedOnesReadNothing) {
    // A loaded scan result opens the volume without its catalog and reads each compressed node.
    auto device = VolumeDevice(FixtureBytes("journaled"), 512);
    CHFSPlusVolume scanned(device.get(), false);
    RecordingBuilder builder;
    builder.AddSearcherInfo(SEARCHER_HFSPLUS, 2);
    testsupport::RecordingProgress sink;
    {
        CHFSPlusQuickFileSystemSearchProgress adapter(&sink, true);
        ASSERT_EQ(scanned.QuickSearchFiles(&builder, &adapter), 0u);
    }
    CHFSPlusVolume restored(device.get(), true);
    EXPECT_EQ(result::KindOf(restored.GetStatus()), f::kKindNullArgument);
    EXPECT_TRUE(restored.ServesReads());
    EXPECT_FALSE(restored.IsOpen());
    EXPECT_EQ(restored.GetCatalogTree(), nullptr);

    auto device2 = VolumeDevice(std::vector<u8>(1 << 20, 0), 512);
    CHFSPlusVolume failed(device2.get(), true);
    EXPECT_FALSE(failed.ServesReads());

    const auto planted = hfs::FixturePlanted("journaled");
    const auto byPath = builder.ByPath();
    size_t compressed = 0;
    for (const auto& p : planted) {
        if (!p.compression || p.deleted) continue;
        SCOPED_TRACE(p.path);
        ASSERT_TRUE(byPath.count(p.path));
        auto* node = dynamic_cast<CFileNode*>(byPath.at(p.path).front().node);
        CHFSPlusCompressFileReader reader(&restored, node);
        std::string out(p.size, '\0');
        ASSERT_EQ(reader.ReadData(0, out.data(), u32(p.size), nullptr), p.size);
        EXPECT_EQ(testsupport::Sha256Hex(out), p.sha256);
        CHFSPlusCompressFileReader none(&failed, node);
        EXPECT_EQ(none.ReadData(0, out.data(), u32(p.size), nullptr), 0u);
        CHFSPlusCompressFileReader nothing(nullptr, node);
        EXPECT_EQ(nothing.ReadData(0, out.data(), u32(p.size), nullptr), 0u);
        ++compressed;
    }
    EXPECT_EQ(compressed, 8u);
}
