// The rules of the drawing, design and font analysers, as tables of cases built from the published
// layouts (DWG section locators, the release 18 header scramble, the release 21 coded header,
// TrueType table directories), hostile copies of each, and every signature row of these analysers
// has its factory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "PictureTestSupport.h"
#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/DWGAnalyser.h"
#include "engine/RAWSearch/Analysers/AEPAnalyser.h"
#include "engine/RAWSearch/Analysers/DXFAnalyser.h"
#include "engine/RAWSearch/Analysers/FH11Analyser.h"
#include "engine/RAWSearch/Analysers/FileCPTAnalyser.h"
#include "engine/RAWSearch/Analysers/InddAnalyser.h"
#include "engine/RAWSearch/Analysers/NGRRAnalyser.h"
#include "engine/RAWSearch/Analysers/New3DSAnalyser.h"
#include "engine/RAWSearch/Analysers/SVGAnalyser.h"
#include "engine/RAWSearch/Analysers/DrawingLayout.h"
#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Analysers/FileTTFAnalyser.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

using pictest::Bytes;
using pictest::Carve;
using pictest::FeedResult;
using pictest::Placed;

namespace {

void PutLe32(Bytes& b, size_t at, u32 v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void PutLe64(Bytes& b, size_t at, u64 v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void PutLe16(Bytes& b, size_t at, u16 v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}
void PutBe16(Bytes& b, size_t at, u16 v) {
    b[at] = static_cast<unsigned char>(v >> 8);
    b[at + 1] = static_cast<unsigned char>(v);
}
void PutBe32(Bytes& b, size_t at, u32 v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}
void PutText(Bytes& b, size_t at, const std::string& s) { std::copy(s.begin(), s.end(), b.begin() + at); }

Bytes Filler(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b) c = static_cast<unsigned char>(1 + rng() % 255);  // no zero words: nothing ends early
    return b;
}

struct Locator {
    u8 number;
    u32 offset;
    u32 length;
};

// A release 13-15 drawing: the version, the locator count at 21 and the locators from 25; the body
// is filler up to `size` bytes.
Bytes LocatorDrawing(const std::string& version, const std::vector<Locator>& locators, size_t size,
                     u32 count = 0xFFFFFFFF) {
    Bytes b = Filler(size, 7);
    PutText(b, 0, version);
    PutLe32(b, dwg_layout::kLocatorCount, count == 0xFFFFFFFF ? static_cast<u32>(locators.size()) : count);
    size_t at = dwg_layout::kFirstLocator;
    for (const Locator& l : locators) {
        b[at] = l.number;
        PutLe32(b, at + 1, l.offset);
        PutLe32(b, at + 5, l.length);
        at += dwg_layout::kLocatorSize;
    }
    return b;
}

// n locators numbered from 0, the last one ending at `end`.
std::vector<Locator> Locators(size_t n, u32 end) {
    std::vector<Locator> v;
    for (size_t i = 0; i < n; ++i) v.push_back({static_cast<u8>(i), static_cast<u32>(100 + 10 * i), 10});
    v.back() = {static_cast<u8>(n - 1), end - 300, 300};
    return v;
}

// A release 18 header as the published layout writes it, scrambled in place at 0x80.
Bytes ScrambledDrawing(const std::string& version, u64 secondHeader, size_t size, u32 third = 0x6C,
                       u32 fourth = 4) {
    Bytes b = Filler(size, 9);
    PutText(b, 0, version);
    Bytes header(dwg_layout::kScrambledHeaderSize, 0);
    PutText(header, 0, "AcFssFcAJMB");
    header[11] = 0;
    PutLe32(header, 16, third);
    PutLe32(header, 20, fourth);
    PutLe64(header, dwg_layout::kSecondHeaderAddress, secondHeader);
    PutLe32(header, dwg_layout::kHeaderSectionMark, 32);
    PutLe32(header, 72, 0x80);
    PutLe32(header, 76, 0x40);
    // The scramble is its own inverse (XOR with the same byte sequence).
    BruteForce::CDWGRawInfo::Descramble(header.data(), header.size());
    std::copy(header.begin(), header.end(), b.begin() + dwg_layout::kScrambledHeader);
    return b;
}

// A release 21 drawing: the 717 data bytes (compressed length at 24, the header from 32 holding the
// file size at 8) interleaved into 984 coded bytes at 128; the parity bytes are filler.
Bytes CodedDrawing(u64 fileSize, i32 compressedLength, size_t size) {
    Bytes b = Filler(size, 11);
    PutText(b, 0, "AC1021");
    Bytes data = Filler(dwg_layout::kDecodedSize, 13);
    PutLe32(data, dwg_layout::kCompressedLength, static_cast<u32>(compressedLength));
    PutLe64(data, dwg_layout::kHeaderData + dwg_layout::kFileSize, fileSize);
    for (size_t block = 0; block < 3; ++block) {
        for (size_t j = 0; j < 239; ++j) b[128 + block + 3 * j] = data[block * 239 + j];
    }
    return b;
}

struct DwgCase {
    std::string name;
    Bytes file;
    bool accepted;
    u64 size;  // 0: finishes without a size
    unsigned sectorSize = 512;
};

TEST(DrawingRules, DwgSizes) {
    const std::vector<DwgCase> cases = {
        {"AC1009 accepted without a size", LocatorDrawing("AC1009", Locators(3, 3000), 4096), true, 0},
        {"unknown release refused", LocatorDrawing("AC1099", Locators(3, 3000), 4096), false, 0},
        {"AC1015 largest offset plus size", LocatorDrawing("AC1015", Locators(3, 3000), 4096), true, 3000},
        {"AC1012 largest not last",
         LocatorDrawing("AC1012", {{0, 2000, 1000}, {1, 100, 50}, {2, 2500, 10}}, 4096), true, 3000},
        {"AC1015 locators across a sector boundary", LocatorDrawing("AC1015", Locators(60, 20000), 24576), true,
         20000},
        {"AC1015 locators across 4096-byte sectors", LocatorDrawing("AC1015", Locators(200, 20000), 24576), true,
         20000, 4096},
        {"AC1015 locator out of order", LocatorDrawing("AC1015", {{0, 100, 10}, {2, 2000, 10}}, 4096), true, 0},
        {"AC1015 no locators", LocatorDrawing("AC1015", {}, 4096), true, 0},
        {"AC1015 garbage count stops at a wrong number",
         LocatorDrawing("AC1015", Locators(3, 3000), 4096, 0xFFFFFFF0), true, 0},
        {"AC1015 locators past any device", LocatorDrawing("AC1015", {{0, 0xFFFFFFFF, 0xFFFFFFFF}}, 4096), true,
         0x1FFFFFFFEULL},
        {"AC1018 second header + 108", ScrambledDrawing("AC1018", 0x5000, 0x6000), true, 0x5000 + 108},
        {"AC1024 second header + 108", ScrambledDrawing("AC1024", 0x1F00, 0x2000), true, 0x1F00 + 108},
        {"AC1027 second header + 108", ScrambledDrawing("AC1027", 0x1F00, 0x2000), true, 0x1F00 + 108},
        {"AC1018 wrong third dword", ScrambledDrawing("AC1018", 0x5000, 0x6000, 0x6D), true, 0},
        {"AC1018 wrong fourth dword", ScrambledDrawing("AC1018", 0x5000, 0x6000, 0x6C, 5), true, 0},
        {"AC1018 second header beyond the cap", ScrambledDrawing("AC1018", 0x514000000ULL, 0x6000), true, 0},
        {"AC1018 second header near 2^64", ScrambledDrawing("AC1018", ~u64{0} - 50, 0x6000), true, 0},
        {"AC1018 unscrambled header refused", [] {
             Bytes b = ScrambledDrawing("AC1018", 0x5000, 0x6000);
             BruteForce::CDWGRawInfo::Descramble(b.data() + 0x80, 108);
             return b;
         }(), true, 0},
        {"AC1021 stored header", CodedDrawing(0x3000, 0, 0x3000), true, 0x3000},
        {"AC1021 stored header, negative length", CodedDrawing(0x3000, -1, 0x3000), true, 0x3000},
        {"AC1021 stored header, 4096-byte sectors", CodedDrawing(0x3000, 0, 0x3000), true, 0x3000, 4096},
        {"AC1021 compressed header keeps no size", CodedDrawing(0x3000, 200, 0x3000), true, 0},
        {"AC1021 file size beyond the cap", CodedDrawing(0x514000001ULL, 0, 0x3000), true, 0},
    };
    for (const DwgCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (long long start : {0LL, 3LL, 63LL}) {  // the last start crosses a block of the search
            BruteForce::CDWGAnalyser analyser;
            const Bytes image = Placed(c.file, start, start + 80, c.sectorSize);
            const FeedResult r = Carve(analyser, image, start, c.sectorSize);
            if (!c.accepted) {
                EXPECT_FALSE(r.finished);
                continue;
            }
            EXPECT_TRUE(r.finished);
            EXPECT_EQ(r.type, RAW_TYPE_DWG);
            EXPECT_EQ(r.size, c.size);
        }
    }
}

TEST(DrawingRules, DwgDeinterleaveTakesEveryThirdByte) {
    Bytes coded(984);
    for (size_t i = 0; i < coded.size(); ++i) coded[i] = static_cast<unsigned char>(i % 251);
    const auto data = BruteForce::CDWGRawInfo::Deinterleave(coded.data());
    EXPECT_EQ(data[0], coded[0]);
    EXPECT_EQ(data[1], coded[3]);
    EXPECT_EQ(data[238], coded[714]);
    EXPECT_EQ(data[239], coded[1]);
    EXPECT_EQ(data[478], coded[2]);
    EXPECT_EQ(data[716], coded[2 + 3 * 238]);
}

TEST(DrawingRules, DwgScrambleSequence) {
    // The first bytes of the generator from seed 1, worked by hand: x1 = 2745024, x2 = 2745024 x 214013
    // + 2531011 (mod 2^32), and so on; byte = bits 16-23.
    Bytes zeros(4, 0);
    BruteForce::CDWGRawInfo::Descramble(zeros.data(), zeros.size());
    u32 x = 1;
    for (size_t i = 0; i < 4; ++i) {
        x = x * 214013u + 2531011u;
        EXPECT_EQ(zeros[i], static_cast<unsigned char>(x >> 16)) << i;
    }
    EXPECT_EQ(zeros[0], 0x29);  // 2745024 = 0x29E2C0
}

// A TrueType offset table with the given tags and lengths.
Bytes Font(const std::vector<std::pair<std::string, u32>>& tables, size_t size = 512) {
    Bytes b(std::max<size_t>(size, 12 + 16 * tables.size()), 0);
    PutBe32(b, 0, 0x00010000);
    PutBe16(b, 4, static_cast<u16>(tables.size()));
    size_t at = 12;
    u32 offset = static_cast<u32>(12 + 16 * tables.size());
    for (const auto& [tag, length] : tables) {
        PutText(b, at, tag);
        PutBe32(b, at + 8, offset);
        PutBe32(b, at + 12, length);
        offset += (length + 3) & ~3u;
        at += 16;
    }
    return b;
}

std::vector<std::pair<std::string, u32>> Tables(size_t n, u32 length, const std::string& tag = "glyf") {
    return std::vector<std::pair<std::string, u32>>(n, {tag, length});
}

TEST(DrawingRules, TrueTypeDirectory) {
    struct Case {
        std::string name;
        Bytes font;
        bool accepted;
        u64 size;
    };
    const std::vector<Case> cases = {
        {"lengths rounded up to four", Font({{"head", 54}, {"cmap", 100}, {"glyf", 1}, {"loca", 7}}), true,
         12 + 64 + 56 + 100 + 4 + 8},
        {"31 tables", Font(Tables(31, 4)), true, 12 + 16 * 31 + 4 * 31},
        {"32 tables refused", Font(Tables(32, 4)), false, 0},
        {"no tables refused", Font({}), false, 0},
        {"4 tables, 1 known refused", Font({{"head", 4}, {"abcd", 4}, {"wxyz", 4}, {"qqqq", 4}}), false, 0},
        {"4 tables, 2 known", Font({{"head", 4}, {"cvt ", 4}, {"wxyz", 4}, {"qqqq", 4}}), true, 12 + 64 + 16},
        {"3 tables, 1 known refused", Font({{"OS/2", 4}, {"wxyz", 4}, {"qqqq", 4}}), false, 0},
        {"tags are case-sensitive", Font({{"HEAD", 4}, {"Glyf", 4}}), false, 0},
        {"lengths near 4 GiB summed in 64 bits", Font(Tables(31, 0xFFFFFFFF)), true,
         12 + 16 * 31 + 31 * 0x100000000ULL},
        {"one length that wraps 32 bits", Font({{"head", 0xFFFFFFFE}, {"glyf", 8}}), true,
         12 + 32 + 0x100000000ULL + 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileTTFAnalyser analyser;
        CRawFileInfo info;
        Bytes sector = c.font;
        EXPECT_EQ(analyser.AnalyseBuffer(sector.data(), info), c.accepted ? 1 : 0);
        if (!c.accepted) continue;
        EXPECT_EQ(info.m_type, RAW_TYPE_TTF);
        EXPECT_EQ(info.m_size, c.size);
    }
}

// Random and mutated first sectors never make either analyser read outside its bytes (run under
// AddressSanitizer) and never end a walk with a size past the cap.
TEST(DrawingRules, RandomAndMutatedSectorsStayBounded) {
    std::mt19937 rng(25);
    const Bytes seeds[] = {LocatorDrawing("AC1015", Locators(60, 20000), 24576),
                           ScrambledDrawing("AC1018", 0x5000, 0x6000), CodedDrawing(0x3000, 0, 0x3000)};
    for (int round = 0; round < 300; ++round) {
        Bytes file = seeds[round % 3];
        for (int k = 0; k < 24; ++k) file[rng() % 1200] = static_cast<unsigned char>(rng());
        if (round % 5 == 0) PutLe32(file, 21, rng());
        BruteForce::CDWGAnalyser analyser;
        const FeedResult r = Carve(analyser, Placed(file, 1, 60), 1);
        EXPECT_LE(r.size, 0x514000000ULL);
        Bytes font = Filler(512, static_cast<unsigned>(round));
        PutBe16(font, 4, static_cast<u16>(round % 40));
        FileTTFAnalyser ttf;
        CRawFileInfo info;
        ttf.AnalyseBuffer(font.data(), info);
    }
}

TEST(DrawingRules, EveryRowOfTheseAnalysersHasItsFactory) {
    const std::string built[] = {"BruteForce::CDWGAnalyser", "BruteForce::CDXFAnalyser", "FileTTFAnalyser",
                                 "BruteForce::CFH11Analyser", "RawSpeed::NGRRAnalyser", "RawSpeed::InddAnalyser",
                                 "RawSpeed::AEPAnalyser", "RawSpeed::New3DSAnalyser",
                                 "FileCPTAnalyser", "Brance::SVGAnalyser"};
    int rows = 0;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (std::find(std::begin(built), std::end(built), row.analyser) == std::end(built)) continue;
        SCOPED_TRACE(row.analyser);
        ++rows;
        ASSERT_NE(row.create, nullptr);
        std::unique_ptr<IRawFileAnalyser> analyser(row.create());
        EXPECT_EQ(analyser->GetDefaultType(), row.type);
    }
    // "AC10", "  0" CR and "99", 00 01 00 00, FH11, "-in-", the INDD list row, "RIFX", 3DS "MM" and list,
    // CPT7-9, and the five SVG keys
    EXPECT_EQ(rows, 18);
}

}  // namespace

namespace {

// A DXF text of exactly `length` bytes in the given line ends, ending with the end tag; with a "999"
// comment first when `comment` is set.
Bytes Dxf(const std::string& eol, bool comment, size_t length) {
    std::string s;
    if (comment) s += "999" + eol + "made by hand" + eol;
    s += "  0" + eol + "SECTION" + eol + "  2" + eol + "HEADER" + eol + "  9" + eol + "$ACADVER" + eol + "  1" +
         eol + "AC1009" + eol + "  0" + eol + "ENDSEC" + eol;
    const std::string end = "  0" + eol + "EOF" + eol;
    const size_t fixed = s.size() + end.size() + 3 + 2 * eol.size();
    if (length < fixed) length = fixed;
    s += "  1" + eol + std::string(length - fixed, 'x') + eol + end;
    return Bytes(s.begin(), s.end());
}

FeedResult CarveEx(BruteForce::CDXFAnalyser& analyser, const Bytes& image, long long start, unsigned sectorSize = 512) {
    FeedResult result;
    Bytes copy = image;
    const long long sectors = static_cast<long long>(copy.size() / sectorSize);
    CRawFileInfo accepted;
    if (analyser.AnalyseBufferEx(copy.data() + start * sectorSize, accepted, sectorSize, start, 0, sectors) != 1) {
        return result;
    }
    std::unique_ptr<CRawFileInfo> record(analyser.CreateRawFileInfo());
    record->m_type = accepted.m_type;
    return pictest::Feed(*record, &analyser, image, start, sectorSize);
}

TEST(DrawingRules, DxfStartAndEnd) {
    struct Case {
        std::string name;
        Bytes file;
        bool accepted;
        u64 size;
    };
    auto edit = [](Bytes b, size_t at, const std::string& text) {
        PutText(b, at, text);
        return b;
    };
    const std::vector<Case> cases = {
        {"CR LF section first", Dxf("\r\n", false, 3000), true, 3000},
        {"LF with a comment ends at the LF tag", Dxf("\n", true, 3000), true, 3000},
        {"CR LF with a comment", Dxf("\r\n", true, 5000), true, 5000},
        {"end tag across a sector boundary", Dxf("\n", true, 1024 + 5), true, 1024 + 5},
        {"CR LF end tag across a sector boundary", Dxf("\r\n", false, 1536 + 9), true, 1536 + 9},
        {"end tag ending on a sector boundary", Dxf("\n", true, 1024), true, 1024},
        {"LF section first is not a DXF start", Dxf("\n", false, 3000), false, 0},
        {"comment without a line end", edit(Dxf("\n", true, 3000), 3, "x"), false, 0},
        {"comment whose section opener follows a zero byte", edit(Dxf("\n", true, 3000), 8, std::string(1, '\0')),
         false, 0},
        {"CR LF comment with LF opener", [] {
             const std::string t = "999\r\nx\n  0\nSECTION\n  2\nHEADER\n  0\nEOF\n";
             return Bytes(t.begin(), t.end());
         }(), false, 0},
        {"CR LF opener damaged", edit(Dxf("\r\n", false, 3000), 5, "X"), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (long long start : {0LL, 2LL, 62LL}) {
            BruteForce::CDXFAnalyser analyser;
            const FeedResult r = CarveEx(analyser, Placed(c.file, start, start + 40), start);
            EXPECT_EQ(r.finished, c.accepted);
            if (!c.accepted) continue;
            EXPECT_EQ(r.type, RAW_TYPE_DXF);
            EXPECT_EQ(r.size, c.size);
        }
    }
}

TEST(DrawingRules, DxfWithoutEndStopsAtTheCap) {
    // Only the walk's bound is checked here: a text with no end tag that runs on is cut at the cap.
    BruteForce::CDXFRawFileInfo record;
    unsigned char sector[512];
    memset(sector, 'x', sizeof(sector));
    CRawFileInfo::SearchContext ctx;
    int answer = RAW_SIZE_CONTINUE;
    long long s = 0;
    for (; s < 0xD000000 / 512 + 2 && answer == RAW_SIZE_CONTINUE; ++s) {
        ctx.bufferStartSector = s;
        ctx.blockEndSector = s + 1;
        answer = record.CalcRawSize(sector, 512, s, ctx);
    }
    EXPECT_EQ(answer, RAW_SIZE_FINISHED);
    EXPECT_EQ(s, 0xD000000 / 512);
    EXPECT_EQ(record.m_size, 0xD000000u);
}

}  // namespace

namespace {

Bytes Fh11(size_t length) {
    Bytes b = Filler(length, 17);
    PutLe32(b, 0, 0x0000011C);
    const unsigned char marks[12] = {0x02, 0x00, 0x04, 0x1C, 0x01, 0x14, 0x00, 0x02, 0x00, 0x14, 0x1C, 0x01};
    std::copy(std::begin(marks), std::end(marks), b.begin() + 4);
    PutText(b, 34, "11");
    return b;
}

struct Chunk {
    std::string name;
    u32 length;
};

Bytes Ngrr(const std::vector<Chunk>& chunks) {
    Bytes b = Filler(60, 19);
    PutText(b, 0, "-in-");
    for (const Chunk& c : chunks) {
        Bytes header = Filler(24, 21);
        PutText(header, 0, c.name);
        PutLe32(header, 16, c.length);
        b.insert(b.end(), header.begin(), header.end());
        const Bytes payload = Filler(std::min<u32>(c.length, 100000), 23);
        b.insert(b.end(), payload.begin(), payload.end());
    }
    return b;
}

constexpr unsigned char kInddGuid[16] = {0x06, 0x06, 0xED, 0xF5, 0xD8, 0x1D, 0x46, 0xE5,
                                         0xBD, 0x31, 0xEF, 0xE7, 0xFE, 0x74, 0xB7, 0x1D};
constexpr unsigned char kInddObject[16] = {0xDE, 0x39, 0x39, 0x79, 0x51, 0x88, 0x4B, 0x6C,
                                           0x8E, 0x63, 0xEE, 0xF8, 0xAE, 0xE0, 0xDD, 0x38};

// Master pages and `pages` pages in all, then objects of the given data lengths (32-byte header and
// trailer each), then `tail` bytes of filler that are no object.
Bytes Indd(u32 pages, const std::vector<u32>& objects, size_t tail = 0) {
    Bytes b = Filler(static_cast<size_t>(pages) * 4096, 27);
    std::copy(std::begin(kInddGuid), std::end(kInddGuid), b.begin());
    PutText(b, 16, "DOCUMENT");
    PutLe32(b, 280, pages);
    for (u32 length : objects) {
        Bytes object = Filler(length + 64, 29);
        std::copy(std::begin(kInddObject), std::end(kInddObject), object.begin());
        PutLe32(object, 24, length);
        b.insert(b.end(), object.begin(), object.end());
    }
    const Bytes after = Filler(tail, 31);
    b.insert(b.end(), after.begin(), after.end());
    return b;
}

// A RIFX chunk of `length` bytes after its 8-byte header, then the XMP text when given.
Bytes Aep(u32 length, const std::string& xmp) {
    Bytes b = Filler(length + 8, 33);
    PutText(b, 0, "RIFX");
    PutBe32(b, 4, length);
    PutText(b, 8, "Egg!");
    b.insert(b.end(), xmp.begin(), xmp.end());
    return b;
}

struct StreamCase {
    std::string name;
    std::function<std::unique_ptr<IRawFileAnalyser>()> make;
    Bytes file;
    bool accepted;
    u64 size;
    u64 slack = 0;  // the size may exceed `size` by up to this much (ends found from a zero tail)
};

TEST(DrawingRules, DesignFileEnds) {
    auto fh11 = [] { return std::make_unique<BruteForce::CFH11Analyser>(); };
    auto ngrr = [] { return std::make_unique<RawSpeed::NGRRAnalyser>(); };
    auto indd = [] { return std::make_unique<RawSpeed::InddAnalyser>(); };
    auto aep = [] { return std::make_unique<RawSpeed::AEPAnalyser>(); };
    const std::string xmp = "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta/>" +
                            std::string(900, 'm') + "<?xpacket end=\"w\"?>";
    const std::vector<StreamCase> cases = {
        {"FH11 ends at its zero run", fh11, Fh11(3000), true, 3000},
        {"FH11 short zero tail ends on a whole word", fh11, Fh11(3061), true, 3064},
        {"FH11 wrong version", fh11, [] { Bytes b = Fh11(3000); PutText(b, 34, "10"); return b; }(), false, 0},
        {"NGRR chunk chain", ngrr, Ngrr({{"data", 700}, {"data", 1000}, {"data", 50}}), true, 60 + 72 + 1750},
        {"NGRR chunk header across a sector", ngrr, Ngrr({{"data", 500 - 84}, {"data", 10}}), true, 60 + 48 + 426},
        {"NGRR empty chunk", ngrr, Ngrr({{"data", 0}, {"data", 5}}), true, 60 + 48 + 5},
        {"NGRR chain ends at another name", ngrr, Ngrr({{"data", 600}, {"note", 10}}), true, 60 + 24 + 600},
        {"NGRR upper case start", ngrr, [] { Bytes b = Ngrr({{"data", 8}}); PutText(b, 0, "-IN-"); return b; }(),
         true, 60 + 24 + 8},
        {"INDD last object ends at 8192", indd, Indd(1, {4096 - 64}, 3000), true, 12288},
        {"INDD objects across sectors", indd, Indd(2, {1000, 3000, 77}, 100), true, 16384},
        {"INDD no objects", indd, Indd(3, {}, 600), true, 16384},
        {"INDD not a document", indd, [] { Bytes b = Indd(1, {10}); PutText(b, 16, "DOCUMENX"); return b; }(),
         false, 0},
        {"AEP without XMP ends with its chunk", aep, Aep(5000, ""), true, 5008},
        {"AEP chunk ending in a block's last sector", aep, Aep(64 * 512 - 20, ""), true, 64 * 512 - 12},
        {"AEP with XMP ends at its zero tail", aep, Aep(5000, xmp), true, 5008 + xmp.size(), 9},
        {"AEP wrong form", aep, [] { Bytes b = Aep(5000, ""); PutText(b, 8, "Eg"); b[10] = 'x'; return b; }(), false,
         0},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (long long start : {0LL, 5LL, 63LL}) {
            auto analyser = c.make();
            const FeedResult r = Carve(*analyser, Placed(c.file, start, start + 120), start);
            EXPECT_EQ(r.finished, c.accepted) << start;
            if (!c.accepted) continue;
            EXPECT_EQ(r.type, static_cast<RAW_FILE_TYPE>(analyser->GetDefaultType()));
            EXPECT_GE(r.size, c.size) << start;
            EXPECT_LE(r.size, c.size + c.slack) << start;
        }
    }
}

}  // namespace

namespace {

// A chain of 3DS records from the given steps: a length (at least 89, so that its look-ahead lies
// inside it) starts a record there; 0 marks a look-ahead step of 88 bytes. Returns the file, whose
// end is where the chain ends.
Bytes Chain(const std::vector<u32>& steps, unsigned seed = 41) {
    Bytes b = Filler(4096, seed);
    i64 p = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        const u32 step = steps[i];
        const size_t need = static_cast<size_t>(p) + std::max<u32>(step, 90) + 200;
        if (b.size() < need) {
            const Bytes more = Filler(need - b.size() + 4096, seed + static_cast<unsigned>(i));
            b.insert(b.end(), more.begin(), more.end());
        }
        if (step == 0) {
            PutText(b, static_cast<size_t>(p) + 88, "MM");
            p += 88;
            continue;
        }
        PutText(b, static_cast<size_t>(p), "MM");
        b[p + 2] = static_cast<unsigned char>(step);
        b[p + 3] = static_cast<unsigned char>(step >> 8);
        if (i == 0) {
            b[16] = 0x3D;
            b[17] = 0x3D;
        }
        p += step;
    }
    b.resize(static_cast<size_t>(p));
    return b;
}

std::vector<u32> RandomSteps(unsigned seed, size_t count) {
    std::mt19937 rng(seed);
    std::vector<u32> steps{static_cast<u32>(89 + rng() % 900)};
    for (size_t i = 1; i < count; ++i) {
        const bool lookAhead = rng() % 4 == 0 && steps.back() != 0;
        steps.push_back(lookAhead ? 0 : static_cast<u32>(89 + rng() % 3000));
    }
    if (steps.back() == 0) steps.push_back(200);
    return steps;
}

u64 Sum(const std::vector<u32>& steps) {
    u64 total = 0;
    for (u32 s : steps) total += s == 0 ? 88 : s;
    return total;
}

TEST(DrawingRules, ThreeDsChainsEndWhereTheDeviceWalkEnds) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        const std::vector<u32> steps = RandomSteps(seed, 40);
        const Bytes file = Chain(steps, seed);
        ASSERT_EQ(file.size(), Sum(steps));
        for (long long start : {0LL, 7LL, 63LL}) {
            for (unsigned sectorSize : {512u, 4096u}) {
                const Bytes image = Placed(file, start, start + file.size() / sectorSize + 4, sectorSize);
                RawSpeed::New3DSAnalyser streaming;
                const FeedResult walked = Carve(streaming, image, start, sectorSize);
                EXPECT_TRUE(walked.finished);
                EXPECT_EQ(walked.size, file.size()) << start << " " << sectorSize;
                File3DSAnalyser device;
                const FeedResult measured = pictest::Measure(device, image, start, sectorSize);
                EXPECT_TRUE(measured.finished);
                EXPECT_EQ(measured.size, file.size()) << start << " " << sectorSize;
            }
        }
    }
}

