// The TIFF analyser and its device fallback: the end and size rules while the search reads on, the
// cases that hand a file to the fallback, the camera text and type, and the fallback's own rules.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "PictureTestSupport.h"
#include "RecordingTreeBuilder.h"
#include "engine/RAWSearch/Controller/RAWSearchController.h"
#include "engine/RAWSearch/Tree/RAWFileNode.h"
#include "engine/RAWSearch/Analysers/FileTIFAnalyser.h"
#include "engine/RAWSearch/Analysers/TiffAnalyzer.h"
#include "engine/RAWSearch/Analysers/TiffCommon.h"

using namespace pictest;
using BruteForce::TiffAnalyzer;


// The end rule: a file ends at the first sector that ends in 32 zero bytes once the extent (at least
// 8192 bytes) is covered; a camera raw whose extent ends in that sector is sized to it exactly, a TIFF to
// whole sectors.
TEST(TiffAnalyzer, EndAndSizeRules) {
    struct Case {
        const char* name;
        Bytes file;
        long long endSector;
        u64 size;
        RAW_FILE_TYPE type;
        std::string fileName;
    };
    const std::vector<TiffEntry> nikon = {Make("Nikon"), Model("D70")};
    Case cases[] = {
        {"a TIFF in the first sector, no make", SmallTiff({}), 16, 8704, RAW_TYPE_TIF, "_0-16_"},
        {"a NEF in the first sector: the initial extent exactly", SmallTiff(nikon), 16, 8192, RAW_TYPE_NEF,
         "NIKON_D70_0-16_"},
        {"a NEF with a strip to byte 20000", SmallTiff(nikon, 600, 19400), 39, 20000, RAW_TYPE_NEF, "NIKON_D70_0-39_"},
        {"a TIFF with a strip to byte 20000", SmallTiff({}, 600, 19400), 39, 20480, RAW_TYPE_TIF, "_0-39_"},
        {"a NEF whose strip ends a sector: the clean sector after it ends the file", SmallTiff(nikon, 600, 19880),
         40, 20480, RAW_TYPE_NEF, "NIKON_D70_0-40_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffAnalyzer tiff;
        const FeedResult r = Carve(tiff, Placed(c.file, 0, 80));
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.sector, c.endSector);
        EXPECT_EQ(r.size, c.size);
        EXPECT_EQ(r.type, c.type);
        EXPECT_EQ(r.name, c.fileName);
    }
}

// The file stays open through sectors whose end is not zero while its extent is below 10 MiB, and
// through sectors ending in 16 to 31 zero bytes.
TEST(TiffAnalyzer, DataSectorsKeepTheFileOpen) {
    Bytes file = SmallTiff({Make("Nikon")}, 600, 9000);
    Bytes image = Placed(file, 0, 80);
    memset(image.data() + 9600, 0x77, 30 * 512 - 9600);
    for (size_t s = 19; s < 30; s += 2) memset(image.data() + s * 512 + 492, 0, 20);
    TiffAnalyzer tiff;
    const FeedResult r = Carve(tiff, image);
    EXPECT_EQ(r.sector, 30);
    EXPECT_EQ(r.size, 31u * 512) << "the extent ends before this sector: whole sectors";
}

