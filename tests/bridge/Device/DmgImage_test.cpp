// Apple and flat disk images: UDIF images built here (data fork, XML block tables, big-endian trailer),
// accepted only when a flat reading of the file gets every sector right, checked against dmg2img; the
// shared real images; and images opened through the controller into the device list.
#include "bridge/Device/DmgImage.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bridge/Controller/KXUIController.h"
#include "bridge/Device/KXUIDeviceData.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "support/FakeEnumDevice.h"
#include "support/FakeWindowSide.h"
#include "support/Fixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

using testsupport::TempDir;

void PutBe(std::string& out, size_t at, u64 value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = char(value >> (8 * (bytes - 1 - i)));
}

struct Chunk {
    u32 type;
    u64 first;   // sector, from the table's first
    u64 count;
    u64 offset;  // in the data fork
    u64 length;
};

struct Table {
    u64 first;
    u64 count;
    std::vector<Chunk> chunks;
};

// A "mish" block: header, then the chunk entries.
std::string Mish(const Table& t) {
    std::string m(mish_layout::kChunks + t.chunks.size() * mish_layout::kChunkSize, '\0');
    std::memcpy(m.data(), "mish", 4);
    PutBe(m, 4, 1, 4);
    PutBe(m, mish_layout::kFirstSector, t.first, 8);
    PutBe(m, mish_layout::kSectorCount, t.count, 8);
    PutBe(m, mish_layout::kBuffersNeeded, 2056, 4);
    PutBe(m, mish_layout::kChunkCount, t.chunks.size(), 4);
    for (size_t i = 0; i < t.chunks.size(); ++i) {
        const size_t at = mish_layout::kChunks + i * mish_layout::kChunkSize;
        const Chunk& c = t.chunks[i];
        PutBe(m, at + mish_layout::kChunkType, c.type, 4);
        PutBe(m, at + mish_layout::kChunkFirstSector, c.first, 8);
        PutBe(m, at + mish_layout::kChunkSectorCount, c.count, 8);
        PutBe(m, at + mish_layout::kChunkOffset, c.offset, 8);
        PutBe(m, at + mish_layout::kChunkLength, c.length, 8);
    }
    return m;
}

// resource-fork / blkx / [ {Data, Name} ... ] as XML, made by libplist.
std::string BlkxXml(const std::vector<std::string>& blocks) {
    plist_t root = plist_new_dict();
    plist_t fork = plist_new_dict();
    plist_t blkx = plist_new_array();
    for (size_t i = 0; i < blocks.size(); ++i) {
        plist_t e = plist_new_dict();
        plist_dict_set_item(e, "Data", plist_new_data(blocks[i].data(), blocks[i].size()));
        plist_dict_set_item(e, "Name", plist_new_string(("table " + std::to_string(i)).c_str()));
        plist_dict_set_item(e, "ID", plist_new_string(std::to_string(i).c_str()));
        plist_array_append_item(blkx, e);
    }
    plist_dict_set_item(fork, "blkx", blkx);
    plist_dict_set_item(root, "resource-fork", fork);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::string out(xml, length);
    plist_to_xml_free(xml);
    plist_free(root);
    return out;
}

// The sectors' own bytes: every sector tells its number.
std::string Data(u64 sectors) {
    std::string d(sectors * 512, '\0');
    for (u64 s = 0; s < sectors; ++s) {
        for (int i = 0; i < 512; ++i) d[s * 512 + i] = char((s * 7 + i) & 0xFF);
    }
    return d;
}

struct Udif {
    std::string data = Data(64);
    // Two tables of the 64 sectors: two raw chunks of 16, then one raw chunk of 32 and a terminator.
    std::vector<Table> tables = {
        {0, 32, {{1, 0, 16, 0, 16 * 512}, {1, 16, 16, 16 * 512, 16 * 512}, {0xFFFFFFFF, 32, 0, 32 * 512, 0}}},
        {32, 32, {{1, 0, 32, 32 * 512, 32 * 512}, {0x7FFFFFFE, 32, 0, 64 * 512, 0}, {0xFFFFFFFF, 32, 0, 64 * 512, 0}}},
    };
    std::function<void(std::vector<std::string>&)> editBlocks;  // on the mish blocks
    std::function<void(std::string&)> editXml;
    std::function<void(std::string&)> editFile;  // on the whole file, trailer included

    std::string Build() const {
        std::vector<std::string> blocks;
        for (const Table& t : tables) blocks.push_back(Mish(t));
        if (editBlocks) editBlocks(blocks);
        std::string xml = BlkxXml(blocks);
        if (editXml) editXml(xml);
        std::string koly(512, '\0');
        std::memcpy(koly.data(), "koly", 4);
        PutBe(koly, 4, 4, 4);
        PutBe(koly, 8, 512, 4);
        PutBe(koly, koly_layout::kDataForkOffset, 0, 8);
        PutBe(koly, koly_layout::kDataForkLength, data.size(), 8);
        PutBe(koly, koly_layout::kXmlOffset, data.size(), 8);
        PutBe(koly, koly_layout::kXmlLength, xml.size(), 8);
        PutBe(koly, koly_layout::kSectorCount, data.size() / 512, 8);
        std::string file = data + xml + koly;
        if (editFile) editFile(file);
        return file;
    }
};

