#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "UtilitiesTestSupport.h"
#include "bridge/Utilities/FileTime.h"
#include "bridge/Utilities/KXCPPPublic.h"
#include "bridge/Utilities/KXPublicUtilities.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "bridge/Utilities/TextUtilities.h"
#include "platform/foundation/ResourcePropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TempDir.h"

using utilities_test::FileTimeOf;

namespace {

TEST(KXPublicUtilities, SizeTexts) {
    struct Case {
        i64 bytes;
        const char* diskSize;     // longlongDiskSize
        const char* volumeSpace;  // convertVolSpace (GB is its largest unit)
    };
    const std::vector<Case> cases = {
        {0, "0 byte", "0 byte"},
        {999, "999 byte", "999 byte"},
        {1000, "1.00 KB", "1.00 KB"},
        {1500, "1.50 KB", "1.50 KB"},
        {1500000, "1.50 MB", "1.50 MB"},
        {2500000000LL, "2.50 GB", "2.50 GB"},
        {999999999999LL, "1000.00 GB", "1000.00 GB"},
        {1000000000000LL, "1.00 TB", "1000.00 GB"},
        {3210000000000LL, "3.21 TB", "3210.00 GB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KXPublicUtilities::longlongDiskSize(c.bytes), c.diskSize) << c.bytes;
        EXPECT_EQ(KXPublicUtilities::longlongConvertVolSpace(c.bytes), c.diskSize) << c.bytes;
        EXPECT_EQ(KXPublicUtilities::convertVolSpace(static_cast<u64>(c.bytes)), c.volumeSpace) << c.bytes;
    }
    EXPECT_EQ(KXPublicUtilities::longlongDiskSize(-5), "-5 byte");
}

TEST(KXPublicUtilities, SizesFromTextAndTheTwoGigabyteTest) {
    const std::vector<std::pair<const char*, u64>> cases = {
        {"1.5 GB", 1500000000ull},
        {"2 KB", 2000},
        {"1.50 MB", 1500000},
        {"1 TB", 999999995904ull},
        {"12 XB", 0},
        {"999 byte", 0},
        {"", 0},
        {"B", 0},
        {"-3 MB", 0},
    };
    for (const auto& [text, bytes] : cases) EXPECT_EQ(KXPublicUtilities::volSpaceFromString(text), bytes) << text;
    EXPECT_EQ(KXPublicUtilities::volSpaceFromString(nullptr), 0u);
    EXPECT_FALSE(KXPublicUtilities::isMoreThan2GB(999999));
    EXPECT_FALSE(KXPublicUtilities::isMoreThan2GB(2048999999));
    EXPECT_TRUE(KXPublicUtilities::isMoreThan2GB(2049000000));
}

TEST(KXPublicUtilities, FileSystemNames) {
    const std::vector<std::pair<int, const char*>> cases = {
        {0, "FAT12"}, {1, "FAT16"}, {2, "FAT32"}, {3, "NTFS"},     {4, "EXT2"},  {5, "EXT3"},  {6, "RAW"},
        {7, "EXFAT"}, {8, "HFS+"},  {9, "APFS"},  {10, "Unknown"}, {11, "Disk"}, {-1, "Disk"},
    };
    for (const auto& [code, name] : cases) {
        EXPECT_EQ(KXPublicUtilities::fileSystemTypeForInt(code, 0, 0), name) << code;
        EXPECT_EQ(KXPublicUtilities::fileSystemTypeForInt(code, 0, 1), name) << "the EDI flag is not looked at";
        EXPECT_EQ(KXPublicUtilities::fileSystemTypeForInt(code, 1, 0), "Disk Image");
    }
}

TEST(KXPublicUtilities, SystemVersionAndLanguage) {
    EXPECT_EQ(KXPublicUtilities::getSystemVersion(), 1015);
    testsupport::TempDir dir;
    brelvox::foundation::UserDefaults defaults((dir / "d.plist").string());
    EXPECT_EQ(KXPublicUtilities::GetCurrentLanaguage(&defaults), "");
    defaults.SetStringArray("AppleLanguages", {"ja", "en"});
    EXPECT_EQ(KXPublicUtilities::GetCurrentLanaguage(&defaults), "ja");
}

TEST(KXPublicUtilities, PrivateDataKeysGoThroughTheOverlay) {
    testsupport::TempDir resources, settings;
    testsupport::WriteFile(resources / "PrivateData.plist",
                           "<plist><dict><key>PRODUCTNAME</key><string>Brelvox</string>"
                           "<key>INSTALL_VERSION</key><string>2.0</string><key>isBootable</key><string>YES</string>"
                           "</dict></plist>");
    brelvox::foundation::ResourcePropertyList list("PrivateData", resources.str(), settings.str());
    EXPECT_EQ(KXPublicUtilities::getProductName(&list), "Brelvox");
    EXPECT_EQ(KXPublicUtilities::getInstallVersion(&list), "2.0");
    EXPECT_TRUE(KXPublicUtilities::isBootable(&list));
    EXPECT_FALSE(KXPublicUtilities::hasBrandingFlag(&list));
    EXPECT_FALSE(KXPublicUtilities::getUpDataTimeStr(&list).has_value());
    ASSERT_TRUE(KXPublicUtilities::writeUpDataTimeStr("2024-01-02 03:04:05", &list));
    EXPECT_EQ(KXPublicUtilities::getUpDataTimeStr(&list), "2024-01-02 03:04:05");
    EXPECT_TRUE(std::filesystem::exists(settings / "PrivateData.plist"));
}

TEST(FileTime, ConversionIsSignedAndLocalTimeChecked) {
    EXPECT_EQ(bridge_time::ConvertWindowsTimeToUnixTime(FileTimeOf(0)), 0);
    EXPECT_EQ(bridge_time::ConvertWindowsTimeToUnixTime(0), -11644473600LL);
    EXPECT_EQ(bridge_time::ConvertWindowsTimeToUnixTime(FileTimeOf(-1)), -1) << "before 1970 does not wrap";
    EXPECT_EQ(bridge_time::ConvertWindowsTimeToUnixTime(FileTimeOf(-1) + 1), -1);

    struct Case {
        _FILETIME time;
        int year, month;
    };
    const std::vector<Case> cases = {
        {FileTimeOf(1399111500), 2014, 5},  // 2014-05-03 10:05 UTC
        {FileTimeOf(-86400), 1969, 12},
        {0, 1601, 1},
        {INT64_MAX, 30828, 9},
    };
    for (const auto& c : cases) {
        int year = -1, month = -1;
        KXUIPublic::GetYearAndMonthByFileTime(&year, &month, c.time);
        EXPECT_EQ(year, c.year) << c.time;
        EXPECT_EQ(month, c.month) << c.time;
    }
    KXUIPublic::GetYearAndMonthByFileTime(nullptr, nullptr, 0);  // null outs are skipped
}

TEST(FileTime, ListTextRoundTrip) {
    const std::string text = KXUIPublic::FormatFileTimeToString(FileTimeOf(1399111500));
    EXPECT_EQ(text, "May 03, 2014 at 10:05");
    EXPECT_EQ(KXPublicUtilities::convertDateFromString(text), 1399111500 - 1399111500 % 60);
    EXPECT_FALSE(KXPublicUtilities::convertDateFromString("yesterday").has_value());
}

TEST(KXUIPublic, RecoveryFolderPrefixes) {
    const std::time_t may3 = 1399111500;
    const std::vector<std::pair<u32, std::string>> cases = {
        {31, "HFS+_Recovered Data 2014-05-03_"},
        {32, "Fat_Recovered Data 2014-05-03_"},
        {33, "ExFat_Recovered Data 2014-05-03_"},
        {34, "RAW_"},
        {35, ""},
        {36, "Lable_RAW_Recovered Data 2014-05-03_"},
        {37, "APFS_Recovered Data 2014-05-03_"},
        {38, ""},
        {0, ""},
    };
    for (const auto& [type, prefix] : cases) EXPECT_EQ(KXUIPublic::GetFileSystemStrByType(type, may3), prefix) << type;
    EXPECT_EQ(KXUIPublic::GetFileSystemStrByType(34), "RAW_");
}

TEST(Text, CaseInsensitiveSearchAndUtf8) {
    struct Case {
        const char* needle;
        const char* text;
        bool found;
    };
    const std::vector<Case> cases = {
        {"photo", "HOLIDAY PHOTO.JPG", true},
        {"", "x", true},
        {nullptr, nullptr, true},
        {"x", nullptr, false},
        {"är", "ÄRGER.txt", true},
        {"Straße", "STRASSE", false},
        {"abc", "ab", false},
        {"\xff", "a\xff", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KXUIPublic::IsStringInString(c.needle, c.text), c.found) << (c.needle ? c.needle : "(null)");
    }
    EXPECT_TRUE(isValidString("plain"));
    EXPECT_TRUE(isValidString("\xc3\xa4"));
    EXPECT_FALSE(isValidString(nullptr));
    EXPECT_FALSE(isValidString("\xc3"));          // cut sequence
    EXPECT_FALSE(isValidString("\xc0\xaf"));      // overlong "/"
    EXPECT_FALSE(isValidString("\xed\xa0\x80"));  // surrogate

    char input[] = "a\xc3\xa4";
    wchar_t output[4] = {};
    char* in = input;
    size_t inLeft = 3;
    char* out = reinterpret_cast<char*>(output);
    size_t outLeft = sizeof output;
    EXPECT_EQ(UTF82WCHAR(&in, &inLeft, &out, &outLeft), 0u);
    EXPECT_EQ(inLeft, 0u);
    EXPECT_EQ(output[0], L'a');
    EXPECT_EQ(output[1], static_cast<wchar_t>(0xE4));
}

TEST(KXCPPPublic, CategoryTitles) {
    auto& u = KXCPPPublic::instance();
    EXPECT_EQ(u.FilterTypeToString(2), "Pictures");
    EXPECT_EQ(u.FilterTypeToString(3), "");
    const std::vector<std::pair<const char*, u32>> cases = {
        {"Documents", 1}, {"Pictures", 2}, {"Movies", 4},    {"Music", 8}, {"Archives", 16},
        {"E-mail", 32},   {"Other", 64},   {"pictures", 64}, {"", 64},     {nullptr, 64},
    };
    for (const auto& [text, bit] : cases) EXPECT_EQ(u.StringToFilterType(text), bit) << (text ? text : "(null)");
    EXPECT_TRUE(u.IsTypeString("Music", 8));
    EXPECT_FALSE(u.IsTypeString(nullptr, 8));
    EXPECT_EQ(u.GetStringByID(7), "abc");
}

}  // namespace