TEST(DrawingRules, ThreeDsLookAheadAcrossASectorBoundary) {
    // The first record ends at 500: the next one's look-ahead (at 588) lies in the second sector, and
    // its own look-ahead step lands there too.
    const std::vector<u32> steps = {500, 0, 300, 120};
    const Bytes file = Chain(steps);
    for (long long start : {0LL, 63LL}) {
        RawSpeed::New3DSAnalyser analyser;
        const FeedResult r = Carve(analyser, Placed(file, start, start + 8), start);
        EXPECT_EQ(r.size, 500u + 88 + 300 + 120) << start;
        EXPECT_EQ(r.name, std::to_string(start) + "-" + std::to_string(start + 1) + "_");
    }
}

TEST(DrawingRules, ThreeDsMutatedChainsAgreeWithTheDeviceWalk) {
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        Bytes file = Chain(RandomSteps(static_cast<unsigned>(round), 12), static_cast<unsigned>(round));
        for (int k = 0; k < 6; ++k) file[rng() % file.size()] = static_cast<unsigned char>(rng() % 3 == 0 ? 'M' : rng());
        if (round % 7 == 0) {  // a record of length 0
            file[2] = 0;
            file[3] = 0;
        }
        const long long start = round % 64;
        const Bytes image = Placed(file, start, start + file.size() / 512 + 4);
        RawSpeed::New3DSAnalyser streaming;
        const FeedResult walked = Carve(streaming, image, start);
        File3DSAnalyser device;
        const FeedResult measured = pictest::Measure(device, image, start);
        if (!walked.finished) continue;  // the first sector no longer looks like a 3DS start
        if (measured.finished) {
            EXPECT_EQ(walked.size, measured.size) << round;
        }
    }
}

