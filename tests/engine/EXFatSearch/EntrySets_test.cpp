// exFAT entry sets: the entry tests, the names, and the assembler that turns a folder's entries into
// records across buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "engine/EXFatSearch/EFDTAnalyze.h"
#include "engine/EXFatSearch/ExFatTestSupport.h"
#include "engine/EXFatSearch/FDTPreAnalyze.h"

using exfattest::MakeSet;
using exfattest::SetShape;

namespace {

constexpr u64 kTotalSectors = 1 << 20;

std::vector<u8> Join(std::initializer_list<std::vector<u8>> parts) {
    std::vector<u8> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Fed {
    bool consumed;
    std::vector<_tagFileBaseInfo> records;
};

Fed Feed(const std::vector<u8>& entries) {
    CEFDTAnalyze analyzer;
    analyzer.PrepareAnayze(9, 12, kTotalSectors);
    const bool consumed = analyzer.Analyze(entries.data(), static_cast<unsigned>(entries.size()), 77);
    return {consumed, analyzer.GetFileList()};
}

SetShape Named(std::u16string name) {
    SetShape shape;
    shape.name = std::move(name);
    shape.firstCluster = 9;
    shape.length = 1234;
    return shape;
}

// A set with one byte changed (offset from the set's start).
std::vector<u8> Patched(const SetShape& shape, size_t offset, std::vector<u8> bytes) {
    std::vector<u8> set = MakeSet(shape);
    std::copy(bytes.begin(), bytes.end(), set.begin() + static_cast<long>(offset));
    return set;
}

std::vector<u8> Entry(u8 type, std::function<void(ByteWriter&)> fill = nullptr) {
    std::vector<u8> e(32, 0);
    e[0] = type;
    ByteWriter w(e);
    if (fill) fill(w);
    return e;
}

}  // namespace

TEST(ExFatEntrySets, RecordsOfCompleteSets) {
    const std::u16string emoji = u"smile \U0001F600.txt";
    // Fourteen characters, then a pair of surrogates split over the first two name entries.
    const std::u16string split = u"fourteen chars\U0001F600 after";
    std::u16string long255(255, u'\u00E9');
    const struct {
        const char* what;
        SetShape shape;
        std::string name;
    } cases[] = {
        {"live", Named(u"readme.txt"), "readme.txt"},
        {"deleted", [] { auto s = Named(u"gone.txt"); s.deleted = true; return s; }(), "gone.txt"},
        {"emoji", Named(emoji), "smile \xF0\x9F\x98\x80.txt"},
        {"surrogate pair split over two entries", Named(split), "fourteen chars\xF0\x9F\x98\x80 after"},
        {"y with diaeresis", Named(u"\u00FF.txt"), "\xC3\xBF.txt"},
        {"characters above 255 always pass", Named(u"\u4E2D\u6587\u2215.txt"), "\xE4\xB8\xAD\xE6\x96\x87\xE2\x88\x95.txt"},
        {"an empty file", [] { auto s = Named(u"empty"); s.firstCluster = 0; s.length = 0; return s; }(), "empty"},
        // 255 two-byte characters: cut at 259 bytes, never inside a character.
        {"a name longer than 259 bytes", Named(long255), [] {
             std::string s;
             for (int i = 0; i < 129; ++i) s += "\xC3\xA9";
             return s;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Fed fed = Feed(MakeSet(c.shape));
        EXPECT_TRUE(fed.consumed);
        ASSERT_EQ(fed.records.size(), 1u);
        const _tagFileBaseInfo& r = fed.records[0];
        EXPECT_EQ(r.Name(), c.name);
        EXPECT_EQ(r.inUse, c.shape.deleted ? 0 : 1);
        EXPECT_EQ(r.firstCluster, c.shape.firstCluster);
        EXPECT_EQ(r.dataLength, static_cast<i64>(c.shape.length));
        EXPECT_EQ(r.noFatChain, 1);
        EXPECT_EQ(r.sector, 77);
        EXPECT_EQ(r.createTime, exfattest::kStamp);
    }
}

// A refused entry, or one that belongs to no set, costs its own set only: the sets before and after it
// are kept and the analysis goes on. Only an entry of type 0 (the folder's end) stops it.
TEST(ExFatEntrySets, RefusedEntriesCostTheirSetOnly) {
    const SetShape shape = Named(u"refused.txt");
    auto stamp = [](u32 year, u32 month, u32 day, u32 hour, u32 minute, u32 twoSeconds) {
        const u32 date = (year - 1980) << 9 | month << 5 | day;
        const u32 time = hour << 11 | minute << 5 | twoSeconds;
        const u32 v = date << 16 | time;
        return std::vector<u8>{static_cast<u8>(v), static_cast<u8>(v >> 8), static_cast<u8>(v >> 16),
                               static_cast<u8>(v >> 24)};
    };
    const struct {
        const char* what;
        std::vector<u8> set;
    } cases[] = {
        {"secondary count 1", Patched(shape, 1, {1})},
        {"secondary count 19", Patched(shape, 1, {19})},
        {"day 0", Patched(shape, 8, stamp(2021, 3, 0, 1, 1, 1))},
        {"month 13", Patched(shape, 12, stamp(2021, 13, 4, 1, 1, 1))},
        {"month 0", Patched(shape, 16, stamp(2021, 0, 4, 1, 1, 1))},
        {"hour 24", Patched(shape, 8, stamp(2021, 3, 4, 24, 1, 1))},
        {"minute 60", Patched(shape, 8, stamp(2021, 3, 4, 1, 60, 1))},
        {"two-second count 30", Patched(shape, 8, stamp(2021, 3, 4, 1, 1, 30))},
        {"10-ms increment 200", Patched(shape, 21, {200})},
        {"stream first cluster 1", Patched(shape, 32 + 20, {1, 0, 0, 0})},
        {"stream length past the device", Patched(shape, 32 + 24, {0, 0, 0, 0, 0, 0x02, 0, 0})},
        {"contiguous run past the last cluster", [] {
             SetShape s = Named(u"refused.txt");
             s.firstCluster = 0xFFFFFFF0;
             s.length = 1 << 20;
             return MakeSet(s);
         }()},
        {"end of folder", Entry(0x00)},
        {"a deleted bitmap entry", Entry(0x01)},
        {"a volume GUID", Entry(0xA0)},
        {"TexFAT padding", Entry(0xA1)},
        {"an unknown type", Entry(0xB3)},
        {"a label of 12 characters", Entry(0x83, [](ByteWriter& w) { w.U8(1, 12); })},
        {"a label with bytes after its characters", Entry(0x83, [](ByteWriter& w) {
             w.U8(1, 1);
             w.Le16(2, 'A');
             w.Le16(6, 'B');
         })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Fed fed = Feed(Join({MakeSet(Named(u"before.txt")), c.set, MakeSet(Named(u"after.txt"))}));
        const bool end = std::string(c.what) == "end of folder";
        EXPECT_EQ(fed.consumed, !end);
        ASSERT_EQ(fed.records.size(), end ? 1u : 2u);
        EXPECT_EQ(fed.records[0].Name(), "before.txt");
        if (!end) {
            EXPECT_EQ(fed.records[1].Name(), "after.txt");
        }
    }
}

// A name entry that fails its test drops its own set; the folder goes on.
TEST(ExFatEntrySets, RefusedNamesDropTheirSetOnly) {
    const SetShape shape = Named(u"refused.txt");
    const struct {
        const char* what;
        std::vector<u8> set;
    } cases[] = {
        {"name flags", Patched(shape, 64 + 1, {1})},
        {"name starting with zero", Patched(shape, 64 + 2, {0, 0})},
        {"name holding '/'", Patched(shape, 64 + 2, {'/', 0})},
        {"name holding ':'", Patched(shape, 64 + 4, {':', 0})},
        {"name holding a control character", Patched(shape, 64 + 2, {0x19, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Fed fed = Feed(Join({MakeSet(Named(u"before.txt")), c.set, MakeSet(Named(u"after.txt"))}));
        EXPECT_TRUE(fed.consumed);
        ASSERT_EQ(fed.records.size(), 2u);
        EXPECT_EQ(fed.records[0].Name(), "before.txt");
        EXPECT_EQ(fed.records[1].Name(), "after.txt");
    }
}

// What the quick search passes over: a valid label, the bitmap and up-case entries; an empty file.
TEST(ExFatEntrySets, EntriesThatPass) {
    const auto label = Entry(0x83, [](ByteWriter& w) {
        w.U8(1, 3);
        for (int i = 0; i < 3; ++i) w.Le16(2 + 2 * i, static_cast<u16>('X' + i));
    });
    const Fed fed = Feed(Join({label, Entry(0x81), Entry(0x82), MakeSet(Named(u"after.txt"))}));
    EXPECT_TRUE(fed.consumed);
    ASSERT_EQ(fed.records.size(), 1u);
    EXPECT_EQ(fed.records[0].Name(), "after.txt");
}

// 'ÿ' is a legal name character: a name holding it is read, and so are the sets behind it.
TEST(ExFatEntrySets, TheNameTable) {
    const auto entries = Join({MakeSet(Named(u"\u00FF first.txt")), MakeSet(Named(u"second.txt"))});
    const Fed fed = Feed(entries);
    EXPECT_TRUE(fed.consumed);
    ASSERT_EQ(fed.records.size(), 2u);
    EXPECT_EQ(fed.records[0].Name(), "\xC3\xBF first.txt");
    const CExFatEntryRules rules(9, 12, kTotalSectors);
    EXPECT_TRUE(rules.IsNameCharacter(0x1A));
    EXPECT_TRUE(rules.IsNameCharacter(0x100));
    EXPECT_TRUE(rules.IsNameCharacter(0xFF));
    EXPECT_TRUE(rules.IsNameCharacter(0xFE));
    EXPECT_FALSE(rules.IsNameCharacter(0x19));
    for (u16 c : {0x22, 0x2A, 0x2F, 0x3A, 0x3C, 0x3E, 0x3F, 0x5C, 0x7C}) EXPECT_FALSE(rules.IsNameCharacter(c)) << c;
}

// Sets that break their own order are dropped without a trace, and the next file entry starts afresh.
TEST(ExFatEntrySets, BrokenSetsAreDropped) {
    SetShape live = Named(u"live.txt");
    std::vector<u8> mixed = MakeSet(live);
    mixed[32] = 0x40;  // a deleted stream behind an in-use file entry
    std::vector<u8> orphanName = MakeSet(Named(u"orphan.txt"));
    orphanName.erase(orphanName.begin(), orphanName.begin() + 64);  // a name entry alone
    std::vector<u8> streamLate = MakeSet(Named(u"late.txt"));
    std::swap_ranges(streamLate.begin() + 32, streamLate.begin() + 64, streamLate.begin() + 64);
    for (const auto& broken : {mixed, orphanName, streamLate}) {
        const Fed fed = Feed(Join({broken, MakeSet(Named(u"next.txt"))}));
        EXPECT_TRUE(fed.consumed);
        ASSERT_EQ(fed.records.size(), 1u);
        EXPECT_EQ(fed.records[0].Name(), "next.txt");
    }
}

// A set cut by the end of a buffer is completed by the next buffer of the same folder; a buffer shorter
// than an entry is consumed.
TEST(ExFatEntrySets, ASetRunsOverIntoTheNextBuffer) {
    const std::vector<u8> set = MakeSet(Named(u"A name that needs three name entries in all.txt"));
    CEFDTAnalyze analyzer;
    analyzer.PrepareAnayze(9, 12, kTotalSectors);
    EXPECT_TRUE(analyzer.Analyze(set.data(), 64, 10));
    EXPECT_TRUE(analyzer.GetFileList().empty());
    EXPECT_TRUE(analyzer.Analyze(set.data() + 64, static_cast<unsigned>(set.size() - 64), 11));
    ASSERT_EQ(analyzer.GetFileList().size(), 1u);
    EXPECT_EQ(analyzer.GetFileList()[0].sector, 10);
    EXPECT_EQ(analyzer.GetFileList()[0].Name(), "A name that needs three name entries in all.txt");
    EXPECT_TRUE(analyzer.Analyze(set.data(), 31, 12));
    EXPECT_TRUE(analyzer.Analyze(nullptr, 64, 12));
}

// The bitmap and up-case tests the deep search uses.
// Reserved bytes of file and stream entries refuse no set: each set goes through with the set after it.
TEST(ExFatEntrySets, ReservedBytesRefuseNoEntry) {
    const SetShape shape = Named(u"reserved.txt");
    const struct {
        const char* what;
        size_t at;
    } cases[] = {{"file reserved 1", 6}, {"file reserved 2", 30}, {"stream reserved 1", 32 + 2},
                 {"stream reserved 2", 32 + 6}, {"stream reserved 3", 32 + 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Fed fed = Feed(Join({MakeSet(Named(u"before.txt")), Patched(shape, c.at, {1}), MakeSet(Named(u"after.txt"))}));
        ASSERT_EQ(fed.records.size(), 3u);
        EXPECT_EQ(fed.records[1].Name(), "reserved.txt");
        EXPECT_EQ(fed.records[2].Name(), "after.txt");
    }
}

TEST(ExFatEntrySets, BitmapAndUpcaseEntries) {
    const CExFatEntryRules rules(9, 12, kTotalSectors);
    auto table = [](u8 type, u32 first, u64 length) {
        return Entry(type, [=](ByteWriter& w) {
            w.Le32(20, first);
            w.Le64(24, length);
        });
    };
    EXPECT_TRUE(rules.IsValidBitmapEntry(ByteReader(table(0x81, 2, 4096))));
    EXPECT_TRUE(rules.IsValidUpcaseEntry(ByteReader(table(0x82, 3, 5836))));
    EXPECT_FALSE(rules.IsValidBitmapEntry(ByteReader(table(0x81, 1, 4096))));
    EXPECT_FALSE(rules.IsValidBitmapEntry(ByteReader(table(0x81, 2, kTotalSectors * 512))));
    EXPECT_FALSE(rules.IsValidUpcaseEntry(ByteReader(table(0x82, 0xFFFFFFF0, 1 << 20))));
    // Reserved bytes refuse neither (formatters leave other bytes there: the public exfat-rawtools images).
    auto reserved = table(0x82, 3, 5836);
    reserved[2] = 1;
    reserved[16] = 1;
    EXPECT_TRUE(rules.IsValidUpcaseEntry(ByteReader(reserved)));
    auto bitmapReserved = table(0x81, 2, 4096);
    for (size_t at = 2; at < 6; ++at) bitmapReserved[at] = 0x7F;
    EXPECT_TRUE(rules.IsValidBitmapEntry(ByteReader(bitmapReserved)));
    EXPECT_TRUE(CFDTPreAnaylze::MayOpenSector(bitmapReserved.data()));
    EXPECT_TRUE(CFDTPreAnaylze::MayOpenSector(reserved.data()));
    EXPECT_FALSE(rules.IsValidFileEntry(ByteReader(MakeSet(Named(u"x")).data(), 31)));
}

// The pre-analysis tests and appends a name entry in one pass: the same answer and the same record as the
// test followed by the append, for every character below 256 at the first, a middle and the last place,
// zeros ending the name early, flags and empty entries, surrogates, a record nearly full or full, and
// random entries; a refused entry leaves the record as it was (units past the count zero).
TEST(ExFatEntrySets, TheOnePassNameEntryAppendIsTheTestThenTheAppend) {
    const CExFatEntryRules rules(9, 12, kTotalSectors);
    std::vector<std::vector<u8>> entries;
    const auto name = [](std::initializer_list<u16> units, u8 flags = 0) {
        return Entry(0xC1, [&](ByteWriter& w) {
            w.U8(1, flags);
            size_t at = 2;
            for (const u16 u : units) w.Le16(at, u), at += 2;
        });
    };
    for (u16 c = 0; c < 256; ++c) {
        entries.push_back(name({c, 'a', 'b'}));
        entries.push_back(name({'a', 'b', 'c', 'd', 'e', 'f', c, 'g'}));
        entries.push_back(name({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', c}));
        entries.push_back(name({'a', 0, c}));
    }
    entries.push_back(name({'a', 'b'}, 1));
    entries.push_back(name({}));
    entries.push_back(name({0xD83D, 0xDE00, 0xFFFF, 0x0100}));
    entries.push_back(Entry(0x41, [](ByteWriter& w) { w.Le16(2, 'x'); }));
    std::mt19937 random(7);
    for (int i = 0; i < 4000; ++i) {
        std::vector<u8> e(32);
        for (u8& b : e) b = static_cast<u8>(random() % 4 == 0 ? random() % 0x80 : random() % 8 == 0 ? random() : 'a');
        e[0] = 0xC1;
        e[1] = random() % 16 == 0 ? 1 : 0;
        entries.push_back(e);
    }
    size_t refused = 0;
    for (const size_t before : {size_t{0}, size_t{20}, size_t{250}, size_t{255}}) {
        _tagFileBaseInfo start;
        for (size_t k = 0; k < before; ++k) start.nameUnits[start.nameUnitCount++] = u'q';
        for (const auto& e : entries) {
            const ByteReader entry(e);
            _tagFileBaseInfo twoPasses = start;
            const bool valid = rules.IsValidNameEntry(entry);
            if (valid) twoPasses.AppendNameEntry(entry);
            _tagFileBaseInfo onePass = start;
            ASSERT_EQ(onePass.AppendValidNameEntry(entry), valid) << before << " units before";
            ASSERT_EQ(onePass.nameUnitCount, twoPasses.nameUnitCount);
            ASSERT_EQ(std::memcmp(onePass.nameUnits, twoPasses.nameUnits, sizeof onePass.nameUnits), 0);
            refused += valid ? 0 : 1;
        }
    }
    EXPECT_GT(refused, 1000u);
    EXPECT_LT(refused, 4 * entries.size() - 1000);
}

// The set checksum against the plain definition (rotate right by one, add the byte; bytes 2 and 3 left
// out), on random sets of every length up to the largest set, as stored and with the types restored.
TEST(ExFatEntrySets, TheSetChecksumIsThePlainDefinition) {
    std::mt19937 random(11);
    std::vector<u8> bytes(19 * 32);
    for (int round = 0; round < 8; ++round) {
        for (u8& b : bytes) b = static_cast<u8>(random());
        for (size_t length = 0; length <= bytes.size(); ++length) {
            for (const bool restore : {false, true}) {
                u16 plain = 0;
                for (size_t i = 0; i < length; ++i) {
                    if (i == 2 || i == 3) continue;
                    u8 b = bytes[i];
                    if (restore && i % 32 == 0) b = i == 0 ? 0x85 : i == 32 ? 0xC0 : 0xC1;
                    plain = static_cast<u16>(((plain >> 1) | (plain << 15)) + b);
                }
                ASSERT_EQ(ExFatSetChecksum(ByteReader(bytes.data(), length), restore), plain)
                    << "length " << length << (restore ? ", types restored" : "");
            }
        }
    }
}
