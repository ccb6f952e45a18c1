// The JPEG analysers and the Exif reader: sizing while the search reads on and from the device,
// names and tags, and hostile input (corrupt Exif, truncated files) that must never crash or hang.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>

#include "RawTestSupport.h"
#include "RecordingTreeBuilder.h"
#include "engine/RAWSearch/Analysers/JpegAnalyzer.h"
#include "engine/RAWSearch/Controller/RAWSearchController.h"
#include "engine/RAWSearch/Exif/ExifReader.h"
#include "engine/RAWSearch/Tree/RAWFileNode.h"

using rawtest::JpegRecipe;
using rawtest::MakeJpeg;
using rawtest::MemoryDevice;
using rawtest::RecordingTreeBuilder;

namespace {

constexpr int kBlock = 64;

// Runs the whole signature search (the real tables) over an image and returns the files received.
std::vector<rawtest::Received> Carve(std::vector<unsigned char> image, RecordingTreeBuilder& builder,
                                     FileSectorMap* map = nullptr) {
    MemoryDevice device(std::move(image));
    CRAWSearchController controller;
    controller.SetDevice(&device);
    controller.SetBlockSize(kBlock);
    controller.SetDirecotryTreeBuilder(&builder);
    if (map != nullptr) controller.SetFileSectorMap(map);
    EXPECT_EQ(controller.PreparetoSearch(), 1);
    for (i64 s = 0; s < device.GetTotalSectors(); s += kBlock) {
        controller.AnalyzeBlock(s, std::min<i64>(kBlock, device.GetTotalSectors() - s));
    }
    controller.EndSearch(1);
    std::vector<rawtest::Received> files;
    for (auto& r : builder.received) {
        if (!r.directory) files.push_back(r);
    }
    return files;
}

std::vector<unsigned char> Place(std::vector<std::pair<size_t, std::vector<unsigned char>>> files, size_t sectors) {
    std::vector<unsigned char> image(sectors * 512, 0);
    for (auto& [sector, bytes] : files) memcpy(image.data() + sector * 512, bytes.data(), bytes.size());
    return image;
}

// Lengthens a JPEG by a comment segment after its first APPn segment so that its last sector holds
// remainder bytes (0: the file fills it).
void PadToRemainder(std::vector<unsigned char>& jpeg, size_t remainder) {
    const size_t at = 4 + ((jpeg[4] << 8) | jpeg[5]);
    const size_t comment = (jpeg.size() / 512 + 2) * 512 + remainder - jpeg.size();
    std::vector<unsigned char> seg(comment, 'c');
    seg[0] = 0xFF;
    seg[1] = 0xFE;
    seg[2] = static_cast<unsigned char>((comment - 2) >> 8);
    seg[3] = static_cast<unsigned char>((comment - 2) & 0xFF);
    jpeg.insert(jpeg.begin() + static_cast<long>(at), seg.begin(), seg.end());
}

}  // namespace

TEST(JpegAnalyzer, SizesNamesAndTagsWhileTheSearchReadsOn) {
    JpegRecipe camera;
    camera.make = "Acme";
    camera.model = "Acme X1";
    camera.date = "2011:05:06 10:20:30";
    camera.thumbnail = true;
    camera.exifWidth = 100;
    camera.exifHeight = 80;
    camera.scanBytes = 60000;  // beyond the header end the Exif directory sets (offset + 40960)
    auto photo = MakeJpeg(camera);
    JpegRecipe plain;
    plain.exif = false;
    plain.scanBytes = 3000;
    auto jfif = MakeJpeg(plain);
    RecordingTreeBuilder builder;
    FileSectorMap map;
    auto files = Carve(Place({{4, photo}, {300, jfif}}, 400), builder, &map);
    ASSERT_EQ(files.size(), 2u);
    // The camera photo goes to the tag tree: camera, then its make.
    const auto& tagged = files[0].type == SEARCHER_RAW_TAG ? files[0] : files[1];
    const auto& untagged = files[0].type == SEARCHER_RAW_TAG ? files[1] : files[0];
    EXPECT_EQ(tagged.size, static_cast<i64>(photo.size()));
    const i64 lastSector = 4 + static_cast<i64>(photo.size() - 1) / 512;
    EXPECT_EQ(tagged.name, "ACME_Acme X1_4-" + std::to_string(lastSector) + "000.JPG");
    EXPECT_EQ(tagged.time, (1304677230LL + 11644473600LL) * 10000000LL) << "the date survives the name";
    EXPECT_EQ(untagged.size, static_cast<i64>(jfif.size()));
    EXPECT_EQ(untagged.type, SEARCHER_RAW);
    EXPECT_EQ(map.at(4), RAW_TYPE_JPG);
}