TEST(DrawingRules, CartridgeImageSizes) {
    struct Case {
        u32 units;
        u64 size;
    };
    const Case cases[] = {{1000, 512000}, {1, 512}, {1953125, 1000000000}, {2000000, 1000000000},
                          {1000000001, 200000000}, {0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.units);
        Bytes file = Filler(1024, 43);
        PutText(file, 256, "NCSD");
        PutLe32(file, 260, c.units);
        RawSpeed::New3DSAnalyser analyser;
        const FeedResult r = Carve(analyser, Placed(file, 2, 8), 2);
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.type, RAW_TYPE_3DS);
        EXPECT_EQ(r.size, c.size);
    }
    // The device walk does not take cartridge images.
    Bytes file = Filler(1024, 43);
    PutText(file, 256, "NCSD");
    File3DSAnalyser device;
    CRawFileInfo info;
    EXPECT_EQ(device.AnalyseBuffer(file.data(), info), 0);
}

}  // namespace

namespace {

// A CPT whose block table (2 entries at 316) leads to the last block at 2000; its checks at 32 and
// 60 lead to the trailer pointer at `position` (2160 when both checks are 100).
Bytes Cpt(u32 checkA, u32 checkB, u32 trailer, u32 trailerNext, u32 sizeA, u32 sizeB, size_t length = 6000) {
    Bytes b = Filler(length, 47);
    PutText(b, 0, "CPT9FILE");
    PutLe32(b, 40, 2);
    PutLe32(b, 52, 316);
    PutLe32(b, 316 + 8, 2000);
    PutLe32(b, 2000 + 32, checkA);
    PutLe32(b, 2000 + 60, checkB);
    const size_t position = 2060 + (checkA != 0 && checkA == checkB ? checkA : 0);
    PutLe32(b, position, trailer);
    PutLe32(b, position + 4, trailerNext);
    if (trailer >= 8 && trailer <= length) {
        PutLe32(b, trailer - 8, sizeA);
        PutLe32(b, trailer - 4, sizeB);
    }
    return b;
}

TEST(DrawingRules, CptSizesFromTheDevice) {
    struct Case {
        std::string name;
        Bytes file;
        bool measured;
        u64 size;
    };
    const std::vector<Case> cases = {
        {"trailer after equal checks", Cpt(100, 100, 5000, 1, 5500, 500), true, 6000},
        {"checks differ: trailer right after the block", Cpt(100, 101, 5000, 1, 5500, 500), true, 6000},
        {"zero trailer: the last block's offset", Cpt(100, 100, 0, 1, 0, 0), true, 2000},
        {"trailer pointer below 8", Cpt(100, 100, 4, 1, 0, 0), false, 0},
        {"trailer pointer past the device", Cpt(100, 100, 0xFFFFFFF0, 1, 0, 0), false, 0},
        {"sizes summed in 64 bits", Cpt(0, 0, 5000, 1, 0xFFFFFFFF, 0xFFFFFFFF), true, 0x1FFFFFFFEULL},
        {"last block past the device", [] { Bytes b = Cpt(100, 100, 5000, 1, 5500, 500); PutLe32(b, 324, 0xFFFFFF00); return b; }(),
         false, 0},
        {"entry count that reaches past the device", [] { Bytes b = Cpt(100, 100, 5000, 1, 5500, 500); PutLe32(b, 40, 0xFFFFFFFF); return b; }(),
         false, 0},
        {"check pointing past the device", Cpt(0xFFFFFF00, 0xFFFFFF00, 5000, 1, 5500, 500), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileCPTAnalyser analyser;
        CRawFileInfo info;
        Bytes first(c.file.begin(), c.file.begin() + 512);
        ASSERT_EQ(analyser.AnalyseBuffer(first.data(), info), 1);
        EXPECT_EQ(info.m_size, 0u);
        const FeedResult r = pictest::Measure(analyser, Placed(c.file, 3, 30), 3);
        EXPECT_EQ(r.finished, c.measured);
        if (c.measured) {
            EXPECT_EQ(r.size, c.size);
        }
    }
    Bytes file = Cpt(100, 100, 5000, 1, 5500, 500);
    PutLe32(file, 52, 317);
    FileCPTAnalyser analyser;
    CRawFileInfo info;
    EXPECT_EQ(analyser.AnalyseBuffer(file.data(), info), 0) << "the table at 316 only";
}

}  // namespace

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";  // 39 bytes

// Text padded with `fill` up to `length` bytes before `tail` (so the file is `length` + tail bytes).
std::string Padded(const std::string& head, size_t length, const std::string& tail) {
    std::string s = head;
    while (s.size() < length) s += "<g id=\"x\"/>\n";
    s.resize(length);
    s += tail;
    return s;
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(DrawingRules, SvgFamilyTypes) {
    struct Case {
        std::string name;
        std::string text;
        RAW_FILE_TYPE type;  // 0: refused
    };
    const std::string bom = "\xEF\xBB\xBF";
    const std::string gpx57 = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n";
    const std::vector<Case> cases = {
        {"<gpx at 39, before an svg opener", kDeclaration + "<gpx version=\"1.1\"><svg x=\"1\"/>", RAW_TYPE_GPX},
        {"<gpx at 57", gpx57 + "<gpx version=\"1.1\">", RAW_TYPE_GPX},
        {"declaration and tag in capitals", "<?XML VERSION=\"1.0\" ENCODING=\"UTF-8\"?>\n<GPX>", RAW_TYPE_GPX},
        {"<gpx elsewhere is no track", kDeclaration + " <gpx version=\"1.1\">", 0},
        {"BCFZ", "BCFZ\x01\x02", RAW_TYPE_GPX},
        {"bcfz", "bcfz\x01\x02", RAW_TYPE_GPX},
        {"plist doctype at 39", kDeclaration + "<!DOCTYPE plist PUBLIC>", RAW_TYPE_PLIST},
        {"plist doctype at 40", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!DOCTYPE plist>", RAW_TYPE_PLIST},
        {"svg after the declaration", kDeclaration + "<!-- drawn -->\n<svg xmlns=\"x\">", RAW_TYPE_SVG},
        {"svg opener then a line end and a blank", kDeclaration + "<svg\n width=\"1\">", RAW_TYPE_SVG},
        {"svg opener then a carriage return and a blank", kDeclaration + "<svg\r width=\"1\">", RAW_TYPE_SVG},
        {"svg opener then CR LF", kDeclaration + "<svg\r\n  width=\"1\">", RAW_TYPE_SVG},
        {"svg opener then a tab", kDeclaration + "<svg\twidth=\"1\">", RAW_TYPE_SVG},
        {"svg opener closed then a line end", kDeclaration + "<svg>\n", RAW_TYPE_SVG},
        {"svg after a byte order mark", bom + kDeclaration + "<svg width=\"1\">", RAW_TYPE_SVG},
        {"svg opener without blank", kDeclaration + "<svgx width=\"1\">", 0},
        {"svg opener past 512 bytes", Padded(kDeclaration, 508, "<svg width=\"1\">"), 0},
        {"single-quoted version", "<?xml version='1.0'?>\n<svg width=\"1\">", 0},
        {"note export", kDeclaration + "<en-export application=\"Evernote\" version=\"10\">", RAW_TYPE_ENEX},
        {"Evernote without =\"", kDeclaration + "<en-export application=Evernote>", 0},
        {"citation style", kDeclaration + "<style xmlns=\"http://purl.org/net/xbiblio/csl\">", RAW_TYPE_CSL},
        {"svg wins over csl", kDeclaration + "<svg class=\"csl\">", RAW_TYPE_SVG},
        {"other XML", kDeclaration + "<html><body/></html>", 0},
        {"bare svg opener", "<svg xmlns=\"x\">", RAW_TYPE_SVG},
        {"bare svg opener closed", "<svg>\n</svg>", 0},
        {"binary form", std::string("\xCD\x01\x00\x00", 4) + "abc", RAW_TYPE_SVG},
        {"binary-like", std::string("\xCD\x01\x00\x01", 4) + "abc", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes sector(1024, 0);  // the search's buffer holds more than the sector
        std::copy(c.text.begin(), c.text.end(), sector.begin());
        Brance::SVGAnalyser analyser;
        CRawFileInfo info;
        EXPECT_EQ(analyser.AnalyseBuffer(sector.data(), info), c.type != 0 ? 1 : 0);
        if (c.type != 0) {
            EXPECT_EQ(info.m_type, c.type);
        }
    }
}

TEST(DrawingRules, SvgFamilyEnds) {
    struct Case {
        std::string name;
        Bytes file;
        unsigned sectorSize;
        RAW_FILE_TYPE type;
        u64 low, high;  // the size found lies in [low, high]
        bool named;
    };
    Bytes binary = Filler(7000, 51);
    PutText(binary, 0, std::string("\xCD\x01\x00\x00", 4));
    PutLe32(binary, 1100, 5000);
    Bytes hugeBinary = binary;
    PutLe32(hugeBinary, 1100, 0xA00000);
    const std::string svg = kDeclaration + "<svg xmlns=\"http://www.w3.org/2000/svg\">\n";
    const std::string gpx = kDeclaration + "<gpx version=\"1.1\">\n<trk>\n";
    const std::string plist = kDeclaration + "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\">\n<plist>\n";
    const std::vector<Case> cases = {
        // A text file ends at its last byte, before the zeros of its last sector (XML holds no zero byte).
        {"svg ending mid-sector", B(Padded(svg, 3000, "</svg>\n")), 512, RAW_TYPE_SVG, 3007, 3007, true},
        {"svg ending mid-sector, 4096-byte sectors", B(Padded(svg, 9000, "</svg>\n")), 4096, RAW_TYPE_SVG, 9007, 9007,
         true},
        {"svg ending in CR LF", B(Padded(svg, 3000, "</svg>\r\n")), 512, RAW_TYPE_SVG, 3008, 3008, true},
        // The closing tag ends the sector: the zero sector after it sees it in the half sector before.
        {"svg ending at a sector end", B(Padded(svg, 1024 - 7, "</svg>\n")), 512, RAW_TYPE_SVG, 1024, 1024, true},
        {"citation style", B(Padded(kDeclaration + "<style class=\"csl\">\n", 2000, "</style>\n")), 512, RAW_TYPE_CSL,
         2009, 2009, true},
        {"gpx", B(Padded(gpx, 2500, "</trk>\n</gpx>\n")), 512, RAW_TYPE_GPX, 2514, 2514, false},
        {"gpx, 4096-byte sectors", B(Padded(gpx, 5000, "</trk>\n</gpx>\n")), 4096, RAW_TYPE_GPX, 5014, 5014, false},
        {"plist", B(Padded(plist, 700, "</plist>\n")), 512, RAW_TYPE_PLIST, 709, 709, false},
        {"plist ending at its tag", B(Padded(plist, 1000, "</plist>")), 512, RAW_TYPE_PLIST, 1008, 1008, false},
        {"gpx whose tag is missing ends at its zeros too", B(Padded(gpx, 700, "</trk>\n")), 512, RAW_TYPE_GPX,
         707, 707, false},
        {"binary form", binary, 512, RAW_TYPE_SVG, 6152, 6152, true},
        {"binary form, 4096-byte sectors", binary, 4096, RAW_TYPE_SVG, 6152, 6152, true},
        {"binary form over the cap", hugeBinary, 512, RAW_TYPE_SVG, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Brance::SVGAnalyser analyser;
        const FeedResult r = Carve(analyser, Placed(c.file, 2, 64, c.sectorSize), 2, c.sectorSize);
        EXPECT_EQ(r.type, c.type);
        EXPECT_GE(r.size, c.low);
        EXPECT_LE(r.size, c.high);
        if (c.named) {
            EXPECT_EQ(r.name, std::to_string(2) + "-" + std::to_string(r.sector) + "_");
        } else {
            EXPECT_EQ(r.name, "");
        }
    }
}

TEST(DrawingRules, SvgFamilyCaps) {
    const std::string svg = kDeclaration + "<svg xmlns=\"http://www.w3.org/2000/svg\">\n";
    const Bytes text = B(Padded(svg, 0xA00000 + 4096, ""));
    Brance::SVGAnalyser analyser;
    FeedResult r = Carve(analyser, Placed(text, 1, 8), 1, 512, 2048);
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.size, 0xA00000u) << "a text file without end stops at the cap";
    const Bytes track = B(Padded(kDeclaration + "<gpx>\n", 0xA00000 + 4096, ""));
    r = Carve(analyser, Placed(track, 1, 8), 1, 512, 2048);
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.type, RAW_TYPE_GPX);
    EXPECT_EQ(r.size, 0xA00000u + 512) << "a track without end ends at the first sector past the cap";
}

TEST(DrawingRules, SvgFallbackTypesAndHandOver) {
    struct Case {
        std::string name;
        std::string text;
        RAW_FILE_TYPE type;
    };
    const std::vector<Case> cases = {
        {"gpx at 57", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<gpx>", RAW_TYPE_GPX},
        {"plist at 39", kDeclaration + "<!DOCTYPE plist>", RAW_TYPE_PLIST},
        {"svg opener within 2048 bytes", Padded(kDeclaration, 1500, "<svg width=\"1\">"), RAW_TYPE_SVG},
        {"svg opener past 2048 bytes", Padded(kDeclaration, 2044, "<svg width=\"1\">"), 0},
        {"no declaration", "<svg width=\"1\">", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes head(2048, 0);
        std::copy(c.text.begin(), c.text.begin() + std::min<size_t>(c.text.size(), head.size()), head.begin());
        FileSVGAnalyser analyser;
        CRawFileInfo info;
        EXPECT_EQ(analyser.AnalyseBuffer(head.data(), info), c.type != 0 ? 1 : 0);
        if (c.type != 0) {
            EXPECT_EQ(info.m_type, c.type);
        }
    }
    // A text file the search never saw end is handed to the device walk.
    Brance::SVGAnalyser analyser;
    const Bytes open = B(Padded(kDeclaration + "<svg width=\"1\">\n", 1536, ""));
    const FeedResult r = Carve(analyser, open, 0);
    EXPECT_FALSE(r.finished);
    EXPECT_EQ(r.analyser, analyser.GetFallback());
}

// The device walk ends a file where its zero-padded sector's data ends (none of its bytes left out);
// sectors of 256 bytes or less end it only near a closing tag. The sector size is each device's own.
TEST(DrawingRules, SvgDeviceWalk) {
    const std::string svg = kDeclaration + "<svg xmlns=\"http://www.w3.org/2000/svg\">\n";
    struct Case {
        std::string name;
        Bytes file;
        unsigned sectorSize;
        RAW_FILE_TYPE recordType;
        bool measured;
        u64 size;
        RAW_FILE_TYPE type;
    };
    Bytes across = B(Padded(svg, 254, std::string(2, '\0')));  // sector 0 ends in zeros, no tag in it
    const std::string tag = "</gpx>\n";
    across.insert(across.end(), tag.begin(), tag.end());
    const std::vector<Case> cases = {
        {"512-byte sectors", B(Padded(svg, 3000, "</svg>\n")), 512, 0, true, 3007, RAW_TYPE_SVG},
        {"4096-byte sectors", B(Padded(svg, 3000, "</svg>\n")), 4096, 0, true, 3007, RAW_TYPE_SVG},
        {"the file filling its last sector", B(Padded(svg, 1024 - 7, "</svg>\n")), 512, 0, true, 1024, RAW_TYPE_SVG},
        {"a track keeps its type", B(Padded(svg, 700, "</gpx>\n")), 512, RAW_TYPE_GPX, true, 707, RAW_TYPE_GPX},
        {"256-byte sectors: 9 bytes past the tag's start", B(Padded(svg, 600, "\n</svg>\n")), 256, 0, true, 609,
         RAW_TYPE_SVG},
        {"256-byte sectors: zero padding without a tag is passed by",
         [&] {
             Bytes b = B(Padded(svg, 254, std::string(2, '\0')));
             const Bytes rest = B(Padded("<g/>", 300, "</plist>\n"));
             b.insert(b.end(), rest.begin(), rest.end());
             return b;
         }(),
         256, RAW_TYPE_PLIST, true, 256 + 300 + 9, RAW_TYPE_PLIST},
        {"256-byte sectors: a tag at the next sector's start", across, 256, 0, true, 256, RAW_TYPE_SVG},
        {"no zero-padded sector before the cap", B(Padded(svg, 0x500001 + 600, "")), 512, 0, false, 0, 0},
    };
    FileSVGAnalyser analyser;  // one analyser for every device, as the search keeps it
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes image = Placed(c.file, 3, 16, c.sectorSize);
        rawtest::MemoryDevice device(image, c.sectorSize);
        CRawFileInfo record;
        record.m_startSector = 3;
        record.m_type = c.recordType;
        EXPECT_EQ(analyser.GetRawFileSize(record, &device), c.measured);
        if (c.measured) {
            EXPECT_EQ(record.m_size, c.size);
            EXPECT_EQ(record.m_type, c.type);
        }
    }
    CRawFileInfo record;
    EXPECT_FALSE(analyser.GetRawFileSize(record, nullptr));
}

}  // namespace

namespace {

// Corrupt fields of the chained formats: every walk ends (or waits for the search's end) without
// reading outside its bytes, and no size comes from a field that points past the data.
TEST(DrawingHostile, CorruptChainsEndBounded) {
    auto tds = [] { return std::make_unique<RawSpeed::New3DSAnalyser>(); };
    auto indd = [] { return std::make_unique<RawSpeed::InddAnalyser>(); };
    auto ngrr = [] { return std::make_unique<RawSpeed::NGRRAnalyser>(); };
    auto aep = [] { return std::make_unique<RawSpeed::AEPAnalyser>(); };
    Bytes zeroLength = Chain({300, 200, 150, 400});
    PutLe16(zeroLength, 502, 0);
    Bytes firstZero = Chain({300, 200});
    PutLe16(firstZero, 2, 0);
    Bytes lookAheads = Chain({300});
    for (size_t p = 300; p + 90 <= 60000; p += 88) {
        lookAheads.resize(p + 90, 0x61);
        PutText(lookAheads, p, "MM");
        PutText(lookAheads, p + 88, "MM");
    }
    const u64 lookAheadEnd = [&] {
        u64 p = 0;
        while (p + 90 <= lookAheads.size()) {
            if (lookAheads[p + 88] == 'M' && lookAheads[p + 89] == 'M') {
                p += 88;
            } else if (p == 0) {
                p = 300;
            } else {
                break;
            }
        }
        return p;
    }();
    Bytes hugePages = Indd(1, {100});
    PutLe32(hugePages, 280, 0xFFFFFFFF);
    Bytes hugeObject = Indd(1, {100, 200});
    PutLe32(hugeObject, 4096 + 24, 0xFFFFFFFF);
    const std::vector<StreamCase> cases = {
        {"3DS record of length 0 ends the chain", tds, zeroLength, true, 500},
        {"3DS first record of length 0", tds, firstZero, true, 0},
        {"3DS long run of look-ahead steps", tds, lookAheads, true, lookAheadEnd},
        {"INDD pages past any device", indd, hugePages, true, 0},
        {"INDD object length past any device", indd, hugeObject, true, 0},
        {"NGRR chunk length past any device", ngrr, Ngrr({{"data", 300}, {"data", 0xFFFFFFFF}}), true, 0},
        {"NGRR chunk of length 0", ngrr, Ngrr({{"data", 0}, {"data", 0}, {"free", 10}}), true, 60 + 48},
        {"AEP negative length", aep, [] { Bytes b = Aep(600, ""); PutBe32(b, 4, 0x80000000u); return b; }(), true, 0},
        {"AEP length past any device", aep, [] { Bytes b = Aep(600, ""); PutBe32(b, 4, 0x7FFFFFF0); return b; }(),
         true, 0},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (long long start : {0LL, 63LL}) {
            auto analyser = c.make();
            const Bytes image = Placed(c.file, start, start + c.file.size() / 512 + 8);
            const FeedResult r = Carve(*analyser, image, start);
            EXPECT_EQ(r.size, c.size);
        }
    }
}

// Random bytes after each analyser's key and mutated copies of real layouts: the first sectors of
// every analyser of this family, fed and measured, never read outside their bytes (run under
// AddressSanitizer) nor give a size past the largest cap.
TEST(DrawingHostile, MutatedAndRandomSectorsStayInBounds) {
    struct Seed {
        std::function<std::unique_ptr<IRawFileAnalyser>()> make;
        Bytes file;
    };
    const std::string svg = kDeclaration + "<svg xmlns=\"http://www.w3.org/2000/svg\">\n";
    Bytes binary = Filler(3000, 61);
    PutText(binary, 0, std::string("\xCD\x01\x00\x00", 4));
    const std::vector<Seed> seeds = {
        {[] { return std::make_unique<BruteForce::CDWGAnalyser>(); }, LocatorDrawing("AC1015", Locators(60, 20000), 24576)},
        {[] { return std::make_unique<BruteForce::CDWGAnalyser>(); }, ScrambledDrawing("AC1018", 0x5000, 0x6000)},
        {[] { return std::make_unique<BruteForce::CDWGAnalyser>(); }, CodedDrawing(0x3000, 0, 0x3000)},
        {[] { return std::make_unique<Brance::SVGAnalyser>(); }, B(Padded(svg, 3000, "</svg>\n"))},
        {[] { return std::make_unique<Brance::SVGAnalyser>(); }, B(Padded(kDeclaration + "<gpx>\n", 3000, "</gpx>\n"))},
        {[] { return std::make_unique<Brance::SVGAnalyser>(); }, binary},
        {[] { return std::make_unique<RawSpeed::New3DSAnalyser>(); }, Chain(RandomSteps(5, 30))},
        {[] { return std::make_unique<RawSpeed::InddAnalyser>(); }, Indd(1, {100, 3000, 20})},
        {[] { return std::make_unique<RawSpeed::AEPAnalyser>(); }, Aep(1200, "<?xpacket begin?>")},
        {[] { return std::make_unique<RawSpeed::NGRRAnalyser>(); }, Ngrr({{"data", 300}, {"data", 900}})},
        {[] { return std::make_unique<BruteForce::CFH11Analyser>(); }, Fh11(3000)},
        {[] { return std::make_unique<FileCPTAnalyser>(); }, Cpt(100, 100, 5000, 1, 5500, 500)},
        {[] { return std::make_unique<FileTTFAnalyser>(); }, Font(Tables(12, 300, "glyf"))},
    };
    std::mt19937 rng(2525);
    for (size_t k = 0; k < seeds.size(); ++k) {
        SCOPED_TRACE(k);
        for (int round = 0; round < 120; ++round) {
            Bytes file = seeds[k].file;
            if (round % 4 == 3) {
                // Random bytes after the first four.
                for (size_t i = 4; i < std::min<size_t>(file.size(), 2048); ++i) file[i] = static_cast<unsigned char>(rng());
            } else {
                const size_t span = std::min<size_t>(file.size(), 1200);
                for (int m = 0; m < 16; ++m) file[rng() % span] = static_cast<unsigned char>(rng() % 3 == 0 ? 0 : rng());
            }
            auto analyser = seeds[k].make();
            const Bytes image = Placed(file, 3, 3 + file.size() / 512 + 6);
            const FeedResult r = Carve(*analyser, image, 3, 512, round % 2 == 0 ? 64 : 5);
            EXPECT_LE(r.size, 0x514000000ULL);
            if (r.size == 0) {
                EXPECT_LE(pictest::Measure(*analyser, image, 3).size, 0x514000000ULL);
                if (r.analyser != nullptr && r.analyser != analyser.get()) {
                    EXPECT_LE(pictest::Measure(*r.analyser, image, 3).size, 0x514000000ULL);
                }
            }
        }
    }
    // The DXF analyser takes its first sector with the buffer's bounds.
    for (int round = 0; round < 120; ++round) {
        Bytes file = Dxf(round % 2 == 0 ? "\n" : "\r\n", round % 3 == 0, 3000);
        for (int m = 0; m < 16; ++m) file[rng() % 1200] = static_cast<unsigned char>(rng());
        BruteForce::CDXFAnalyser analyser;
        const FeedResult r = CarveEx(analyser, Placed(file, 3, 20), 3);
        EXPECT_LE(r.size, 0xD000000u);
    }
}

}  // namespace