void SetChunkType(std::vector<std::string>& blocks, size_t chunk, u32 type) {
    PutBe(blocks[0], mish_layout::kChunks + chunk * mish_layout::kChunkSize, type, 4);
}

struct Parsed {
    bool accepted;
    CDMGDeviceInfoStruct record;
};

Parsed Parse(const TempDir& dir, const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(dir / name, bytes);
    Parsed p{};
    std::memset(&p.record, 0, sizeof p.record);
    p.record.sectorSize = 512;
    p.accepted = ParseDmgFile((dir / name).c_str(), &p.record);
    return p;
}

}  // namespace

TEST(DmgImage, UdifImagesAreAcceptedOnlyWhenAFlatReadingIsRight) {
    struct Case {
        const char* what;
        Udif image;
        bool accepted;
    };
    auto type = [](u32 t) {
        Udif u;
        u.editBlocks = [t](std::vector<std::string>& b) { SetChunkType(b, 1, t); };
        return u;
    };
    auto blocks = [](std::function<void(std::vector<std::string>&)> f) {
        Udif u;
        u.editBlocks = std::move(f);
        return u;
    };
    auto file = [](std::function<void(std::string&)> f) {
        Udif u;
        u.editFile = std::move(f);
        return u;
    };
    const size_t trailer = 64 * 512;  // where the XML starts in an unedited image
    std::vector<Case> cases = {
        {"raw, comment and terminator chunks", Udif{}, true},
        {"an ignore chunk", type(udif_chunk::kIgnore), true},
        {"a zlib chunk", type(0x80000005), false},
        {"an ADC chunk", type(0x80000004), false},
        {"a bzip2 chunk", type(0x80000006), false},
        {"an LZFSE chunk", type(0x80000007), false},
        {"an LZMA chunk", type(0x80000008), false},
        {"a chunk of an unknown type", type(0x12345678), false},
        {"\"Data\" under 204 bytes", blocks([](auto& b) { b[1].resize(203); }), false},
        {"a chunk count past the block",
         blocks([](auto& b) { PutBe(b[1], mish_layout::kChunkCount, 4, 4); }), false},
        {"a block table without \"mish\"", blocks([](auto& b) { b[0][0] = 'M'; }), false},
        {"a raw chunk off its flat offset",
         blocks([](auto& b) { PutBe(b[0], mish_layout::kChunks + 40 + mish_layout::kChunkOffset, 17 * 512, 8); }),
         false},
        {"a raw chunk shorter than its sectors",
         blocks([](auto& b) { PutBe(b[0], mish_layout::kChunks + 40 + mish_layout::kChunkLength, 15 * 512, 8); }),
         false},
        {"a table's data offset moving its chunks",
         blocks([](auto& b) { PutBe(b[1], mish_layout::kDataOffset, 512, 8); }), false},
        {"XML past the end of the file",
         file([](std::string& f) { PutBe(f, f.size() - 512 + koly_layout::kXmlLength, 1ull << 40, 8); }), false},
        {"XML offset past the file",
         file([](std::string& f) { PutBe(f, f.size() - 512 + koly_layout::kXmlOffset, ~0ull - 4, 8); }), false},
        {"XML of length 0", file([](std::string& f) { PutBe(f, f.size() - 512 + koly_layout::kXmlLength, 0, 8); }),
         false},
        {"a bad property list",
         file([trailer](std::string& f) { f.replace(f.find("</array>", trailer), 8, "</arrax>"); }), false},
        {"an encrypted image", file([](std::string& f) { f.replace(0, 8, "encrcdsa"); }), false},
    };
    Udif noTables;
    noTables.editXml = [](std::string& xml) {
        xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>resource-fork</key><dict/></dict></plist>";
    };
    cases.push_back({"no block tables", noTables, true});

    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = c.image.Build();
        const Parsed p = Parse(dir, "image.dmg", bytes);
        EXPECT_EQ(p.accepted, c.accepted);
        if (p.accepted) {
            EXPECT_EQ(p.record.totalSectors, 64u);
            EXPECT_EQ(p.record.fileLength, bytes.size());
        }
    }
}