TEST(JpegAnalyzer, EndMarkerCasesOfTheGuessingRecord) {
    struct Case {
        const char* name;
        size_t padTo;       // file length forced by a comment before the scan (0: natural)
        bool expectExact;
    } cases[] = {
        {"marker split across the sector boundary", 1, true},
        {"marker ending exactly at the sector end", 0, true},
        {"natural length", 2, true},
    };
    for (const Case& c : cases) {
        JpegRecipe recipe;
        recipe.exif = false;
        recipe.scanBytes = 2000;
        auto jpeg = MakeJpeg(recipe);
        if (c.padTo != 2) {
            // Insert a comment segment so that the length is k*512 + padTo (padTo 0: a multiple).
            const size_t want = (jpeg.size() / 512 + 2) * 512 + c.padTo;
            const size_t comment = want - jpeg.size();
            std::vector<unsigned char> seg = {0xFF, 0xFE, static_cast<unsigned char>(comment >> 8),
                                              static_cast<unsigned char>(comment & 0xFF)};
            seg.resize(comment, 'c');
            seg[2] = static_cast<unsigned char>((comment - 2) >> 8);
            seg[3] = static_cast<unsigned char>((comment - 2) & 0xFF);
            jpeg.insert(jpeg.begin() + 20, seg.begin(), seg.end());
            ASSERT_EQ(jpeg.size() % 512, c.padTo) << c.name;
        }
        RecordingTreeBuilder builder;
        auto files = Carve(Place({{8, jpeg}}, 200), builder);
        ASSERT_EQ(files.size(), 1u) << c.name;
        EXPECT_EQ(files[0].size, static_cast<i64>(jpeg.size())) << c.name;
    }
}

TEST(JpegAnalyzer, AFileFollowedDirectlyByAnotherEndsAtItsOwnMarker) {
    // The first file's end marker is followed by fewer zero bytes than the end test asks (or none),
    // and the next photo starts at the very next sector: the first must not swallow it.
    struct Case {
        const char* name;
        bool exif;
        size_t scanBytes;
        size_t remainder;
    } cases[] = {
        {"JFIF, marker then 7 zero bytes", false, 3000, 505},
        {"JFIF, marker then 1 zero byte", false, 3000, 511},
        {"JFIF, marker closing the sector", false, 3000, 0},
        {"Exif past its header, marker then 7 zero bytes", true, 60000, 505},
        {"Exif past its header, marker closing the sector", true, 60000, 0},
        // Below the header end a marker may be a thumbnail's: the device analyser decides.
        {"Exif within its header, marker then 7 zero bytes", true, 3000, 505},
        {"Exif within its header, marker then 1 zero byte", true, 3000, 511},
    };
    for (const Case& c : cases) {
        JpegRecipe first;
        first.exif = c.exif;
        first.make = c.exif ? "Acme" : "";
        first.model = c.exif ? "X1" : "";
        first.thumbnail = c.exif;
        first.exifWidth = c.exif ? 100 : 0;
        first.exifHeight = c.exif ? 80 : 0;
        first.scanBytes = c.scanBytes;
        first.width = 640;  // the device analyser's end scan stops at 3 x width x height bytes
        first.height = 480;
        auto one = MakeJpeg(first);
        PadToRemainder(one, c.remainder);
        ASSERT_EQ(one.size() % 512, c.remainder) << c.name;
        JpegRecipe second;
        second.exif = false;
        second.seed = 2;
        second.scanBytes = 60000;  // its end lies past the first one's header end
        auto two = MakeJpeg(second);
        const size_t next = 4 + (one.size() + 511) / 512;
        auto image = Place({{4, one}, {next, two}}, next + two.size() / 512 + 40);

        RecordingTreeBuilder builder;
        FileSectorMap map;
        auto files = Carve(image, builder, &map);
        ASSERT_EQ(files.size(), 2u) << c.name;
        std::map<i64, i64> sizes;
        for (auto& f : files) sizes[static_cast<CRAWFileNode*>(f.node)->GetDataRunList()->GetFirst()->start] = f.size;
        EXPECT_EQ(sizes[4], static_cast<i64>(one.size())) << c.name;
        EXPECT_EQ(sizes[static_cast<i64>(next)], static_cast<i64>(two.size())) << c.name;

        // The device analyser alone (a photo given up by the search) stops there too.
        MemoryDevice device(image);
        FileJPGAnalyser analyser;
        CRawFileInfo info;
        info.m_startSector = 4;
        ASSERT_TRUE(analyser.GetRawFileSize(info, &device)) << c.name;
        EXPECT_EQ(info.m_size, one.size()) << c.name;
    }
}

