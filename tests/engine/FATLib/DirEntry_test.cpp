// Directory entries, names, times, the directory-sector test, properties and the node.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/FATLib/FATDirEntry.h"
#include "engine/FATLib/FATFileNode.h"
#include "engine/FATLib/FATFileProperties.h"
#include "engine/Utility/IDataRunList.h"

namespace {

struct Entry {
    u8 b[32] = {};
    Entry(const char* name11, u8 attribute, u32 cluster = 0, u32 size = 0) {
        std::memcpy(b, name11, 11);
        b[11] = attribute;
        b[20] = static_cast<u8>(cluster >> 16);
        b[21] = static_cast<u8>(cluster >> 24);
        b[26] = static_cast<u8>(cluster);
        b[27] = static_cast<u8>(cluster >> 8);
        for (int k = 0; k < 4; ++k) b[28 + k] = static_cast<u8>(size >> (8 * k));
    }
    Entry& Date(int at, u16 v) {
        b[at] = static_cast<u8>(v);
        b[at + 1] = static_cast<u8>(v >> 8);
        return *this;
    }
};

// A long-name entry holding up to 13 UTF-16 units (terminated and padded with 0xFFFF as on disk).
Entry LongPiece(const std::u16string& units, u8 ordinal = 1) {
    Entry e("           ", 0x0F);
    e.b[0] = ordinal;
    static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int i = 0; i < 13; ++i) {
        u16 u = 0xFFFF;
        if (i < static_cast<int>(units.size())) u = units[i];
        if (i == static_cast<int>(units.size())) u = 0;
        e.b[kOffsets[i]] = static_cast<u8>(u);
        e.b[kOffsets[i] + 1] = static_cast<u8>(u >> 8);
    }
    return e;
}

std::vector<u8> Join(std::initializer_list<Entry> entries) {
    std::vector<u8> out;
    for (const Entry& e : entries) out.insert(out.end(), e.b, e.b + 32);
    return out;
}

}  // namespace

