// The shipped file-type catalogue against the carving search's extension table: every carved type
// lands in the category a user looks for it under, in the engine's filter and in the type tree alike.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ResultTreeTestSupport.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "bridge/Utilities/TextUtilities.h"
#include "engine/Common/FileTypeManager.h"
#include "engine/RAWSearch/Core/RawFileTypes.h"
#include "platform/foundation/FileTypeCatalogue.h"
#include "support/TempDir.h"

using brelvox::foundation::ReadFileTypeCatalogue;
using brelvox::foundation::ResourcePropertyList;
using result_tree_test::WithController;

namespace {

// The category of every row of the carving table, as the table spells its extension.
const std::map<u32, std::vector<std::string>> kCarvedCategories = {
    {1, {"ADP", "CHM", "DOC", "DWG", "DXF", "HLP", "HTM", "MDB", "MNY", "MPP", "ONE", "PDF", "PPT",
         "PUB", "QPW", "RTF", "SHW", "VSD", "WPD", "XLS", "DOCX", "XLSX", "PPTX", "ACCDB", "PAGES", "KEY",
         "NUMBERS", "EPUB", "ODT", "ODS", "ODP", "INDD", "MUSE", "IBA", "MOBI", "ENEX", "IPT", "TAX", "SQLITE"}},
    {2, {"Raw", "ANI", "AI", "BMP", "CDR", "CMX", "CPT", "CRW", "CUR", "EMF", "EPS", "FH11", "GIF", "ICO", "JPG",
         "PNG", "PSD", "PSP", "TIF", "WPG", "WMF", "NEF", "NRW", "CR2", "SR2", "ARW", "RAW", "RW2", "DNG", "RAF",
         "SVG", "DCR", "KDC", "3FR", "ERF", "MEF", "MRW", "MDC", "PEF", "PTX", "SRW", "ORF", "X3F", "icns",
         "SKETCH"}},
    {4, {"3GP", "ASF", "WMV", "AVI", "MOV", "MP4", "M4V", "SWF", "FLV", "RM", "RMVB", "MKV", "MPG", "FCPEVENT",
         "M2TS", "TREC", "AAF", "MXF", "AEP", "MLV"}},
    {8, {"WMA", "AU", "MID", "MP3", "M4A", "WAV", "AAC", "AIFF", "APE", "OGG", "ITL", "SIB"}},
    {16, {"CAB", "GZ", "LZH", "RAR", "TAR", "ZIP", "SIT", "SITX", "DMG", "IPA", "pkg"}},
    {32, {"DBX", "PST", "EMLX", "OLM", "ABCDDB", "MBOX"}},
    // Left to "other": 3D scenes, programs and libraries, fonts, key stores, generic containers.
    {64, {"3DS", "CLK", "CSL", "DLL", "EXE", "MAX", "MOF", "OLE", "RIFF", "TTF", "GPX", "PLIST", "JKS", "PSAFE3",
          "NGRR"}},
};

class ShippedCatalogue : public WithController {
protected:
    testsupport::TempDir settings;
    ResourcePropertyList list{"FileType", std::string(BRELVOX_SOURCE_DIR) + "/resources", settings.str()};
};

TEST_F(ShippedCatalogue, ListsEachExtensionOnceInLowerCase) {
    const auto catalogue = ReadFileTypeCatalogue(list);
    ASSERT_TRUE(catalogue);
    std::set<std::string> keys;
    std::map<std::string, std::string> owner;
    for (const auto& [key, extensions] : catalogue->Lists()) {
        keys.insert(key);
        for (const std::string& extension : extensions) {
            EXPECT_FALSE(extension.empty()) << key;
            for (char c : extension) {
                EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
                    << "\"" << extension << "\" under " << key << ": lookups are exact and lists are split at \";\"";
            }
            const auto [at, fresh] = owner.emplace(extension, key);
            EXPECT_TRUE(fresh) << extension << " under " << at->second << " and " << key;
        }
    }
    EXPECT_EQ(keys, (std::set<std::string>{"1", "2", "4", "8", "16", "32"}));
}

TEST_F(ShippedCatalogue, EveryCarvedTypeFallsInItsCategory) {
    // Each row once in the expectations.
    std::map<std::string, u32> expected;
    for (const auto& [bit, extensions] : kCarvedCategories) {
        for (const std::string& extension : extensions) EXPECT_TRUE(expected.emplace(extension, bit).second) << extension;
    }
    ASSERT_EQ(expected.size(), kRawFileTypeFilled);

    KXTypeMgr types(&ui, nullptr, ReadFileTypeCatalogue(list));
    // The engine's filter fed with the type tree's own catalogue strings, as the operations layer does.
    std::map<int, std::string> lists;
    for (int bit : brelvox::foundation::kCatalogueBits) lists[bit] = types.getTypeString(bit).value_or("");
    CFileTypeManager::Initialze(lists);
    CFileTypeManager engine;
    engine.Initialize();

    for (u32 row = 0; row < kRawFileTypeFilled; ++row) {
        const std::string extension = RawFileExtension(row);
        const auto want = expected.find(extension);
        ASSERT_NE(want, expected.end()) << "row " << row << " " << extension;
        EXPECT_EQ(engine.GetFileTypeID(extension.c_str()), FilterBitToFileType(want->second)) << extension;
        const auto key = types.categoryOf(bridge_text::ToLower(extension));
        EXPECT_EQ(key.value_or("64"), std::to_string(want->second)) << extension;
    }
}

TEST_F(ShippedCatalogue, TheProcessWideTypeTreeReadsTheShippedList) {
    KXTypeMgr& shared = KXTypeMgr::share();
    EXPECT_EQ(&shared, &KXTypeMgr::share());
    EXPECT_EQ(shared.getTypeString(2), ReadFileTypeCatalogue(list)->JoinedExtensions(2));
    EXPECT_EQ(shared.getRootNode()[1]->name(), "Pictures");
    EXPECT_EQ(shared.getRootNode()[6]->name(), "Other");
}

}  // namespace