TEST(JpegAnalyzer, AFileCutByTheDeviceEndEndsThere) {
    // The device ends inside the photo: its end marker never comes, and its size stops at the device end.
    struct Case {
        const char* name;
        bool exif;
        size_t keep;  // bytes of the photo left before the device end (0: all but its last 3)
    } cases[] = {
        {"Exif, 30000 bytes left", true, 30000},
        {"Exif, all but 3 bytes left", true, 0},
        {"JFIF, 20000 bytes left", false, 20000},
        {"JFIF, all but 3 bytes left", false, 0},
    };
    for (const Case& c : cases) {
        JpegRecipe recipe;
        recipe.exif = c.exif;
        recipe.make = c.exif ? "Acme" : "";
        recipe.model = c.exif ? "X1" : "";
        recipe.thumbnail = c.exif;
        recipe.exifWidth = c.exif ? 640 : 0;
        recipe.exifHeight = c.exif ? 480 : 0;
        recipe.scanBytes = 60000;
        recipe.width = 640;  // the device analyser's end scan stops at 3 x width x height bytes
        recipe.height = 480;
        auto photo = MakeJpeg(recipe);
        photo.resize(c.keep != 0 ? c.keep : photo.size() - 3);
        std::vector<unsigned char> image(8 * 512, 0);
        image.insert(image.end(), photo.begin(), photo.end());
        const i64 deviceEnd = static_cast<i64>((image.size() + 511) / 512 * 512);  // the device's whole sectors

        RecordingTreeBuilder builder;
        auto files = Carve(image, builder);
        ASSERT_EQ(files.size(), 1u) << c.name;
        EXPECT_EQ(files[0].size, deviceEnd - 8 * 512) << c.name;
    }
}

TEST(JpegAnalyzer, ThumbnailMarkerAndShortZeroRunDoNotEndTheFile) {
    JpegRecipe recipe;
    recipe.thumbnail = true;
    recipe.make = "Acme";
    recipe.scanBytes = 50000;
    auto photo = MakeJpeg(recipe);
    // Noise right after the file: its last sector does not end in 8 zero bytes, so the end is found
    // later by the device-side analyser or not at all; the thumbnail's FF D9 must never end it.
    RecordingTreeBuilder builder;
    auto files = Carve(Place({{2, photo}}, 300), builder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].size, static_cast<i64>(photo.size()));
}

TEST(JpegAnalyzer, PixelEstimateEndsAFileWhoseMarkerIsNeverFound) {
    JpegRecipe recipe;
    recipe.exifWidth = 4000;
    recipe.exifHeight = 3000;
    recipe.scanBytes = 600;
    auto head = MakeJpeg(recipe);
    head.pop_back();
    head.pop_back();  // no end marker
    std::vector<unsigned char> image(13000000 / 512 * 512 + 512 * 100, 0x5A);
    memcpy(image.data(), head.data(), head.size());
    MemoryDevice device(image);
    auto* analyser = new BruteForce::JpegAnalyzer();
    std::unique_ptr<IRawFileAnalyser> owner(analyser);
    std::unique_ptr<CRawFileInfo> record(analyser->CreateRawFileInfo());
    record->m_startSector = 0;
    CRawFileInfo::SearchContext ctx;
    ctx.bufferStartSector = 0;
    ctx.blockEndSector = device.GetTotalSectors();
    int result = RAW_SIZE_CONTINUE;
    i64 s = 0;
    for (; s < device.GetTotalSectors() && result == RAW_SIZE_CONTINUE; ++s) {
        result = record->CalcRawSize(device.bytes().data() + s * 512, 512, s, ctx);
    }
    ASSERT_EQ(result, RAW_SIZE_FINISHED);
    EXPECT_GT(record->m_size, 12000000u);
    EXPECT_LE(record->m_size, 12000000u + 1024);
}

