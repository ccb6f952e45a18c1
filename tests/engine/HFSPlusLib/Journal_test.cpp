// The journal: opening, the scan of old leaf copies, and what it collects (and leaves) against the
// live trees of the committed journaled image.
#include <gtest/gtest.h>

#include <set>

#include "engine/HFSPlusLib/HFSPlusJournal.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HfsTestSupport.h"

using namespace hfstest;
namespace hfs = testsupport::hfs;
namespace f = hfsplus;

namespace {

struct Collected {
    std::map<std::string, std::vector<std::pair<u32, u64>>> catalog;  // name -> (ID, data size)
    size_t extents = 0;
    size_t attributes = 0;
};

Collected Scan(CHFSPlusVolume& volume) {
    CHFSPlusJournal* journal = volume.GetJournal();
    journal->GetDeleteRecord(nullptr, volume.DeletedCatalog(), volume.DeletedExtents(), volume.DeletedAttributes());
    Collected out;
    out.extents = volume.DeletedExtents().Size();
    out.attributes = volume.DeletedAttributes().Size();
    for (auto& entry : volume.DeletedCatalog().TakeAll()) {
        std::string name;
        for (u16 i = 0; i < entry.key->nameLength; ++i) name.push_back(char(entry.key->name[i]));
        out.catalog[name].emplace_back(entry.record->catalog.CatalogNodeID(), entry.record->catalog.file.dataFork.logicalSize);
    }
    return out;
}

}  // namespace

TEST(HfsPlusJournal, CollectsTheRecordsTheLiveTreesLack) {
    auto device = VolumeDevice(FixtureBytes("journaled"), 512);
    CHFSPlusVolume volume(device.get(), false);
    ASSERT_TRUE(volume.IsOpen());
    ASSERT_EQ(volume.GetJournal()->GetStatus(), 0u);
    const Collected got = Scan(volume);

    std::set<std::string> expected;
    for (const auto& p : hfs::FixturePlanted("journaled"))
        if (p.deleted) expected.insert(p.path.substr(p.path.rfind('/') + 1));
    expected.insert("Lost");
    expected.insert("Sub");
    std::set<std::string> names;
    for (const auto& [name, entries] : got.catalog) names.insert(name);
    EXPECT_EQ(names, expected);  // live files copied into the old leaves are not collected

    // Found in two transactions: collected once, with the copy met last.
    ASSERT_EQ(got.catalog.at("twice.txt").size(), 1u);
    EXPECT_EQ(got.catalog.at("twice.txt").front().second, 999u);
    // The live catalog holds "replaced.txt" under another ID: the old record is collected.
    ASSERT_EQ(got.catalog.at("replaced.txt").size(), 1u);
    EXPECT_EQ(got.catalog.at("replaced.txt").front().second, 100u);
    // The overflow record of the deleted fragmented file and the attributes of the deleted compressed ones.
    EXPECT_EQ(got.extents, 1u);
    EXPECT_EQ(got.attributes, 4u);
}

TEST(HfsPlusJournal, AVolumeWithoutTheJournaledBitHasNoJournal) {
    std::vector<u8> image = FixtureBytes("journaled");
    const size_t at = 1024 + f::vh::kAttributes;
    ByteWriter(image).Be32(at, ByteReader(image).Be32(at).value() & ~f::kVolumeJournaledBit);
    auto device = VolumeDevice(image, 512);
    CHFSPlusVolume volume(device.get(), false);
    ASSERT_TRUE(volume.IsOpen());
    EXPECT_EQ(result::KindOf(volume.GetJournal()->GetStatus()), f::kKindReadFailed);
    EXPECT_FALSE(volume.GetJournal()->Header().has_value());
    EXPECT_TRUE(Scan(volume).catalog.empty());
}

TEST(HfsPlusJournal, AHeaderFailingItsTestsIsStillScanned) {
    hfs::Layout layout;
    std::vector<u8> image = hfs::FixtureWriter("journaled").Build(&layout);
    struct Case {
        const char* what;
        size_t field;
        u32 value;
    } cases[] = {
        {"magic", f::jhdr::kMagic, 0x12345678},
        {"endian", f::jhdr::kEndian, 0x78563412},
        {"size", f::jhdr::kSize, 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> patched = image;
        ByteWriter(patched.data() + layout.journalByte, 512).Le32(c.field, c.value);
        auto device = VolumeDevice(patched, 512);
        CHFSPlusVolume volume(device.get(), false);
        ASSERT_TRUE(volume.IsOpen());
        EXPECT_EQ(result::KindOf(volume.GetJournal()->GetStatus()), f::kKindReadFailed);
        ASSERT_TRUE(volume.GetJournal()->Header().has_value());
        EXPECT_TRUE(Scan(volume).catalog.count("Deleted Report.txt"));
    }
    // An info block that does not say the journal lies in the volume: nothing is read.
    std::vector<u8> outside = image;
    ByteWriter(outside.data() + layout.journalInfoByte, 512).Be32(f::jib::kFlags, 0);
    auto device = VolumeDevice(outside, 512);
    CHFSPlusVolume volume(device.get(), false);
    EXPECT_EQ(result::KindOf(volume.GetJournal()->GetStatus()), f::kKindReadFailed);
    EXPECT_TRUE(volume.GetJournal()->InfoBlock().has_value());
    EXPECT_FALSE(volume.GetJournal()->Header().has_value());
    EXPECT_TRUE(Scan(volume).catalog.empty());
}

TEST(HfsPlusJournal, ReadsWrapAtTheJournalsEnd) {
    hfs::Layout layout;
    std::vector<u8> image = hfs::FixtureWriter("journaled").Build(&layout);
    for (size_t i = 0; i < 8; ++i) image[layout.journalByte + layout.journalSize - 8 + i] = u8(0xA0 + i);
    auto device = VolumeDevice(image, 512);
    CHFSPlusVolume volume(device.get(), false);
    u8 bytes[16];
    EXPECT_EQ(volume.GetJournal()->Read(layout.journalSize - 8, bytes, 16), 16u);
    EXPECT_EQ(bytes[7], 0xA7);
    EXPECT_EQ(ByteReader(bytes + 8, 8).Le32(0).value(), f::jhdr::kMagicValue);
    // An offset past the end is taken modulo the size.
    u8 again[4];
    EXPECT_EQ(volume.GetJournal()->Read(layout.journalSize, again, 4), 4u);
    EXPECT_EQ(ByteReader(again, 4).Le32(0).value(), f::jhdr::kMagicValue);
}