// The camera text: make upper-cased, "/" made "_", one of 31 characters dropped (the model then tags
// the file); the date of DateTime; the type from the make.
TEST(TiffAnalyzer, CameraTextAndType) {
    struct Case {
        const char* make;
        const char* model;
        const char* date;
        RAW_FILE_TYPE type;
        RAW_FILE_TAG tagKind;
        std::string tag, fileName, time;
    };
    const std::string thirty = "ABCDEFGHIJKLMNOPQRSTUVWXYZABCD";
    const Case cases[] = {
        {"Nikon", "D70", "2012:03:04 05:06:07", RAW_TYPE_NEF, RAW_TAG_CAMERA, "NIKON", "NIKON_D70_0-16_",
         "2012:03:04 05:06:07"},
        {"SONY", "DSC-R1", "", RAW_TYPE_SR2, RAW_TAG_CAMERA, "SONY", "SONY_DSC-R1_0-16_", ""},
        {"SONY", "DSLR-A700", "", RAW_TYPE_ARW, RAW_TAG_CAMERA, "SONY", "SONY_DSLR-A700_0-16_", ""},
        {"Acme/Optics", "X", "", RAW_TYPE_TIF, RAW_TAG_CAMERA, "ACME_OPTICS", "ACME_OPTICS_X_0-16_", ""},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDE", "Long X", "", RAW_TYPE_TIF, RAW_TAG_CAMERA, "Long X", "Long X_0-16_", ""},
        {thirty.c_str(), "M", "", RAW_TYPE_TIF, RAW_TAG_CAMERA, thirty, thirty + "_M_0-16_", ""},
        {"Acme#1", "", "", RAW_TYPE_TIF, RAW_TAG_NONE, "", "_0-16_", ""},
        {"Olympus", "E-1", "short", RAW_TYPE_ORF, RAW_TAG_CAMERA, "OLYMPUS", "OLYMPUS_E-1_0-16_", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.make);
        std::vector<TiffEntry> entries = {Make(c.make)};
        if (c.model[0] != 0) entries.push_back(Model(c.model));
        if (c.date[0] != 0) entries.push_back(TiffWriter(8).Ascii(306, c.date));
        TiffAnalyzer tiff;
        Bytes image = Placed(SmallTiff(entries), 0, 40);
        std::unique_ptr<CRawFileInfo> record(tiff.CreateRawFileInfo());
        const FeedResult r = Feed(*record, &tiff, image, 0);
        EXPECT_EQ(r.type, c.type);
        EXPECT_EQ(r.name, c.fileName);
        EXPECT_EQ(r.time, c.time);
        RAW_FILE_TAG kind;
        std::string value;
        record->GetRawFileTagAndValue(kind, value);
        EXPECT_EQ(kind, c.tagKind);
        EXPECT_EQ(value, c.tag);
    }
}

TEST(TiffCommon, TypeFromTheMake) {
    struct Case {
        const char* make;
        const char* model;
        bool dng, panasonicHeader;
        RAW_FILE_TYPE type;
    };
    const Case cases[] = {
        {"NIKON CORPORATION", "", false, false, RAW_TYPE_NEF},
        {"CANON", "", false, false, RAW_TYPE_CR2},
        {"SONY", "DSC-R1", false, false, RAW_TYPE_SR2},
        {"SONY", "DSLR-A100", false, false, RAW_TYPE_ARW},
        {"PANASONIC", "DMC-FZ8", false, true, RAW_TYPE_RW2},
        {"PANASONIC", "DC-LX100", false, true, RAW_TYPE_PANASONIC_RAW},
        {"PANASONIC", "DC-LX100", false, false, RAW_TYPE_RW2},
        {"LEICA", "", false, true, RAW_TYPE_PANASONIC_RAW},
        {"LEICA", "", false, false, 0},
        {"KODAK", "DCS Pro SLR_n", false, false, RAW_TYPE_DCR},
        {"EASTMAN KODAK COMPANY", "Z980", false, false, RAW_TYPE_KDC},
        {"SEIKO EPSON CORP.", "", false, false, RAW_TYPE_ERF},
        {"HASSELBLAD", "", false, false, RAW_TYPE_3FR},
        {"MAMIYA", "", false, false, RAW_TYPE_MEF},
        {"PENTAX", "", false, false, RAW_TYPE_PEF},
        {"SAMSUNG", "", false, false, RAW_TYPE_SRW},
        {"OLYMPUS", "", false, false, RAW_TYPE_ORF},
        {"NIKON", "", true, false, RAW_TYPE_DNG},
        {"ACME", "", false, false, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CameraRawType(c.make, c.model, c.dng, c.panasonicHeader, 0), c.type) << c.make << " " << c.model;
    }
}