TEST(JpegAnalyzer, ModelWithASlashIsDroppedFromTheName) {
    JpegRecipe recipe;
    recipe.make = "Acme";
    recipe.model = "X1/2";
    recipe.exifWidth = 100;
    recipe.exifHeight = 80;
    recipe.scanBytes = 60000;
    auto photo = MakeJpeg(recipe);
    RecordingTreeBuilder builder;
    auto files = Carve(Place({{0, photo}}, 300), builder);
    ASSERT_EQ(files.size(), 1u);
    const i64 last = static_cast<i64>(photo.size() - 1) / 512;
    EXPECT_EQ(files[0].name, "ACME_0-" + std::to_string(last) + "000.JPG");
}

TEST(FileJPGAnalyser, AGivenUpGuessIsSizedNamedAndDatedFromTheDevice) {
    JpegRecipe big;
    big.exif = false;
    big.exifAfterJfif = true;
    big.make = "Acme";
    big.model = "Big";
    big.date = "2012:01:02 03:04:05";
    big.thumbnail = true;
    big.progressive = true;
    big.width = 400;  // the end scan stops at 3 x width x height bytes
    big.height = 300;
    big.scanBytes = 120000;
    auto jpeg = MakeJpeg(big);
    MemoryDevice device(Place({{3, jpeg}}, 300));
    BruteForce::JpegAnalyzer analyser;
    std::unique_ptr<CRawFileInfo> record(analyser.CreateRawFileInfo());
    record->m_startSector = 3;
    record->m_analyser = &analyser;
    record->WillBeRemove(nullptr, -1);
    ASSERT_EQ(record->m_analyser, analyser.GetFallback()) << "the fallback takes over";
    ASSERT_TRUE(record->m_analyser->GetRawFileSize(*record, &device));
    EXPECT_EQ(record->m_size, jpeg.size());
    EXPECT_EQ(record->GetRawFileName(), "Big");
    EXPECT_EQ(record->GetRawFileTime(), "2012:01:02 03:04:05");
    RAW_FILE_TAG kind;
    std::string value;
    analyser.GetFallback()->GetRawFileTagAndValue(kind, value);
    EXPECT_EQ(kind, RAW_TAG_CAMERA);
    EXPECT_EQ(value, "Big");
}

TEST(FileJPGAnalyser, FormsAndRefusals) {
    struct Case {
        const char* name;
        std::function<void(std::vector<unsigned char>&)> mutate;
        bool sized;
    } cases[] = {
        {"plain JFIF", [](std::vector<unsigned char>&) {}, true},
        {"lower-case jfif is not the exact form", [](std::vector<unsigned char>& j) { memcpy(j.data() + 6, "jfif", 4); },
         false},
        {"no marker at offset 2", [](std::vector<unsigned char>& j) { j[2] = 0x00; }, false},
    };
    for (const Case& c : cases) {
        JpegRecipe recipe;
        recipe.exif = false;
        recipe.scanBytes = 1500;
        auto jpeg = MakeJpeg(recipe);
        c.mutate(jpeg);
        MemoryDevice device(Place({{1, jpeg}}, 20));
        FileJPGAnalyser analyser;
        CRawFileInfo info;
        info.m_startSector = 1;
        const bool ok = analyser.GetRawFileSize(info, &device);
        EXPECT_EQ(ok, c.sized) << c.name;
        if (c.sized) {
            EXPECT_EQ(info.m_size, jpeg.size()) << c.name;
        }
    }
}

