// The rules of the picture and camera raw analysers that are easy to get wrong, one row each: the
// number the analyser gives and the number the rule says.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "PictureTestSupport.h"
#include "engine/RAWSearch/Analysers/CRWAnalyser.h"
#include "engine/RAWSearch/Analysers/FileTIFAnalyser.h"
#include "engine/RAWSearch/Analysers/GifAnalyser.h"
#include "engine/RAWSearch/Analysers/PictureHeaderAnalysers.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Analysers/TiffAnalyzer.h"
#include "engine/RAWSearch/Analysers/X3FAnalyser.h"

using namespace pictest;

namespace {

// Carves the file (at sector 0, zeros after it) with a new analyser of the kind.
template <typename Analyser>
FeedResult CarveWith(const Bytes& file, size_t sectors = 64) {
    Analyser analyser;
    FeedResult r = Carve(analyser, Placed(file, 0, sectors));
    // Which analyser the record ended with: the one it began with (0), or another (its fallback, 1).
    r.analyser = r.analyser == &analyser ? nullptr : r.analyser;
    return r;
}

// 1 when the header analyser accepts the sector.
template <typename Analyser>
u64 Accepts(const Bytes& sector) {
    Analyser analyser;
    CRawFileInfo info;
    Bytes copy = sector;
    copy.resize(512, 0);
    return analyser.AnalyseBuffer(copy.data(), info) == 1 ? 1 : 0;
}

// 1 when the TIFF record ended without a size and its analyser became the device fallback.
u64 HandedToFallback(const Bytes& file) {
    const FeedResult r = CarveWith<BruteForce::TiffAnalyzer>(file, 128);
    return r.size == 0 && r.analyser != nullptr ? 1 : 0;
}

Bytes Chain(u32 directories) {
    TiffWriter t(4096);
    t.First(8);
    for (u32 i = 0; i < directories; ++i) {
        t.Directory(8 + i * 100, {t.Short(256, 8)}, i + 1 < directories ? 8 + (i + 1) * 100 : 0);
    }
    return t.bytes();
}

Bytes WithHeader(Bytes file, const char* header) {
    memcpy(file.data(), header, strlen(header) < 4 ? 4 : strlen(header));
    return file;
}

Bytes Gif700() {
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 8, 0, 8, 0, 0, 0, 0, 0x21, 0xFE};
    while (gif.size() < 700 - 2 - 256) {
        gif.push_back(255);
        gif.insert(gif.end(), 255, 'c');
    }
    const size_t last = 700 - 3 - gif.size();
    gif.push_back(static_cast<unsigned char>(last));
    gif.insert(gif.end(), last, 'c');
    gif.push_back(0);
    gif.push_back(';');
    return gif;
}

Bytes CrwEndingAcrossABoundary() {
    Bytes crw(820 * 512 + 30, 0x2B);
    memcpy(crw.data(), "II\x1A\x00\x00\x00HEAPCCDR\x02\x00\x01\x00", 18);
    memcpy(crw.data() + 820 * 512 - 40, "\x07\x28\xA8\x00\x00\x00", 6);
    return crw;
}

Bytes X3fWithDirectoryAt(size_t length, size_t directory) {
    Bytes x3f(length, 0x61);
    memcpy(x3f.data(), "FOVb", 4);
    memcpy(x3f.data() + directory, "SECd", 4);
    return x3f;
}

Bytes Ico(u32 count, u8 reserved) {
    Bytes ico(512, 0);
    ByteWriter w(ico);
    w.Le16(2, 1);
    w.Le16(4, static_cast<u16>(count));
    for (u32 i = 0; i < std::min(count, 16u); ++i) {
        w.Le16(6 + i * 16 + 6, 32);
        w.Le32(6 + i * 16 + 8, 100);
        w.U8(6 + i * 16 + 3, reserved);
    }
    return ico;
}