// What hands a file to the device fallback (the record ends without a size and its analyser becomes the
// fallback) and what only makes a directory invalid.
TEST(TiffAnalyzer, CasesForTheFallback) {
    struct Case {
        const char* name;
        std::function<Bytes()> make;
        bool fallback;
    };
    const Case cases[] = {
        {"a Fuji RAF header", [] { Bytes b(4096, 0x11); memcpy(b.data(), "FUJIFILMCCD-RAW ", 16); return b; }, true},
        {"a Panasonic header", [] { return SmallTiff({Make("Panasonic")}, 400, 64, true, 0); }, true},
        {"a first directory past 4 MiB", [] { TiffWriter t(600); t.First(0x400001); return t.bytes(); }, true},
        {"a link back before the chain's first directory",
         [] {
             TiffWriter t(2000);
             t.First(600);
             t.Directory(600, {t.Short(256, 8)}, 100);
             t.Directory(100, {t.Short(257, 8)}, 0);
             return t.bytes();
         },
         true},
        {"a strip array past the bytes the search holds",
         [] {
             TiffWriter t(800);
             t.First(8);
             t.Directory(8, {t.Raw(273, 4, 3, 200000), t.Raw(279, 4, 3, 200012)}, 0);
             return t.bytes();
         },
         true},
        {"twelve chained directories",
         [] {
             TiffWriter t(4096);
             t.First(8);
             for (u32 i = 0; i < 12; ++i) t.Directory(8 + i * 100, {t.Short(256, 8)}, i < 11 ? 8 + (i + 1) * 100 : 0);
             return t.bytes();
         },
         true},
        {"eleven chained directories",
         [] {
             TiffWriter t(4096);
             t.First(8);
             for (u32 i = 0; i < 11; ++i) t.Directory(8 + i * 100, {t.Short(256, 8)}, i < 10 ? 8 + (i + 1) * 100 : 0);
             return t.bytes();
         },
         false},
        {"a directory of 513 entries is no directory",
         [] {
             TiffWriter t(8192);
             t.First(8);
             std::vector<TiffEntry> many(513, t.Short(700, 1));
             many[0] = Make("Nikon");
             t.Directory(8, many, 0);
             return t.bytes();
         },
         false},
        {"a count x width past 32 bits is refused, not followed",
         [] {
             TiffWriter t(800);
             t.First(8);
             t.Directory(8, {t.Raw(273, 4, 0x40000001, 200000), Make("Nikon")}, 0);
             return t.bytes();
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = c.make();
        if (strcmp(c.name, "a Panasonic header") == 0) memcpy(file.data(), "\x49\x49\x55\x00", 4);
        TiffAnalyzer tiff;
        const FeedResult r = Carve(tiff, Placed(file, 0, 128), 0, 512, 16);
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.size == 0, c.fallback);
        EXPECT_EQ(r.analyser == tiff.GetFallback(), c.fallback);
    }
}

TEST(TiffAnalyzer, DirectoryOf513EntriesIsNotRead) {
    for (const u32 count : {512u, 513u}) {
        TiffWriter t(8192);
        t.First(8);
        std::vector<TiffEntry> entries(count, t.Short(700, 1));
        entries[0] = Make("Nikon");
        t.Directory(8, entries, 0);
        TiffAnalyzer tiff;
        const FeedResult r = Carve(tiff, Placed(t.bytes(), 0, 64));
        EXPECT_EQ(r.type, count == 512 ? RAW_TYPE_NEF : RAW_TYPE_TIF) << count;
    }
}

// A thumbnail in IFD1 is recorded when its bytes begin a JPEG; the 4-byte link after the last directory
// is part of the file.
TEST(TiffAnalyzer, ThumbnailAndTheLastDirectoryLink) {
    // IFD0 (a strip at 400), a JPEG thumbnail at 8000, IFD1 at 9400 naming it: the file's last bytes.
    TiffWriter t(9430);
    t.First(8);
    t.Directory(8, {t.Short(256, 8), Make("Canon"), t.Long(273, 400), t.Long(279, 7000)}, 9400);
    t.Fill(400, 7000, 0x55);
    const unsigned char jpeg[] = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43};
    memcpy(t.bytes().data() + 8000, jpeg, sizeof(jpeg));
    t.Fill(8006, 994, 0x66);
    ASSERT_EQ(t.Directory(9400, {t.Long(513, 8000), t.Long(514, 1000)}, 0), 9430u);
    TiffAnalyzer tiff;
    std::unique_ptr<CRawFileInfo> record(tiff.CreateRawFileInfo());
    const FeedResult r = Feed(*record, &tiff, Placed(t.bytes(), 0, 40), 0);
    auto* info = static_cast<TiffAnalyzer::TiffRawFileInfo*>(record.get());
    EXPECT_EQ(r.type, RAW_TYPE_CR2);
    EXPECT_EQ(r.sector, 18);
    EXPECT_EQ(r.size, 9430u) << "the extent takes in IFD1's link";
    EXPECT_EQ(info->ThumbnailStart(), 8000);
    EXPECT_EQ(info->ThumbnailSize(), 1000u);
}