TEST(FatDirEntry, ValidityTable) {
    struct Case {
        const char* what;
        Entry entry;
        bool checkClusters;
        bool valid;
    } cases[] = {
        {"plain file", Entry("README  TXT", 0x20, 5, 10), true, true},
        {"dates and times 0", Entry("A          ", 0x20, 5, 10), true, true},
        {"month 13", Entry("A          ", 0x20, 5, 10).Date(24, (13 << 5) | 1), true, false},
        {"day 0", Entry("A          ", 0x20, 5, 10).Date(16, (1 << 5)), true, false},
        {"minute 60", Entry("A          ", 0x20, 5, 10).Date(22, 60 << 5), true, false},
        {"two-second field 30", Entry("A          ", 0x20, 5, 10).Date(14, 30), true, false},
        {"hour 24", Entry("A          ", 0x20, 5, 10).Date(22, 24 << 11), true, false},
        {"size 0 with a cluster", Entry("A          ", 0x20, 5, 0), true, false},
        {"size 0 with a cluster, unchecked", Entry("A          ", 0x20, 5, 0), false, true},
        {"size without cluster", Entry("A          ", 0x20, 0, 7), true, false},
        {"folder with size and high word", Entry("D          ", 0x10, 0x10005, 512), true, false},
        {"attribute above 63", Entry("A          ", 0x80, 5, 10), false, false},
        {"attribute 0x40", Entry("A          ", 0x40 | 0x20, 5, 10), false, false},
        {"label", Entry("MY LABEL   ", 0x08), true, true},
        {"long-name piece", Entry("\x41\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 0x0F), true, true},
        {"leading blank", Entry(" A         ", 0x20, 5, 1), true, false},
        {"control byte", Entry("A\x05         ", 0x20, 5, 1), true, false},
        {"question mark", Entry("A?         ", 0x20, 5, 1), true, false},
        {"erased name",
         Entry("\xE5"
               "BC     TXT",
               0x20, 5, 1),
         true, true},
        {"two-byte character hides a '?'", Entry("\x81?         ", 0x20, 5, 1), true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CTempFATDirEntry(c.entry.b).IsValidFATDirEntry(c.checkClusters), c.valid) << c.what;
    }
}

// The attribute test looks at the entry under test, not at the one the view was made over.
TEST(FatDirEntry, InitFromBufferTestsTheNewEntry) {
    Entry good("GOOD    TXT", 0x20, 5, 10);
    Entry bad("BAD     TXT", 0xC0, 5, 10);
    CTempFATDirEntry view(good.b);
    EXPECT_FALSE(view.InitFromBuffer(bad.b));
    EXPECT_TRUE(view.InitFromBuffer(good.b));
}

TEST(FatDirEntry, ShortNames) {
    EXPECT_EQ(CTempFATDirEntry(Entry("ABC     TXT", 0x20).b).GetShortName(), "ABC.TXT");
    EXPECT_EQ(CTempFATDirEntry(Entry("ABC     TXT", 0x20).b).GetShortName(true), "ABCTXT");
    EXPECT_EQ(CTempFATDirEntry(Entry("README     ", 0x20).b).GetShortName(), "README");
    EXPECT_EQ(CTempFATDirEntry(Entry("\xE5"
                                     "BC     TXT",
                                     0x20)
                                   .b)
                  .GetShortName(),
              "#BC.TXT");
    EXPECT_EQ(CTempFATDirEntry(Entry("CAF\x90    TXT", 0x20).b).GetShortName(), "CAF_.TXT");
    // The lower-case flags of byte 12: 0x08 the base, 0x10 the extension (digits and marks stay).
    const struct {
        const char* name11;
        u8 flags;
        const char* shown;
    } cases[] = {{"SUMMER  TXT", 0x18, "summer.txt"}, {"README  TXT", 0x10, "README.txt"},
                 {"NOTES   TXT", 0x08, "notes.TXT"},  {"SUMMER  TXT", 0x00, "SUMMER.TXT"},
                 {"\xE5ONE    TXT", 0x18, "#one.txt"}, {"FILE_1  B~1", 0x18, "file_1.b~1"},
                 {"MAKEFILE   ", 0x08, "makefile"},   {"CAF\x90    TXT", 0x18, "caf_.txt"}};
    for (const auto& c : cases) {
        Entry e(c.name11, 0x20);
        e.b[12] = c.flags;
        EXPECT_EQ(CTempFATDirEntry(e.b).GetShortName(), c.shown) << c.shown;
    }
}

TEST(FatDirEntry, LongNamePiecesAndTheirOrder) {
    // A piece with U+0000 then 0xFFFF padding is cut at the U+0000.
    EXPECT_EQ(CTempFATDirEntry(LongPiece(u"ab").b).GetLongFileName(), "ab");
    EXPECT_EQ(CTempFATDirEntry(LongPiece(u"").b).GetLongFileName(), "_");
    // 20 characters: the piece of 7 comes first on disk, then the piece of 13.
    auto run = Join({LongPiece(u"MNOPQRS", 0x42), LongPiece(u"ABCDEFGHIJKL.", 1), Entry("ABCDEF~1TXT", 0x20, 9, 5)});
    std::unique_ptr<CFATFileProperties> p(
        CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(run.data(), static_cast<u32>(run.size())));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->m_name, "ABCDEFGHIJKL.MNOPQRS");
    EXPECT_EQ(p->m_firstCluster, 9u);
    EXPECT_EQ(p->m_size, 5);
}

TEST(FatDirEntry, SurrogatePairsSurviveEvenAcrossPieces) {
    // "smile 😀.txt": the pair inside one piece.
    auto one = Join({LongPiece(u"smile \xD83D\xDE00.txt"), Entry("SMILE_~1TXT", 0x20, 3, 1)});
    std::unique_ptr<CFATFileProperties> p(
        CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(one.data(), static_cast<u32>(one.size())));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->m_name, "smile \xF0\x9F\x98\x80.txt");
    // The high surrogate ends the first piece, the low one starts the second.
    auto split =
        Join({LongPiece(u"\xDE00x", 0x42), LongPiece(u"abcdefghijkl\xD83D", 1), Entry("ABCDEF~1   ", 0x20, 3, 1)});
    std::unique_ptr<CFATFileProperties> q(CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(
        split.data(), static_cast<u32>(split.size())));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->m_name, "abcdefghijkl\xF0\x9F\x98\x80x");
}