Bytes PlaceableWmf(bool goodChecksum) {
    Bytes wmf(512, 0);
    ByteWriter w(wmf);
    w.Bytes(0, "\xD7\xCD\xC6\x9A\x00\x00", 6);
    w.Le16(14, 1440);
    u16 x = 0;
    for (size_t i = 0; i < 10; ++i) x ^= *ByteReader(wmf).Le16(2 * i);
    w.Le16(20, goodChecksum ? x : static_cast<u16>(~x));
    w.Bytes(22, "\x01\x00\x09\x00\x00\x03", 6);
    w.Le32(28, 100);
    return wmf;
}

Bytes Bmp(u32 header) {
    Bytes bmp(512, 0);
    ByteWriter w(bmp);
    w.Bytes(0, "BM", 2);
    w.Le32(2, 1000);
    w.Le32(14, header);
    return bmp;
}

Bytes Raf() {
    Bytes raf(148, 0);
    memcpy(raf.data(), "FUJIFILMCCD-RAW ", 16);
    ByteWriter(raf).Be32(100, 148);
    ByteWriter(raf).Be32(104, 20000);
    raf.resize(148 + 20000, 0x37);
    return raf;
}

}  // namespace

TEST(PictureRules, OneRowEach) {
    const std::vector<TiffEntry> nikon = {Make("Nikon"), Model("D70")};
    struct Row {
        const char* rule;
        std::function<u64()> actual;
        u64 expected;
    };
    const Row rows[] = {
        // TIFF and camera raws.
        {"a little-endian TIFF in its first sector ends at the first sector ending in 32 zero bytes past the "
         "extent (at least 8192): whole sectors",
         [] { return CarveWith<BruteForce::TiffAnalyzer>(SmallTiff({})).size; }, 17 * 512},
        {"... and a camera raw whose extent ends in that sector is sized to it exactly",
         [&] { return CarveWith<BruteForce::TiffAnalyzer>(SmallTiff(nikon)).size; }, 8192},
        {"Nikon gives NEF", [&] { return u64{CarveWith<BruteForce::TiffAnalyzer>(SmallTiff(nikon)).type}; },
         RAW_TYPE_NEF},
        {"Sony DSC-R1 gives SR2",
         [] { return u64{CarveWith<BruteForce::TiffAnalyzer>(SmallTiff({Make("SONY"), Model("DSC-R1")})).type}; },
         RAW_TYPE_SR2},
        {"a directory of 513 entries is invalid (its make is not read)",
         [] {
             TiffWriter t(8192);
             t.First(8);
             std::vector<TiffEntry> entries(513, t.Short(700, 1));
             entries[0] = Make("Nikon");
             t.Directory(8, entries, 0);
             return u64{CarveWith<BruteForce::TiffAnalyzer>(t.bytes()).type};
         },
         RAW_TYPE_TIF},
        {"eleven directories are followed", [] { return HandedToFallback(Chain(11)); }, 0},
        {"more than eleven directories give up to the fallback", [] { return HandedToFallback(Chain(12)); }, 1},
        {"a Fuji header goes to the fallback", [] { return HandedToFallback(Raf()); }, 1},
        {"a Panasonic header goes to the fallback",
         [] { return HandedToFallback(WithHeader(SmallTiff({}), "\x49\x49\x55\x00")); }, 1},
        {"a backwards chain goes to the fallback",
         [] {
             TiffWriter t(2000);
             t.First(600);
             t.Directory(600, {t.Short(256, 8)}, 100);
             return HandedToFallback(t.bytes());
         },
         1},
        {"a pointer leaving the window goes to the fallback",
         [] {
             TiffWriter t(800);
             t.First(8);
             t.Directory(8, {t.Raw(273, 4, 3, 300000)}, 0);
             return HandedToFallback(t.bytes());
         },
         1},
        {"a make of 31 characters is dropped",
         [] { return u64{CarveWith<BruteForce::TiffAnalyzer>(SmallTiff({Make(std::string(31, 'A'))})).name == "_0-16_"}; },
         1},
        {"a \"/\" in a make becomes \"_\"",
         [] { return u64{CarveWith<BruteForce::TiffAnalyzer>(SmallTiff({Make("A/B")})).name == "A_B__0-16_"}; }, 1},
        {"Panasonic header, a model without DMC-: RAW by the fallback",
         [] {
             FileTIFAnalyser fallback;
             Bytes file = WithHeader(SmallTiff({Make("Panasonic"), Model("DC-LX100")}, 600, 12000), "\x49\x49\x55\x00");
             return u64{Measure(fallback, Placed(file, 0, 40)).type};
         },
         RAW_TYPE_PANASONIC_RAW},
        {"Fuji RAF: the furthest end of the parts its header names, exactly",
         [] {
             FileTIFAnalyser fallback;
             return Measure(fallback, Placed(Raf(), 0, 80)).size;
         },
         148 + 20000},
        {"the fallback makes tags that point nowhere past 10,240 bytes 130,862,284 bytes, in whole sectors",
         [&] {
             FileTIFAnalyser fallback;
             return Measure(fallback, Placed(SmallTiff(nikon), 0, 8)).size;
         },
         (130862284 + 511) / 512 * 512},
        // The other pictures.
        {"a BMP with a 40-byte header is accepted", [] { return Accepts<FileBMPAnalyser>(Bmp(40)); }, 1},
        {"a BMP with a 108-byte (version 4) header is refused", [] { return Accepts<FileBMPAnalyser>(Bmp(108)); }, 0},
        {"an ICO with 16 entries is accepted", [] { return Accepts<FileICOAnalyser>(Ico(16, 0)); }, 1},
        {"an ICO with 17 entries is refused", [] { return Accepts<FileICOAnalyser>(Ico(17, 0)); }, 0},
        {"an ICO entry with its reserved byte set is refused", [] { return Accepts<FileICOAnalyser>(Ico(1, 1)); }, 0},
        {"a placeable WMF with its checksum is accepted", [] { return Accepts<FileWMFAnalyser>(PlaceableWmf(true)); },
         1},
        {"a placeable WMF with a wrong checksum is refused",
         [] { return Accepts<FileWMFAnalyser>(PlaceableWmf(false)); }, 0},
        {"a GIF of 700 bytes on 512-byte sectors: 700 bytes, its trailer the last",
         [] { return CarveWith<BruteForce::CGifAnalyser>(Gif700()).size; }, 700},
        {"a CRW whose end record lies 40 bytes before a sector boundary is found from the next sector",
         [] { return CarveWith<Brance::CRWAnalyser>(CrwEndingAcrossABoundary(), 900).sector; }, 820},
        {"... and ends 70 bytes after the record",
         [] { return CarveWith<Brance::CRWAnalyser>(CrwEndingAcrossABoundary(), 900).size; }, 820 * 512 + 30},
        {"X3F: \"FOVb\" gives type 108",
         [] { return u64{CarveWith<Brance::X3FAnalyser>(X3fWithDirectoryAt(3000, 2924)).type}; }, RAW_TYPE_X3F},
        {"X3F: the file ends 76 bytes after \"SECd\"",
         [] { return CarveWith<Brance::X3FAnalyser>(X3fWithDirectoryAt(3000, 2924)).size; }, 3000},
        {"X3F: named from its first and last sectors",
         [] { return u64{CarveWith<Brance::X3FAnalyser>(X3fWithDirectoryAt(3000, 2924)).name == "0-5_"}; }, 1},
        {"X3F: without \"SECd\" within 0x6400000 bytes, 0x6400000",
         [] {
             Brance::X3FRawFileInfo record(nullptr);
             Bytes sector(512, 0x61);
             CRawFileInfo::SearchContext ctx;
             ctx.bufferStartSector = 204800;
             ctx.blockEndSector = 204801;
             record.CalcRawSize(sector.data(), 512, 204800, ctx);
             return record.m_size;
         },
         0x6400000},
        {"X3F: the fallback finds \"SECd\" with the sector size of its device",
         [] {
             FileX3FAnalyser fallback;
             return Measure(fallback, Placed(X3fWithDirectoryAt(9000, 8924), 0, 8, 4096), 0, 4096).size;
         },
         9000},
    };
    for (const Row& row : rows) EXPECT_EQ(row.actual(), row.expected) << row.rule;
}
