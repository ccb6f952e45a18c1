// The extension table and the file-type filter.
#include <gtest/gtest.h>

#include <string>

#include "engine/RecoveryFilter/RecoveryFilter.h"
#include "support/SimpleFileNode.h"

using testsupport::SimpleFileNode;

namespace {

// Sets the category strings for one test and restores empty ones afterwards.
class FilterTest : public testing::Test {
protected:
    void SetUp() override {
        std::map<int, std::string> lists{{1, "doc;txt;pdf;jpg"}, {2, "jpg;png;GIF"}, {4, "mov;mp4"},
                                         {8, "mp3;wav;m4a"},     {16, "zip;rar"},    {32, "eml;msg"}};
        CFileTypeManager::Initialze(lists);
    }
    void TearDown() override {
        std::map<int, std::string> empty;
        CFileTypeManager::Initialze(empty);
    }
};

}  // namespace

TEST_F(FilterTest, InitialzeTakesTheSixKeys) {
    EXPECT_EQ(CFileTypeManager::strDocument, "doc;txt;pdf;jpg");
    EXPECT_EQ(CFileTypeManager::strPics, "jpg;png;GIF");
    EXPECT_EQ(CFileTypeManager::strMovies, "mov;mp4");
    EXPECT_EQ(CFileTypeManager::strMusic, "mp3;wav;m4a");
    EXPECT_EQ(CFileTypeManager::strArchives, "zip;rar");
    EXPECT_EQ(CFileTypeManager::strEmail, "eml;msg");
}

TEST_F(FilterTest, LookupIsCaseInsensitiveAndFirstCategoryWins) {
    CFileTypeManager manager;
    manager.Initialize();
    struct Case {
        const char* ext;
        FILE_TYPE_ID id;
    } cases[] = {{"jpg", FILE_TYPE_PICTURE},
                 {"JPG", FILE_TYPE_PICTURE},
                 {"gif", FILE_TYPE_PICTURE},
                 {"Mp3", FILE_TYPE_MUSIC},
                 {"mov", FILE_TYPE_MOVIE},
                 {"zip", FILE_TYPE_ARCHIVE},
                 {"eml", FILE_TYPE_EMAIL},
                 {"pdf", FILE_TYPE_DOCUMENT},
                 {"xyz", FILE_TYPE_OTHER},
                 {"", FILE_TYPE_OTHER},
                 {"d\xC3\xA9j\xC3\xA0", FILE_TYPE_OTHER}};
    for (const auto& c : cases) EXPECT_EQ(manager.GetFileTypeID(c.ext), c.id) << c.ext;
    EXPECT_EQ(manager.GetFileTypeID(nullptr), FILE_TYPE_OTHER);
}

TEST(FileTypeManager, SplittingAndTrailingSeparator) {
    CFileTypeManager manager;
    manager.Insert2Table("abc;def", FILE_TYPE_MUSIC);
    EXPECT_EQ(manager.GetFileTypeID("abc"), FILE_TYPE_MUSIC);
    EXPECT_EQ(manager.GetFileTypeID("def"), FILE_TYPE_MUSIC);
    EXPECT_EQ(manager.GetFileTypeID(""), FILE_TYPE_OTHER);
    manager.Insert2Table("ghi;", FILE_TYPE_EMAIL);
    EXPECT_EQ(manager.GetFileTypeID("ghi"), FILE_TYPE_EMAIL);
    EXPECT_EQ(manager.GetFileTypeID(""), FILE_TYPE_EMAIL);  // the empty key after the trailing ";"
}

TEST(KeHashTable, ConstantsOfTheScheme) {
    CKeHashTable table;
    EXPECT_EQ(table.GetHashCode("", 0), 0x7FED7FEDu);
    EXPECT_EQ(table.GetHashCode("abc", 1), table.GetHashCode("ABC", 1));
    EXPECT_NE(table.GetHashCode("abc", 1), table.GetHashCode("abc", 2));
    // Non-ASCII bytes are hashed as unsigned values and never upper-cased (ASan guards the index).
    const char high[] = {'\xFF', '\x80', '\xE9', 0};
    EXPECT_EQ(table.GetHashCode(high, 2), table.GetHashCode(high, 2));
    EXPECT_NE(table.GetHashCode("\xE9", 0), table.GetHashCode("\xC9", 0));
    EXPECT_EQ(table.InsertNode(nullptr, 1), 0);
    EXPECT_EQ(table.InsertNode(high, 4), 1);
    u32 value = 0;
    EXPECT_EQ(table.FindNode(high, value), 1);
    EXPECT_EQ(value, 4u);
    EXPECT_EQ(table.GetHashTablePos("absent"), -1);
}