// Without strip or thumbnail byte counts, width x length (long values, 400 x 600 or more) stands in for
// the extent.
TEST(TiffAnalyzer, PixelEstimate) {
    TiffWriter t(600);
    t.First(8);
    t.Directory(8, {t.Long(256, 400), t.Long(257, 600), Make("Nikon")}, 0);
    TiffAnalyzer tiff;
    std::unique_ptr<CRawFileInfo> record(tiff.CreateRawFileInfo());
    Feed(*record, &tiff, Placed(t.bytes(), 0, 600), 0);
    EXPECT_EQ(static_cast<TiffAnalyzer::TiffRawFileInfo*>(record.get())->Extent(), 240000);
    // Short-typed sizes are not taken.
    TiffWriter s(600);
    s.First(8);
    s.Directory(8, {s.Short(256, 400), s.Short(257, 600), Make("Nikon")}, 0);
    std::unique_ptr<CRawFileInfo> other(tiff.CreateRawFileInfo());
    Feed(*other, &tiff, Placed(s.bytes(), 0, 600), 0);
    EXPECT_LT(static_cast<TiffAnalyzer::TiffRawFileInfo*>(other.get())->Extent(), 10000);
}

TEST(TiffAnalyzer, SignaturesAccepted) {
    struct Case {
        const char* head;
        bool accepted;
    };
    const Case cases[] = {{"MM\x00\x2A", true}, {"MMOR", true},   {"II\x2A\x00", true}, {"II\x55\x00", true},
                          {"IIRO", true},       {"IIRS", true},   {"IIXX", false},     {"MM\x2A\x00", false},
                          {"FUJIFILMCCD-RAW ", true},             {"FUJIFILMCCD-RAX ", false}};
    for (const Case& c : cases) {
        Bytes sector(512, 0);
        memcpy(sector.data(), c.head, strlen(c.head) < 4 ? 4 : strlen(c.head));
        TiffAnalyzer tiff;
        CRawFileInfo info;
        EXPECT_EQ(tiff.AnalyseBuffer(sector.data(), info) == 1, c.accepted) << c.head;
        if (c.accepted) {
            EXPECT_EQ(info.m_type, RAW_TYPE_TIF);
        }
        FileTIFAnalyser fallback;
        EXPECT_EQ(fallback.AnalyseBuffer(sector.data(), info) == 1, strncmp(c.head, "FUJIFILMCCD-RAX", 15) != 0);
    }
}

