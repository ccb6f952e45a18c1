// The rules of the MP3 and box-media analysers that are easy to get wrong, one row each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/ImageFileDevice.h"
#include "PictureTestSupport.h"
#include "support/TempDir.h"
#include "engine/RAWSearch/Analysers/MPAHeader.h"
#include "engine/RAWSearch/Analysers/MediaTypes.h"
#include "engine/RAWSearch/Analysers/MovAnalyzer.h"
#include "engine/RAWSearch/Analysers/Mp4Analyzer.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

namespace {

struct HeaderRow {
    const char* what;
    u8 bytes[4];
    bool accepted;
    u32 frameSize;  // when accepted
    u32 layer;
    u32 samplingRate;
};

TEST(MediaRules, FrameHeadersDecodeToTheirFrameSizeOrAreRefused) {
    const HeaderRow rows[] = {
        {"MPEG 1 Layer III 128 kbit/s 44.1 kHz", {0xFF, 0xFB, 0x90, 0x00}, true, 417, 3, 44100},
        {"the same with padding", {0xFF, 0xFB, 0x92, 0x00}, true, 418, 3, 44100},
        {"with CRC", {0xFF, 0xFA, 0x90, 0x00}, true, 417, 3, 44100},
        {"MPEG 1 Layer III 320 kbit/s 48 kHz", {0xFF, 0xFB, 0xE4, 0x00}, true, 960, 3, 48000},
        {"MPEG 2 Layer III 64 kbit/s 22.05 kHz", {0xFF, 0xF3, 0x80, 0x00}, true, 208, 3, 22050},
        {"MPEG 2.5 Layer III 8 kbit/s 8 kHz", {0xFF, 0xE3, 0x18, 0x00}, true, 72, 3, 8000},
        {"MPEG 1 Layer I 288 kbit/s (slots of 4 bytes)", {0xFF, 0xFF, 0x90, 0x00}, true, 312, 1, 44100},
        {"MPEG 1 Layer II 32 kbit/s mono", {0xFF, 0xFD, 0x10, 0xC0}, true, 104, 2, 44100},
        {"MPEG 1 Layer II 32 kbit/s stereo is not allowed", {0xFF, 0xFD, 0x10, 0x00}, false, 0, 0, 0},
        {"MPEG 1 Layer II 384 kbit/s mono is not allowed", {0xFF, 0xFD, 0xE0, 0xC0}, false, 0, 0, 0},
        {"MPEG 1 Layer II 384 kbit/s stereo", {0xFF, 0xFD, 0xE0, 0x00}, true, 1253, 2, 44100},
        {"MPEG 2 Layer II 8 kbit/s stereo (no combination rule)", {0xFF, 0xF5, 0x10, 0x00}, true, 52, 2, 22050},
        {"reserved version", {0xFF, 0xEB, 0x90, 0x00}, false, 0, 0, 0},
        {"reserved layer", {0xFF, 0xF9, 0x90, 0x00}, false, 0, 0, 0},
        {"bit-rate index 15", {0xFF, 0xFB, 0xF0, 0x00}, false, 0, 0, 0},
        {"free format", {0xFF, 0xFB, 0x00, 0x00}, false, 0, 0, 0},
        {"reserved sampling rate", {0xFF, 0xFB, 0x9C, 0x00}, false, 0, 0, 0},
        {"emphasis 2", {0xFF, 0xFB, 0x90, 0x02}, false, 0, 0, 0},
    };
    for (const HeaderRow& row : rows) {
        SCOPED_TRACE(row.what);
        CMPAHeader h;
        ASSERT_EQ(h.Init(row.bytes), row.accepted);
        if (!row.accepted) continue;
        EXPECT_EQ(h.CalcFrameSize(), row.frameSize);
        EXPECT_EQ(h.m_layer, row.layer);
        EXPECT_EQ(h.m_samplingRate, row.samplingRate);
    }
}

TEST(MediaRules, HeadersCompareByVersionLayerRateEmphasisAndMono) {
    struct Row {
        const char* what;
        u8 a[4];
        u8 b[4];
        bool equal;
    };
    const Row rows[] = {
        {"other bit rate and padding", {0xFF, 0xFB, 0x90, 0x00}, {0xFF, 0xFB, 0xE2, 0x00}, true},
        {"stereo and joint stereo", {0xFF, 0xFB, 0x90, 0x00}, {0xFF, 0xFB, 0x90, 0x40}, true},
        {"stereo and mono", {0xFF, 0xFB, 0x90, 0x00}, {0xFF, 0xFB, 0x90, 0xC0}, false},
        {"other sampling rate", {0xFF, 0xFB, 0x90, 0x00}, {0xFF, 0xFB, 0x94, 0x00}, false},
        {"other emphasis", {0xFF, 0xFB, 0x90, 0x00}, {0xFF, 0xFB, 0x90, 0x01}, false},
        {"other layer", {0xFF, 0xFB, 0x90, 0x00}, {0xFF, 0xFD, 0x90, 0x00}, false},
        {"other version", {0xFF, 0xFB, 0x90, 0x00}, {0xFF, 0xF3, 0x90, 0x00}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CMPAHeader a;
        CMPAHeader b;
        ASSERT_TRUE(a.Init(row.a));
        ASSERT_TRUE(b.Init(row.b));
        EXPECT_EQ(a == b, row.equal);
    }
}

TEST(MediaRules, SynchsafeSizesUseSevenBitsPerByte) {
    struct Row {
        u8 bytes[4];
        bool ok;
        u32 value;
    };
    const Row rows[] = {
        {{0x00, 0x00, 0x02, 0x01}, true, 257},
        {{0x7F, 0x7F, 0x7F, 0x7F}, true, 0x0FFFFFFF},
        {{0x00, 0x00, 0x00, 0x80}, false, 0},
        {{0x80, 0x00, 0x00, 0x00}, false, 0},
    };
    for (const Row& row : rows) {
        u32 value = 0;
        EXPECT_EQ(classMp3Search::GetSynchsafeInteger(row.bytes, value), row.ok);
        if (row.ok) { EXPECT_EQ(value, row.value); }
    }
}

// A sector that starts with an "ftyp" box of the brands given (major brand, then the compatible ones),
// optionally followed by a box of the type next.
std::vector<u8> Ftyp(const std::string& major, const std::vector<std::string>& compatible, const char* next = "free",
                     u32 sizeOverride = 0) {
    std::vector<u8> s(512, 0);
    const u32 size = sizeOverride != 0 ? sizeOverride : static_cast<u32>(16 + 4 * compatible.size());
    s[0] = static_cast<u8>(size >> 24);
    s[1] = static_cast<u8>(size >> 16);
    s[2] = static_cast<u8>(size >> 8);
    s[3] = static_cast<u8>(size);
    memcpy(&s[4], "ftyp", 4);
    memcpy(&s[8], major.data(), 4);
    s[14] = 0x02;  // minor version 0x200
    for (size_t i = 0; i < compatible.size(); ++i) memcpy(&s[16 + 4 * i], compatible[i].data(), 4);
    if (size + 8 <= 512) {
        s[size + 3] = 8;
        memcpy(&s[size + 4], next, 4);
    }
    return s;
}

TEST(MediaRules, MovStartsTakeTheirTypeFromTheBrands) {
    struct Row {
        const char* what;
        std::vector<u8> sector;
        bool accepted;
        RAW_FILE_TYPE type;
    };
    const Row rows[] = {
        {"qt with a 20-byte box", Ftyp("qt  ", {"qt  "}), true, RAW_TYPE_MOV},
        {"an ftyp box of 84 bytes is never a MOV start", Ftyp("qt  ", {"qt  "}, "free", 84), false, 0},
        {"an ftyp box of 83 bytes", Ftyp("qt  ", {"qt  "}, "free", 83), true, RAW_TYPE_MOV},
        {"an ftyp box of 15 bytes", Ftyp("qt  ", {}, "free", 15), false, 0},
        {"isom with only mp41 is M4A", Ftyp("isom", {"mp41"}, "mdat"), true, RAW_TYPE_M4A},
        {"isom with mp41 and another is MP4", Ftyp("isom", {"isom", "mp41"}, "mdat"), true, RAW_TYPE_MP4},
        {"isom with mp41 and free at 28 is TREC", Ftyp("isom", {"isom", "mp41"}, "free"), true, RAW_TYPE_TREC},
        {"isom with avc1 (ffmpeg's mp4)", Ftyp("isom", {"isom", "iso2", "avc1", "mp41"}, "mdat"), true, RAW_TYPE_MP4},
        {"isom with M4A among its brands", Ftyp("isom", {"M4A ", "mp42"}), true, RAW_TYPE_M4A},
        {"isom with none of the rule's brands stays MOV", Ftyp("isom", {"isom", "iso2"}), true, RAW_TYPE_MOV},
        {"M4V major brand", Ftyp("M4V ", {"M4V ", "M4A ", "mp42", "isom"}), true, RAW_TYPE_M4V},
        {"M4A major brand", Ftyp("M4A ", {"M4A ", "mp42", "isom"}), true, RAW_TYPE_M4A},
        {"3gp4 major brand", Ftyp("3gp4", {"isom", "3gp4"}), true, RAW_TYPE_3GP},
        {"KDDI", Ftyp("KDDI", {"3gp4"}), true, RAW_TYPE_3GP},
        {"NDSC", Ftyp("NDSC", {"mp42"}, "mdat"), true, RAW_TYPE_MP4},
        {"NDSA is not in the table and not refused", Ftyp("NDSA", {"mp42"}), true, RAW_TYPE_MOV},
        {"mp42 without the rule's brands keeps the MP4 rule", Ftyp("mp42", {"mp42", "isom"}, "mdat"), true,
         RAW_TYPE_MP4},
        {"an unknown brand is MOV", Ftyp("abcd", {"abcd"}), true, RAW_TYPE_MOV},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        BruteForce::MovAnalyzer mov;
        CRawFileInfo info;
        std::vector<u8> sector = row.sector;
        ASSERT_EQ(mov.AnalyseBuffer(sector.data(), info), row.accepted ? 1 : 0);
        if (row.accepted) { EXPECT_EQ(info.m_type, row.type); }
    }
}

// A box of the type and size (its content zero); a 64-bit size when large.
void AddBox(std::vector<u8>& file, const char* type, u64 size, bool large = false) {
    const size_t at = file.size();
    file.resize(at + size, 0);
    const u64 field = large ? 1 : size;
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<u8>(field >> (24 - 8 * i));
    memcpy(&file[at + 4], type, 4);
    if (large) {
        for (int i = 0; i < 8; ++i) file[at + 8 + i] = static_cast<u8>(size >> (56 - 8 * i));
    }
}

TEST(MediaRules, TheBoxWalkSizesFilesFromTheirTopLevelBoxes) {
    struct Box {
        const char* type;
        u64 size;
        bool large;
    };
    struct Row {
        const char* what;
        std::string major;
        std::vector<std::string> compatible;
        std::vector<Box> boxes;
        long long blockSectors;
        u64 size;  // 0: dropped
        RAW_FILE_TYPE type;
    };
    const Row rows[] = {
        {"ftyp, moov, mdat", "qt  ", {"qt  "}, {{"moov", 1000, false}, {"mdat", 5000, false}}, 64, 6020, RAW_TYPE_MOV},
        {"the same across blocks of 3 sectors", "qt  ", {"qt  "},
         {{"wide", 8, false}, {"mdat", 1500, false}, {"moov", 3000, false}}, 3, 4528, RAW_TYPE_MOV},
        {"a header cut by the block end", "qt  ", {"qt  "}, {{"free", 1512, false}, {"mdat", 2000, false}}, 3, 3532,
         RAW_TYPE_MOV},
        {"a box of an unlisted type after the ftyp: dropped", "qt  ", {"qt  "}, {{"abcd", 1000, false}}, 64, 0, 0},
        {"one moov in an iso file typed MOV is MP4", "isom", {"isom", "iso2"},
         {{"moov", 900, false}, {"mdat", 4000, false}}, 64, 4924, RAW_TYPE_MP4},
        {"two moov in an iso file stay MOV", "isom", {"isom", "iso2"},
         {{"moov", 900, false}, {"moov", 900, false}, {"mdat", 4000, false}}, 64, 5824, RAW_TYPE_MOV},
        {"a 64-bit mdat size is honoured", "qt  ", {"qt  "}, {{"mdat", 3000, true}, {"moov", 600, false}}, 64, 3620,
         RAW_TYPE_MOV},
        {"a 64-bit size on moov is not", "qt  ", {"qt  "}, {{"moov", 3000, true}}, 64, 21, RAW_TYPE_MOV},
        {"a second ftyp is the next file", "qt  ", {"qt  "}, {{"moov", 600, false}, {"ftyp", 20, false}}, 64, 620,
         RAW_TYPE_MOV},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<u8> file = Ftyp(row.major, row.compatible);
        file.resize(16 + 4 * row.compatible.size());
        for (const Box& box : row.boxes) AddBox(file, box.type, box.size, box.large);
        BruteForce::MovAnalyzer mov;
        const pictest::FeedResult r =
            pictest::Carve(mov, pictest::Placed(file, 0, file.size() / 512 + 40), 0, 512, row.blockSectors);
        EXPECT_EQ(r.size, row.size);
        if (row.size != 0) { EXPECT_EQ(r.type, row.type); }
    }
}

TEST(MediaRules, TheDeviceWalkMeasuresMp4FilesIn64Bits) {
    struct Box {
        const char* type;
        u64 size;
        bool large;
    };
    struct Row {
        const char* what;
        std::vector<Box> boxes;
        u64 size;  // 0: refused
    };
    const Row rows[] = {
        {"ftyp, moov, mdat", {{"moov", 1000, false}, {"mdat", 5000, false}}, 6032},
        {"a 64-bit mdat", {{"mdat", 3000, true}, {"moov", 700, false}}, 3732},
        {"a box of another type stops the walk", {{"moov", 1000, false}, {"trak", 800, false}}, 1032},
        {"a 64-bit size on moov stops the walk", {{"moov", 3000, true}}, 32},
        {"a 64-bit mdat of size 0 refuses the file", {{"mdat", 0, true}}, 0},
        {"a box past the device end ends the file where it claims", {{"mdat", 0x7FFFFFF0, false}}, 0x80000010},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<u8> file = Ftyp("isom", {"isom", "iso2", "avc1", "mp41"});
        file.resize(32);
        for (const Box& box : row.boxes) {
            if (box.size > 100000 || (box.large && box.size < 16)) {
                // Only the header is written: the rest lies beyond the device (or the size is bad).
                const size_t at = file.size();
                file.resize(at + 16, 0);
                const u64 field = box.large ? 1 : box.size;
                for (int i = 0; i < 4; ++i) file[at + i] = static_cast<u8>(field >> (24 - 8 * i));
                memcpy(&file[at + 4], box.type, 4);
                for (int i = 0; box.large && i < 8; ++i) file[at + 8 + i] = static_cast<u8>(box.size >> (56 - 8 * i));
                continue;
            }
            AddBox(file, box.type, box.size, box.large);
        }
        FileMP4Analyser analyser;
        std::vector<u8> first(file.begin(), file.begin() + 512 > file.end() ? file.end() : file.begin() + 512);
        first.resize(512, 0);
        CRawFileInfo accepted;
        ASSERT_EQ(analyser.AnalyseBuffer(first.data(), accepted), 1);
        EXPECT_EQ(accepted.m_type, RAW_TYPE_MP4);
        const pictest::FeedResult r = pictest::Measure(analyser, pictest::Placed(file, 0, file.size() / 512 + 8));
        EXPECT_EQ(r.size, row.size);
        EXPECT_EQ(r.finished, row.size != 0);
    }
}

TEST(MediaRules, AnMdatAbove4GiBIsMeasuredWholeOnASparseImage) {
    // ftyp, an mdat of 5 GiB with a 64-bit size, then its moov; the file starts at sector 2.
    const u64 mdat = 0x140000000ULL;
    std::vector<u8> head = Ftyp("isom", {"isom", "iso2", "avc1", "mp41"});
    head.resize(32);
    AddBox(head, "mdat", 16, true);
    for (int i = 0; i < 8; ++i) head[32 + 8 + i] = static_cast<u8>(mdat >> (56 - 8 * i));
    std::vector<u8> moov;
    AddBox(moov, "moov", 1000);
    const u64 start = 2 * 512;
    testsupport::TempDir dir;
    const auto path = dir / "sparse.img";
    {
        std::ofstream out(path, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(start));
        out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
        out.seekp(static_cast<std::streamoff>(start + 32 + mdat));
        out.write(reinterpret_cast<const char*>(moov.data()), static_cast<std::streamsize>(moov.size()));
        out.seekp(static_cast<std::streamoff>(start + 32 + mdat + 1000 + 4096 - 1));
        out.put(0);
    }
    testsupport::ImageFileDevice device(path, 512);
    FileMP4Analyser analyser;
    CRawFileInfo record;
    record.m_startSector = 2;
    ASSERT_TRUE(analyser.GetRawFileSize(record, &device));
    EXPECT_EQ(record.m_size, 32 + mdat + 1000);
}

// A big-endian TIFF block after "Exif\0\0" with the ASCII entries given (tag, text).
std::vector<u8> ExifBlock(const std::vector<std::pair<u16, std::string>>& entries) {
    std::vector<u8> b = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8};
    const size_t tiff = 6;
    const size_t ifd = b.size();
    b.resize(ifd + 2 + 12 * entries.size() + 4 + 100, 0);
    b[ifd + 1] = static_cast<u8>(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t e = ifd + 2 + 12 * i;
        const std::string& text = entries[i].second;
        const u32 length = static_cast<u32>(text.size() + 1);
        const u32 at = static_cast<u32>(b.size() - tiff);
        b[e] = static_cast<u8>(entries[i].first >> 8);
        b[e + 1] = static_cast<u8>(entries[i].first);
        b[e + 3] = 2;
        b[e + 7] = static_cast<u8>(length);
        b[e + 10] = static_cast<u8>(at >> 8);
        b[e + 11] = static_cast<u8>(at);
        b.insert(b.end(), text.begin(), text.end());
        b.push_back(0);
    }
    return b;
}

TEST(MediaRules, CameraMakesComeFromExifInMoovOrFromTextNearTrex) {
    struct Row {
        const char* what;
        std::vector<u8> inMoov;
        size_t moovSize;
        RAW_FILE_TAG kind;
        std::string label;
        std::string name;
        std::string time;
    };
    std::vector<u8> phone(64, 0);
    memcpy(&phone[0], "iPhone 12 Pro", 13);
    memcpy(&phone[40], "trex", 4);
    const Row rows[] = {
        {"make, model and date", ExifBlock({{271, "Canon"}, {272, "EOS r5"}, {306, "2026:01:02 03:04:05"}}), 2000,
         RAW_TAG_MOVIE, "CANON", "EOS R5", "2026:01:02 03:04:05"},
        {"a model without make becomes the make", ExifBlock({{272, "Hero9"}}), 2000, RAW_TAG_MOVIE, "HERO9", "", ""},
        {"a make with a character outside the set is dropped", ExifBlock({{271, "Ca#non"}, {306, "short"}}), 2000,
         RAW_TAG_NONE, "", "", ""},
        {"a make longer than 30 characters is dropped", ExifBlock({{271, std::string(31, 'A')}}), 2000, RAW_TAG_NONE,
         "", "", ""},
        {"a make alone", ExifBlock({{271, "Sony"}}), 2000, RAW_TAG_MOVIE, "SONY", "", ""},
        // The text is sought near the sector where the walk ends: the moov comes last here.
        {"iPhone before trex", phone, 600, RAW_TAG_MOVIE, "IPHONE 12 PRO", "", ""},
        {"trex far from the end finds nothing", phone, 2000, RAW_TAG_NONE, "", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<u8> file = Ftyp("qt  ", {"qt  "});
        file.resize(20);
        const bool moovLast = row.inMoov.size() == phone.size();
        if (moovLast) AddBox(file, "mdat", 700);
        const size_t moovAt = file.size();
        AddBox(file, "moov", row.moovSize);
        memcpy(&file[moovAt + (moovLast ? 300 : 200)], row.inMoov.data(), row.inMoov.size());
        if (!moovLast) AddBox(file, "mdat", 700);
        BruteForce::MovAnalyzer mov;
        CRawFileInfo accepted;
        std::vector<u8> first(file.begin(), file.begin() + 512);
        ASSERT_EQ(mov.AnalyseBuffer(first.data(), accepted), 1);
        std::unique_ptr<CRawFileInfo> record(mov.CreateRawFileInfo());
        record->m_type = accepted.m_type;
        const pictest::FeedResult r =
            pictest::Feed(*record, &mov, pictest::Placed(file, 0, file.size() / 512 + 8), 0, 512, 64);
        EXPECT_EQ(r.size, 20 + row.moovSize + 700);
        RAW_FILE_TAG kind;
        std::string label;
        record->GetRawFileTagAndValue(kind, label);
        EXPECT_EQ(kind, row.kind);
        EXPECT_EQ(label, row.label);
        EXPECT_EQ(record->GetRawFileName().find(row.name) != std::string::npos, true) << record->GetRawFileName();
        if (!row.name.empty()) { EXPECT_EQ(record->GetRawFileName(), row.name); }
        EXPECT_EQ(record->GetRawFileTime(), row.time);
    }
}

TEST(MediaRules, EveryBoxMediaRowHasItsFactory) {
    const std::string names[] = {"BruteForce::MovAnalyzer", "BruteForce::Mp4Analyzer", "BruteForce::C3GPAnalyser"};
    int rows = 0;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (std::find(std::begin(names), std::end(names), row.analyser) == std::end(names)) continue;
        SCOPED_TRACE(row.analyser);
        ++rows;
        ASSERT_NE(row.create, nullptr);
        std::unique_ptr<IRawFileAnalyser> analyser(row.create());
        EXPECT_EQ(analyser->GetDefaultType(), row.type);
    }
    EXPECT_EQ(rows, 4);  // 00 00 for MOV, MP4 and 3GP, and the MOV list row
}

}  // namespace