TEST(KeHashTable, FullTableRefusesAndProbesPastGaps) {
    CKeHashTable table;
    char key[16];
    for (u32 i = 0; i < CKeHashTable::kEntries; ++i) {
        snprintf(key, sizeof key, "k%u", i);
        ASSERT_EQ(table.InsertNode(key, i), 1) << i;
    }
    EXPECT_EQ(table.InsertNode("one-more", 1), 0);
    for (u32 i = 0; i < CKeHashTable::kEntries; i += 97) {
        snprintf(key, sizeof key, "k%u", i);
        u32 value = 0;
        ASSERT_EQ(table.FindNode(key, value), 1) << i;
        EXPECT_EQ(value, i);
    }
    EXPECT_EQ(table.GetHashTablePos("absent"), -1);  // a full circle ends the probe
}

TEST_F(FilterTest, FilterBitsAndCategories) {
    CRecoveryFilter filter;
    SimpleFileNode song(1, 0, "a.b.MP3", false), picture(2, 0, "x.png", false), folder(3, 0, "music.mp3", true);
    SimpleFileNode noDot(4, 0, "README", false), unknown(5, 0, "x.qqq", false), movie(6, 0, "m.mov", false);

    filter.SetFilterTypes(FILTER_ALL);
    for (auto* n : {&song, &picture, &folder, &noDot, &unknown}) EXPECT_EQ(filter.IsFileNodeValid(n), 1);

    filter.SetFilterTypes(FILTER_PICTURE);
    EXPECT_EQ(filter.IsFileNodeValid(&song), 0);
    EXPECT_EQ(filter.IsFileNodeValid(&picture), 1);
    EXPECT_EQ(filter.IsFileNodeValid(&folder), 1);
    EXPECT_EQ(filter.IsFileNodeValid(&noDot), 0);
    EXPECT_EQ(filter.IsFileNodeValid(nullptr), 0);

    filter.SetFilterTypes(FILTER_MOVIE);  // bit 4 is movies, not music
    EXPECT_EQ(filter.IsFileNodeValid(&movie), 1);
    EXPECT_EQ(filter.IsFileNodeValid(&song), 0);
    filter.SetFilterTypes(FILTER_OTHER);
    EXPECT_EQ(filter.IsFileNodeValid(&unknown), 1);
    EXPECT_EQ(filter.IsFileNodeValid(&noDot), 1);

    EXPECT_EQ(filter.GetNodeFileType(&song), 8u);
    EXPECT_EQ(filter.GetNodeFileType(&movie), 4u);
    EXPECT_EQ(filter.GetNodeFileType(&picture), 2u);
    EXPECT_EQ(filter.GetNodeFileType(&unknown), 64u);
    EXPECT_EQ(filter.GetNodeFileType(&noDot), 64u);
    EXPECT_EQ(filter.GetNodeFileType(nullptr), 64u);
}

TEST(FilterTables, BitsAndIdsCross) {
    struct Case {
        u32 bit, id;
    } cases[] = {{1, 2}, {2, 3}, {4, 5}, {8, 4}, {16, 6}, {32, 7}, {64, 8}};
    for (const auto& c : cases) {
        EXPECT_EQ(FilterBitToFileType(c.bit), c.id);
        EXPECT_EQ(FileTypeToFilterBit(c.id), c.bit);
    }
    EXPECT_EQ(FileTypeToFilterBit(0), 64u);
}

TEST(RecoveryFilter, ScanTypeAndSingleton) {
    IRecoveryFilter* filter = CreateFilter();
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(CreateFilter(), filter);
    filter->SetScanType(SCAN_QUICK);
    EXPECT_EQ(filter->ShowNormalFiles(), 0);
    filter->SetScanType(SCAN_DEEP);
    EXPECT_EQ(filter->ShowNormalFiles(), 1);
    filter->Release();  // a no-op: the singleton lives on
    EXPECT_EQ(CreateFilter()->ShowNormalFiles(), 1);
}