// The device fallback: the Panasonic and Fuji files, the guess for tags that point nowhere, the zero
// tail of small files, a big-endian ORF.
TEST(FileTIFAnalyser, DeviceRules) {
    FileTIFAnalyser fallback;
    {
        SCOPED_TRACE("tags that point nowhere past 10240 bytes");
        for (const unsigned n : {512u, 4096u}) {
            const FeedResult r = Measure(fallback, Placed(SmallTiff({Make("Nikon")}), 0, 8, n), 0, n);
            EXPECT_EQ(r.size, (130862284u + n - 1) / n * n) << n;
            EXPECT_EQ(r.type, RAW_TYPE_NEF);
            EXPECT_EQ(r.name, "NIKON");
        }
    }
    {
        SCOPED_TRACE("Panasonic headers: RAW without DMC-, RW2 with it; whole sectors");
        for (const char* model : {"DC-LX100", "DMC-FZ8"}) {
            Bytes file = SmallTiff({Make("Panasonic"), Model(model), TiffWriter(8).Ascii(306, "2013:07:20 21:22:23")},
                                   600, 12000);
            memcpy(file.data(), "\x49\x49\x55\x00", 4);
            const FeedResult r = Measure(fallback, Placed(file, 3, 60), 3);
            EXPECT_EQ(r.type, model[1] == 'C' ? RAW_TYPE_PANASONIC_RAW : RAW_TYPE_RW2);
            EXPECT_EQ(r.size, 12800u);
            EXPECT_EQ(r.name, std::string("PANASONIC_") + model);
            EXPECT_EQ(r.time, "2013:07:20 21:22:23");
        }
    }
    {
        SCOPED_TRACE("the zero tail: a last sector without 16 zero bytes grows to the next one that has them");
        Bytes file = SmallTiff({Make("Nikon")}, 600, 12000);
        Bytes image = Placed(file, 0, 60);
        memset(image.data() + 12600, 0x44, 3 * 512 + 100);  // data past the extent's sector, no zero tail
        const FeedResult r = Measure(fallback, image);
        EXPECT_EQ(r.size, 12800u + 3 * 512) << "up to the first sector that ends in zeros, which is the file's last";
    }
    {
        SCOPED_TRACE("a big-endian ORF (MMOR) is read big-endian");
        TiffWriter t(20000, false, "MMOR");
        t.First(8);
        t.Directory(8, {t.Ascii(271, "OLYMPUS"), t.Long(273, 600), t.Long(279, 15000)}, 0);
        t.Fill(600, 15000, 0x55);
        const FeedResult r = Measure(fallback, Placed(t.bytes(), 0, 60));
        EXPECT_EQ(r.type, RAW_TYPE_ORF);
        EXPECT_EQ(r.size, 15872u);
    }
    {
        SCOPED_TRACE("tiles: the last tile's offset and byte count, each from its own array");
        TiffWriter t(40000);
        t.First(8);
        t.Directory(8,
                    {t.Longs(324, {1000, 11000, 21000}), t.Longs(325, {10000, 10000, 12000}), Make("Hasselblad")},
                    0);
        const FeedResult r = Measure(fallback, Placed(t.bytes(), 0, 90));
        EXPECT_EQ(r.type, RAW_TYPE_3FR);
        EXPECT_EQ(r.size, 33280u) << "21000 + 12000, rounded up";
    }
    {
        SCOPED_TRACE("a start that cannot be read: no size");
        rawtest::MemoryDevice device(Bytes(4096, 0));
        device.failing.insert(0);
        CRawFileInfo record;
        EXPECT_TRUE(fallback.GetRawFileSize(record, &device));
        EXPECT_EQ(record.m_size, 0u);
    }
}