TEST(DmgImage, FlatImagesShortFilesAndEncryption) {
    TempDir dir;
    EXPECT_FALSE(Parse(dir, "512.img", std::string(512, 'x')).accepted);
    EXPECT_FALSE(Parse(dir, "empty.img", "").accepted);
    EXPECT_FALSE(Parse(dir, "enc.dmg", "encrcdsa" + std::string(4096, '\0')).accepted);
    const Parsed partial = Parse(dir, "partial.raw", std::string(5 * 512 + 100, 'y'));
    ASSERT_TRUE(partial.accepted);
    EXPECT_EQ(partial.record.totalSectors, 5u) << "the partial last sector is left out";
    EXPECT_EQ(partial.record.fileLength, 5u * 512 + 100);
    const Parsed small = Parse(dir, "513.dd", std::string(513, 'z'));
    ASSERT_TRUE(small.accepted);
    EXPECT_EQ(small.record.totalSectors, 1u);
    CDMGDeviceInfoStruct record{};
    EXPECT_FALSE(ParseDmgFile((dir / "missing.dmg").c_str(), &record));
    EXPECT_FALSE(ParseDmgFile(nullptr, &record));
}

// dmg2img, an independent reader, gives back the data bytes of the image the tests build: it is real UDIF.
TEST(DmgImage, TheBuiltImageIsRealUdif) {
    TempDir dir;
    const Udif image;
    testsupport::WriteFile(dir / "built.dmg", image.Build());
    std::string output;
    ASSERT_EQ(testsupport::RunCommand("dmg2img -s '" + (dir / "built.dmg").string() + "' '" +
                                          (dir / "out.img").string() + "' 2>&1",
                                      &output),
              0)
        << output;
    EXPECT_EQ(testsupport::ReadFile(dir / "out.img"), image.data);
}

TEST(DmgImage, TheSharedImages) {
    const auto raw = testsupport::SharedFixturePath("udif-raw-chunks.dmg.xz");
    if (!raw) GTEST_SKIP() << "the shared fixtures are not beside this checkout";
    TempDir dir;
    CDMGDeviceInfoStruct record{};
    record.sectorSize = 512;
    const auto accepted = testsupport::UnpackXzShared(*raw);
    ASSERT_TRUE(ParseDmgFile(accepted.c_str(), &record));
    EXPECT_EQ(record.totalSectors, 32768u);
    const auto zerofill = testsupport::UnpackXzShared(*testsupport::SharedFixturePath("udif-raw-and-zerofill.dmg.xz"));
    EXPECT_FALSE(ParseDmgFile(zerofill.c_str(), &record)) << "zero-fill chunks shift the raw ones off their place";
    const auto zlib = *testsupport::SharedFixturePath("udif-zlib-compressed.dmg");
    EXPECT_FALSE(ParseDmgFile(zlib.c_str(), &record));
}

// Opened through the controller, the UDIF image of raw chunks becomes one device whose sectors are those
// of the volume it holds; a second open adds nothing; a path the record cannot hold whole is refused.
TEST(DmgImage, OpenedImagesJoinTheDeviceList) {
    const auto raw = testsupport::SharedFixturePath("udif-raw-chunks.dmg.xz");
    if (!raw) GTEST_SKIP() << "the shared fixtures are not beside this checkout";
    const auto volume = testsupport::UnpackXzShared(*testsupport::SharedFixturePath("hfsplus-interleaved.img.xz"));
    TempDir dir;
    const auto image = testsupport::UnpackXz(*raw, dir.path());

    KXUIDeviceData::Config config;
    config.enumerator = testsupport::FakeEnumeratorFactory({}, 0);
    testsupport::FakeWindowSide window({.devices = config});
    IUIController& ui = window.Controller();
    ASSERT_TRUE(ui.KXOpenDmgFile(image.string()));
    ASSERT_TRUE(ui.KXOpenDmgFile(image.string()));
    EXPECT_FALSE(ui.KXOpenDmgFile((dir / "missing.dmg").string()));
    EXPECT_FALSE(ui.KXOpenDmgFile("/" + std::string(1100, 'a')));
    EXPECT_FALSE(ui.KXOpenDmgFile(""));
    DiskVolumeNodeData::Rows rows;
    ui.GetDeviceInfoToArray(&rows);
    ASSERT_EQ(rows.size(), 1u);

    IStorageDevice* device = KXUIDeviceData::instance().GetStorageByDiskVolumeIndex(0, -1);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->GetSectorSize(), 512u);
    const std::string want = testsupport::ReadFile(volume);
    ASSERT_EQ(u64(device->GetTotalSectors()) * 512, want.size());
    std::string got(want.size(), '\0');
    for (i64 s = 0; s < device->GetTotalSectors(); s += 2048) {
        const i64 n = std::min<i64>(2048, device->GetTotalSectors() - s);
        ASSERT_GT(device->ReadSector(got.data() + s * 512, s, n), 0);
    }
    EXPECT_EQ(testsupport::Sha256Hex(got), testsupport::Sha256Hex(want));
}