TEST(FatDirEntry, InvalidLongNamesFallBackToTheShortName) {
    auto run = Join({LongPiece(u"a/b"), Entry("AB      TXT", 0x20, 3, 1)});
    std::unique_ptr<CFATFileProperties> p(
        CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(run.data(), static_cast<u32>(run.size())));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->m_name, "AB.TXT");
    // No 8.3 entry ends the run: nothing.
    auto pieces = Join({LongPiece(u"abc")});
    EXPECT_EQ(CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(pieces.data(), 32), nullptr);
    // Full pieces without end grow past the limit: nothing.
    std::vector<u8> many;
    for (int i = 0; i < 200; ++i) {
        Entry e = LongPiece(u"abcdefghijklm");
        many.insert(many.end(), e.b, e.b + 32);
    }
    Entry last("AB      TXT", 0x20, 3, 1);
    many.insert(many.end(), last.b, last.b + 32);
    EXPECT_EQ(
        CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(many.data(), static_cast<u32>(many.size())),
        nullptr);
}

TEST(FatDirEntry, DatesBecomeFileTimesThroughLocalTime) {
    _FILETIME t = 0;
    DosDateTimeToFileTime(0x3A21, 0x6000, &t);  // 2009-01-01 12:00:00, TZ=UTC in tests
    EXPECT_EQ((t - kFileTimeOf1970) / 10000000, 1230811200);
    auto e = Entry("A       TXT", 0x20, 5, 10).Date(24, 0x3A21).Date(22, 0x6000).Date(18, 0x3A21);
    std::unique_ptr<CFATFileProperties> p(CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntry("A.TXT", e.b));
    EXPECT_EQ(p->m_modificationTime, t);
    EXPECT_EQ((p->m_lastAccessTime - kFileTimeOf1970) / 10000000, 1230768000);
    EXPECT_EQ(p->m_state, 0);
    auto erased = Entry(
        "\xE5"
        "       TXT",
        0x20, 5, 10);
    std::unique_ptr<CFATFileProperties> d(CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntry("x", erased.b));
    EXPECT_EQ(d->m_state, 1);
}

TEST(FatFolderAnalyser, SectorStates) {
    auto sector = [](std::initializer_list<Entry> entries) {
        std::vector<u8> s(512, 0);
        auto joined = Join(entries);
        std::copy(joined.begin(), joined.end(), s.begin());
        return s;
    };
    struct Case {
        const char* what;
        std::vector<u8> bytes;
        int state;
    } cases[] = {
        {"dot entries, rest invalid",
         [&] {
             auto s = sector({Entry(".          ", 0x10, 7), Entry("..         ", 0x10, 2)});
             std::fill(s.begin() + 64, s.end(), 0xA5);
             return s;
         }(),
         2},
        {"two files then zeros", sector({Entry("A       TXT", 0x20, 5, 1), Entry("B       TXT", 0x20, 6, 1)}), 1},
        {"two empty files share cluster 0",
         sector({Entry("A       TXT", 0x20, 0, 0), Entry("B       TXT", 0x20, 0, 0)}), 0},
        {"all zero", std::vector<u8>(512, 0), 0},
        {"files then garbage",
         [&] {
             auto s = sector({Entry("A       TXT", 0x20, 5, 1)});
             std::fill(s.begin() + 32, s.end(), 0xA5);
             return s;
         }(),
         0},
    };
    for (const auto& c : cases) {
        CFATFolderAnalyser analyser(512);
        EXPECT_EQ(analyser.AnalyseSector(c.bytes.data()), c.state) << c.what;
    }
    CFATFolderAnalyser analyser(512);
    auto dots =
        sector({Entry(".          ", 0x10, 7), Entry("..         ", 0x10, 2), Entry("A       TXT", 0x20, 9, 1)});
    int calls = 0;
    analyser.AnalyseSector(
        dots.data(),
        [](const u8*, int, bool dotsSeen, void* ctx) {
            EXPECT_TRUE(dotsSeen);
            ++*static_cast<int*>(ctx);
        },
        &calls);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(analyser.CurrentDirCluster(), 7u);
    EXPECT_EQ(analyser.ParentDirCluster(), 2u);
    EXPECT_EQ(analyser.MaxCluster(), 9u);
}