// A Fuji RAF: sized from the offsets of its header plus 160, named and dated from the Exif block of the
// JPEG it holds.
TEST(FileTIFAnalyser, FujiRaf) {
    rawtest::JpegRecipe recipe;
    recipe.make = "FUJIFILM";
    recipe.model = "FinePix S5Pro";
    recipe.date = "2013:09:22 23:24:25";
    recipe.scanBytes = 800;
    const Bytes jpeg = rawtest::MakeJpeg(recipe);
    Bytes file(148, 0);
    memcpy(file.data(), "FUJIFILMCCD-RAW 0201", 20);
    const u32 cfaHeader = 148 + static_cast<u32>(jpeg.size());
    const u32 cfa = cfaHeader + 64;
    ByteWriter w(file);
    w.Be32(84, 148);
    w.Be32(88, static_cast<u32>(jpeg.size()));
    w.Be32(92, cfaHeader);
    w.Be32(96, 64);
    w.Be32(100, cfa);
    w.Be32(104, 11000);
    file.resize(cfa + 11000, 0x37);
    memcpy(file.data() + 148, jpeg.data(), jpeg.size());
    FileTIFAnalyser fallback;
    const FeedResult r = Measure(fallback, Placed(file, 2, 80), 2);
    EXPECT_EQ(r.type, RAW_TYPE_RAF);
    EXPECT_EQ(r.size, file.size());
    EXPECT_EQ(r.name, "FUJIFILM_FinePix S5Pro");
    EXPECT_EQ(r.time, "2013:09:22 23:24:25");
    RAW_FILE_TAG kind;
    std::string make;
    fallback.GetRawFileTagAndValue(kind, make);
    EXPECT_EQ(kind, RAW_TAG_CAMERA);
    EXPECT_EQ(make, "FUJIFILM");
    // An offset past 0x4E000000 gives no size.
    ByteWriter(file).Be32(84, 0x4E000001);
    EXPECT_EQ(Measure(fallback, Placed(file, 2, 80), 2).size, 0u);
}

// Through the whole search: the 33rd open file evicts the oldest, which the device fallback sizes at
// the end (named after its camera, without sectors); the others end in the zeros after the data.
TEST(TiffAnalyzer, MoreThan32OpenFilesGoToTheFallback) {
    Bytes image(400 * 512, 0);
    const Bytes tiff = SmallTiff({Make("Nikon"), Model("D70")});
    ASSERT_LE(tiff.size(), 480u);
    // 33 heads in a row, then data that never ends a sector in zeros, then zeros from sector 200.
    memset(image.data(), 0x77, 200 * 512);
    for (size_t s = 0; s < 33; ++s) memcpy(image.data() + s * 512, tiff.data(), tiff.size());
    rawtest::MemoryDevice device(image);
    rawtest::RecordingTreeBuilder builder;
    CRAWSearchController controller;
    controller.SetDevice(&device);
    controller.SetBlockSize(64);
    controller.SetDirecotryTreeBuilder(&builder);
    ASSERT_EQ(controller.PreparetoSearch(), 1);
    for (i64 s = 0; s < device.GetTotalSectors(); s += 64) controller.AnalyzeBlock(s, 64);
    controller.EndSearch(1);
    const auto files = builder.Files();
    ASSERT_EQ(files.size(), 33u);
    std::map<i64, rawtest::Received> byStart;
    for (const auto& f : files) byStart[static_cast<CRAWFileNode*>(f.node)->GetDataRunList()->GetFirst()->start] = f;
    EXPECT_EQ(byStart[0].name.rfind("NIKON_D70", 0), 0u);
    EXPECT_EQ(byStart[0].name.find("0-"), std::string::npos) << byStart[0].name;
    EXPECT_EQ(byStart[0].size, 400 * 512) << "the fallback's guess, cut at the device's end";
    for (i64 s = 1; s < 33; ++s) {
        EXPECT_EQ(byStart[s].size, (201 - s) * 512) << s;
        EXPECT_EQ(byStart[s].name, "NIKON_D70_" + std::to_string(s) + "-200_" + byStart[s].name.substr(byStart[s].name.size() - 7))
            << s;
    }
}