TEST(ExifReader, EdgeCases) {
    auto segment = [](const JpegRecipe& recipe) {
        auto j = MakeJpeg(recipe);
        // "Exif" at offset 6; the segment length at 4.
        const unsigned length = (j[4] << 8) | j[5];
        return std::vector<unsigned char>(j.begin() + 6, j.begin() + 4 + length);
    };
    JpegRecipe recipe;
    recipe.make = "Acme";
    recipe.model = std::string(50, 'M');
    recipe.date = "2011:05:06 10:20:30";
    recipe.thumbnail = true;
    auto exif = segment(recipe);
    tag_ExifInfo info{};
    info.options = EXIF_COPY_THUMBNAIL;
    SetExitInfo(&info);
    ASSERT_TRUE(EXIF_process_EXIF(nullptr, 0, exif.data(), static_cast<unsigned>(exif.size())))
        << EXIF_GetErrorString();
    EXPECT_STREQ(info.cameraMake, "Acme");
    EXPECT_EQ(std::string(info.cameraModel), std::string(39, 'M'));
    EXPECT_STREQ(info.dateTime, "2011:05:06 10:20:30");
    EXPECT_EQ(info.thumbnailSize, 602u);
    ASSERT_NE(info.thumbnail, nullptr);
    EXPECT_EQ(info.thumbnail[0], 0xFF);

    // First directory offset 20.
    auto bad = exif;
    bad[6 + 7] = 20;
    EXPECT_FALSE(EXIF_process_EXIF(nullptr, 0, bad.data(), static_cast<unsigned>(bad.size())));
    EXPECT_STREQ(EXIF_GetErrorString(), "Suspicious offset of first IFD value");

    // A directory that links back to itself is read once; ISO 2 becomes 400.
    JpegRecipe iso;  // the Exif directory holds ISO 100 by default; patch it to 2
    auto isoSeg = segment(iso);
    for (size_t i = 0; i + 12 <= isoSeg.size(); ++i) {
        if (isoSeg[i] == 0x88 && isoSeg[i + 1] == 0x27 && isoSeg[i + 3] == 4) isoSeg[i + 11] = 2;
    }
    // The IFD0 link to the next directory points back at IFD0 (offset 8).
    const unsigned entries0 = (isoSeg[6 + 8] << 8) | isoSeg[6 + 9];
    const size_t link = 6 + 8 + 2 + entries0 * 12;
    isoSeg[link + 3] = 8;
    tag_ExifInfo isoInfo{};
    SetExitInfo(&isoInfo);
    EXPECT_TRUE(EXIF_process_EXIF(nullptr, 0, isoSeg.data(), static_cast<unsigned>(isoSeg.size())));
    EXPECT_EQ(isoInfo.isoEquivalent, 400);
    SetExitInfo(nullptr);
}

TEST(JpegHostile, CorruptExifAndTruncatedFilesNeverCrashOrHang) {
    std::mt19937 rng(1234);
    JpegRecipe recipe;
    recipe.make = "Acme";
    recipe.model = "Acme X1";
    recipe.date = "2011:05:06 10:20:30";
    recipe.thumbnail = true;
    recipe.exifWidth = 640;
    recipe.exifHeight = 480;
    recipe.scanBytes = 3000;
    const auto base = MakeJpeg(recipe);
    for (int round = 0; round < 300; ++round) {
        auto jpeg = base;
        const int kind = round % 4;
        if (kind == 0) {
            for (int k = 0; k < 8; ++k) jpeg[6 + rng() % 300] = static_cast<unsigned char>(rng());  // the Exif block
        } else if (kind == 1) {
            jpeg.resize(10 + rng() % jpeg.size());  // truncated
        } else if (kind == 2) {
            for (int k = 0; k < 20; ++k) jpeg[rng() % jpeg.size()] = static_cast<unsigned char>(rng());
        } else {
            for (size_t i = 30; i < jpeg.size(); ++i) jpeg[i] = 0xFF;  // markers without end
        }
        // Run the whole search and the device-side analyser, and the Exif reader on its own.
        RecordingTreeBuilder builder;
        Carve(Place({{1, jpeg}}, 40), builder);
        MemoryDevice device(Place({{1, jpeg}}, 40));
        FileJPGAnalyser analyser;
        CRawFileInfo info;
        info.m_startSector = 1;
        analyser.GetRawFileSize(info, &device);
        EXPECT_LE(info.m_size, 40u * 512);
        tag_ExifInfo exif{};
        SetExitInfo(&exif);
        const unsigned available = static_cast<unsigned>(std::min<size_t>(jpeg.size() - 6, 400));
        std::vector<unsigned char> block(jpeg.begin() + 6, jpeg.begin() + 6 + available);
        EXIF_process_EXIF(nullptr, 0, block.data(), available);
        SetExitInfo(nullptr);
    }
}