TEST(FatFileNode, PropertiesIdsCloneAndAssignment) {
    auto* p = CFATFileProperties::Create();
    p->SetFileName("..hidden");
    p->m_firstCluster = 0x1234;
    p->m_parentFirstCluster = 0x20;
    p->m_metadataSector = 0x777;
    p->m_attribute = 0x20;
    p->m_size = 99;
    IDataRunList* runs = CreateDataRunList();
    runs->AddDataRun(DataRun{3, 2});
    p->SetDataRunList(runs);
    CFATFileNode node;
    node.SetFileProperties(p);
    EXPECT_EQ(node.GetCurrentNodeID(), 0x1234);
    EXPECT_EQ(node.GetParentNodeID(), 0x20);
    EXPECT_EQ(node.GetMetadataStartPosition(), 0x777);
    EXPECT_EQ(node.GetStatusWord() & 0xFFFFFF, CFileNode::kInitialStatus & 0xFFFFFF);
    EXPECT_EQ(node.GetSearcheType(), SEARCHER_FAT);
    node.FilterFileNameByDot();
    EXPECT_STREQ(node.GetFileName(), "hidden");
    node.MarkDeleted();
    EXPECT_EQ(node.IsDeleted(), 1u);

    std::unique_ptr<IFileNode> copy(node.Clone());
    auto* fatCopy = dynamic_cast<CFATFileNode*>(copy.get());
    ASSERT_NE(fatCopy, nullptr);
    ASSERT_NE(fatCopy->GetFileProperties(), p);
    // The copy's properties own their own run list.
    ASSERT_NE(fatCopy->GetFileProperties()->GetDataRunList(), nullptr);
    EXPECT_NE(fatCopy->GetFileProperties()->GetDataRunList(), runs);
    EXPECT_STREQ(copy->GetFileName(), "hidden");

    // Assignment copies the fields but never the extents.
    CFATFileProperties other;
    other = *p;
    EXPECT_EQ(other.m_name, "hidden");
    EXPECT_EQ(other.m_firstCluster, 0x1234u);
    EXPECT_EQ(other.GetDataRunList(), nullptr);
    std::unique_ptr<IFileProperties> clone(p->Clone());
    EXPECT_STREQ(clone->GetFileName(), "hidden");
    CFATFileProperties::Destory(nullptr);
}

TEST(FatDirEntry, Utf16ToUtf8AndItsLength) {
    const struct {
        std::u16string units;
        std::string utf8;
    } cases[] = {
        {u"", ""},
        {u"plain.txt", "plain.txt"},
        {u"\u00e9t\u00e9", "\xc3\xa9t\xc3\xa9"},
        {u"\u6587\u4ef6", "\xe6\x96\x87\xe4\xbb\xb6"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},
        {std::u16string(1, char16_t(0xD83D)), "\xef\xbf\xbd"},  // high surrogate alone
        {std::u16string(1, char16_t(0xDE00)) + u"a",
         "\xef\xbf\xbd"
         "a"},                                                              // low surrogate alone
        {std::u16string(2, char16_t(0xD83D)), "\xef\xbf\xbd\xef\xbf\xbd"},  // two highs
        {std::u16string(40, u'\u20ac'),
         [] {
             std::string s;
             for (int i = 0; i < 40; ++i) s += "\xe2\x82\xac";
             return s;
         }()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fat::Utf16ToUtf8(c.units), c.utf8);
        EXPECT_EQ(fat::Utf8Length(c.units.data(), c.units.size()), c.utf8.size());
    }
}
