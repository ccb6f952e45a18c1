// The signature search over the carving corpus (real JPEGs made by ImageMagick and exiftool, see
// tests/fixtures/raw/make-carving.sh): every manifest file is found at its sector with its exact size,
// bytes, name, tag and date. The search runs in 4 MiB blocks as a deep scan feeds it.
#include <gtest/gtest.h>

#include <strings.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "RawTestSupport.h"
#include "RecordingTreeBuilder.h"
#include "engine/RAWSearch/Controller/RAWSearchController.h"
#include "engine/RAWSearch/Tree/RAWFileNode.h"
#include "support/CarvingManifest.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

using rawtest::MemoryDevice;
using rawtest::RecordingTreeBuilder;

namespace {

using Row = testsupport::CarvingManifestRow;

// The row of the extension table whose text is ext (case ignored).
RAW_FILE_TYPE TypeOfExtension(const std::string& ext) {
    for (RAW_FILE_TYPE t = 0; t < kRawFileTypeFilled; ++t) {
        if (strcasecmp(RawFileExtension(t).c_str(), ext.c_str()) == 0) return t;
    }
    return RAW_TYPE_RAW;
}

// The type the search records at a file's first sector: the camera raws built on TIFF are accepted as
// TIFF (their make types them later), compound files as OLE, ZIP-based documents and iOS packages as ZIP,
// Illustrator files as PDF; their content types them later.
RAW_FILE_TYPE TypeAtStart(const std::string& ext) {
    static const std::set<std::string> kTiffBased = {"NEF", "CR2", "SR2", "ARW", "RAW", "RW2", "DNG", "RAF",
                                                     "DCR", "KDC", "3FR", "ERF", "MEF", "PEF", "SRW", "ORF"};
    static const std::set<std::string> kOle = {"DOC", "XLS", "PPT", "MOF", "VSD", "PUB",
                                               "MAX", "MPP", "QPW", "IPT", "AAF", "ADP"};
    static const std::set<std::string> kZip = {"DOCX", "XLSX",  "PPTX",    "ODT", "ODS", "ODP", "EPUB",
                                               "CDR",  "KEY",   "PAGES",   "NUMBERS", "OLM", "TAX", "IPA"};
    if (kTiffBased.count(ext) != 0) return TypeOfExtension("TIF");
    if (kOle.count(ext) != 0) return TypeOfExtension("OLE");
    if (kZip.count(ext) != 0) return TypeOfExtension("ZIP");
    if (ext == "AI") return TypeOfExtension("PDF");
    // SQLite files take their kind from their content after the start.
    if (ext == "MUSE" || ext == "SKETCH" || ext == "ABCDDB") return TypeOfExtension("SQLITE");
    // RealMedia and ASF streams are typed by their walk.
    if (ext == "RMVB") return TypeOfExtension("RM");
    if (ext == "WMV" || ext == "WMA") return TypeOfExtension("ASF");
    return TypeOfExtension(ext);
}

std::vector<Row> Manifest() {
    return testsupport::ReadCarvingManifest();
}

_FILETIME ExifTime(const std::string& text) {
    tm t{};
    if (sscanf(text.c_str(), "%d:%d:%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
               &t.tm_sec) != 6) {
        return 0;
    }
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return (static_cast<i64>(timegm(&t)) + 11644473600LL) * 10000000LL;
}

}  // namespace

TEST(Carving, EveryManifestFileIsFoundExactly) {
    auto rows = Manifest();
    std::erase_if(rows, [](const Row& row) { return !row.listed; });
    ASSERT_FALSE(rows.empty());
    testsupport::TempDir dir;
    const auto imagePath = testsupport::UnpackXz(testsupport::FixturePath("raw/carving.img.xz"), dir.path());
    std::ifstream in(imagePath, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    MemoryDevice device(bytes);
    RecordingTreeBuilder builder;
    FileSectorMap sectorMap;
    ASSERT_TRUE(rawtest::SearchInBlocks(device, builder, &sectorMap));

    std::map<i64, rawtest::Received> byStart;
    for (auto& r : builder.received) {
        if (r.directory) continue;
        DataRun* run = static_cast<CRAWFileNode*>(r.node)->GetDataRunList()->GetFirst();
        ASSERT_NE(run, nullptr);
        byStart[run->start] = r;
    }
    EXPECT_EQ(byStart.size(), rows.size()) << "nothing more, nothing less";
    for (const Row& row : rows) {
        auto it = byStart.find(row.start);
        ASSERT_NE(it, byStart.end()) << row.name;
        const auto& found = it->second;
        EXPECT_EQ(found.size, row.size) << row.name;
        EXPECT_EQ(found.name, row.name);
        EXPECT_EQ(found.type, row.tagKind.empty() ? SEARCHER_RAW : SEARCHER_RAW_TAG) << row.name;
        EXPECT_EQ(found.time, ExifTime(row.time)) << row.name;
        EXPECT_EQ(sectorMap.at(row.start), TypeAtStart(row.type)) << row.name;
        // The bytes the run covers are the planted file (or begin with it, when the rule sizes it longer).
        std::string digest;
        const i64 compared = row.check == "exact" ? found.size : row.plantedSize;
        const std::string cmd = "tail -c +" + std::to_string(row.start * 512 + 1) + " '" + imagePath.string() +
                                "' | head -c " + std::to_string(compared) + " | sha256sum";
        ASSERT_EQ(testsupport::RunCommand(cmd, &digest), 0);
        EXPECT_EQ(digest.substr(0, 64), row.sha256) << row.name;
    }
    // Tagged files sit under their label folder (photos under Camera / their make).
    std::map<i64, std::string> folders;
    for (auto& r : builder.received) {
        if (r.directory) folders[r.id] = r.name;
    }
    for (const Row& row : rows) {
        if (row.tagKind.empty()) continue;
        const auto& found = byStart[row.start];
        const std::string folder = row.path.substr(0, row.path.rfind('/'));
        EXPECT_EQ(folders[found.parent], folder.substr(folder.rfind('/') + 1)) << row.name;
    }
    EXPECT_EQ(folders[-15], "Camera");
}

TEST(Carving, ACorpusCutInsideItsFirstPhotoEndsThatPhotoAtTheDeviceEnd) {
    const auto rows = Manifest();
    ASSERT_FALSE(rows.empty());
    const Row& first = rows.front();
    testsupport::TempDir dir;
    const auto imagePath = testsupport::UnpackXz(testsupport::FixturePath("raw/carving.img.xz"), dir.path());
    std::ifstream in(imagePath, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // 30000 bytes of the photo, and all but its last 3 (its end marker lost).
    for (const i64 left : {i64{30000}, first.size - 3}) {
        const size_t cut = static_cast<size_t>(first.start * 512 + left);
        ASSERT_LT(cut, bytes.size());
        MemoryDevice device(std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
        RecordingTreeBuilder builder;
        CRAWSearchController controller;
        controller.SetDevice(&device);
        controller.SetBlockSize(8192);
        controller.SetDirecotryTreeBuilder(&builder);
        ASSERT_EQ(controller.PreparetoSearch(), 1);
        controller.AnalyzeBlock(0, device.GetTotalSectors());
        controller.EndSearch(1);
        auto files = builder.Files();
        ASSERT_EQ(files.size(), 1u) << left;
        EXPECT_EQ(files[0].size, (device.GetTotalSectors() - first.start) * 512) << left;
    }
}
