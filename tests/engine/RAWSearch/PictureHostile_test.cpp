// The picture analysers on hostile bytes: a table of corrupt files run through every entry point
// (AnalyseBuffer, the streaming CalcRawSize, the device fallback's GetRawFileSize), then a bounded smoke
// of random sectors carrying each signature and of mutated copies of valid files. Sectors and the
// search's blocks lie in memory of exactly their size, so a read past them is an AddressSanitizer error;
// every walk must end (the test has a time budget).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "PictureTestSupport.h"
#include "engine/RAWSearch/Analysers/CRWAnalyser.h"
#include "engine/RAWSearch/Analysers/FileTIFAnalyser.h"
#include "engine/RAWSearch/Analysers/GifAnalyser.h"
#include "engine/RAWSearch/Analysers/PNGAnalyser.h"
#include "engine/RAWSearch/Analysers/PSDAnalyser.h"
#include "engine/RAWSearch/Analysers/PSPAnalyser.h"
#include "engine/RAWSearch/Analysers/PictureHeaderAnalysers.h"
#include "engine/RAWSearch/Analysers/TiffAnalyzer.h"
#include "engine/RAWSearch/Analysers/WpgAnalyser.h"
#include "engine/RAWSearch/Analysers/X3FAnalyser.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

using namespace pictest;

namespace {

// The streaming analyser or header analyser of a row, with the device fallback its records use.
struct Subject {
    const char* name;
    std::function<IRawFileAnalyser*()> make;
    std::function<IRawFileAnalyser*()> fallback;  // null: none of its own
};

std::vector<Subject> Subjects() {
    return {
        {"TIFF", [] { return new BruteForce::TiffAnalyzer(); }, [] { return new FileTIFAnalyser(); }},
        {"PNG", [] { return new RawSpeed::PNGAnalyser(); }, [] { return new FilePNGAnalyser(); }},
        {"GIF", [] { return new BruteForce::CGifAnalyser(); }, nullptr},
        {"WPG", [] { return new RawSpeed::WpgAnalyser(); }, nullptr},
        {"PSD", [] { return new RawSpeed::PSDAnalyser(); }, [] { return new FilePSDAnalyser(); }},
        {"PSP", [] { return new RawSpeed::PSPAnalyser(); }, [] { return new FilePSPAnalyser(); }},
        {"X3F", [] { return new Brance::X3FAnalyser(); }, [] { return new FileX3FAnalyser(); }},
        {"CRW", [] { return new Brance::CRWAnalyser(); }, [] { return new FileCRWAnalyser(); }},
        {"BMP", [] { return new FileBMPAnalyser(); }, nullptr},
        {"ICO", [] { return new FileICOAnalyser(); }, nullptr},
        {"ICNS", [] { return new FileICNSAnalyser(); }, nullptr},
        {"EMF", [] { return new FileEMFAnalyser(); }, nullptr},
        {"WMF", [] { return new FileWMFAnalyser(); }, nullptr},
        {"MRW", [] { return new FileMRWAnalyser(); }, nullptr},
    };
}

const Subject& SubjectNamed(const std::vector<Subject>& all, const std::string& name) {
    for (const Subject& s : all) {
        if (name == s.name) return s;
    }
    throw std::runtime_error("no subject " + name);
}

// Runs every entry point over the image (the file at sector 0): AnalyseBuffer on the first sector, the
// record through the image in blocks of blockSectors, the record's end as the search handles it, and
// the fallback on the device (directly too, whatever the stream did).
void RunAll(const Subject& subject, const Bytes& image, long long blockSectors, unsigned sectorSize = 512) {
    std::unique_ptr<IRawFileAnalyser> analyser(subject.make());
    const FeedResult r = Carve(*analyser, image, 0, sectorSize, blockSectors);
    rawtest::MemoryDevice device(image, sectorSize);
    if (r.analyser != nullptr && r.size == 0) {
        CRawFileInfo record;
        r.analyser->GetRawFileSize(record, &device);
    }
    if (subject.fallback) {
        std::unique_ptr<IRawFileAnalyser> fallback(subject.fallback());
        CRawFileInfo record;
        Bytes first(image.begin(), image.begin() + sectorSize);
        fallback->AnalyseBuffer(first.data(), record);
        record.m_startSector = 0;
        fallback->GetRawFileSize(record, &device);
        EXPECT_LE(record.m_size, u64{FileTIFAnalyser::kLargestExtent} + 0x10000) << subject.name << ": past every cap";
    }
}

// A TIFF whose first directory is at 8, built by the callback.
Bytes Tiff(const std::function<void(TiffWriter&)>& build, size_t size = 4096, bool little = true) {
    TiffWriter t(size, little);
    t.First(8);
    build(t);
    return t.bytes();
}

}  // namespace

TEST(PictureHostile, CorruptFilesThroughEveryEntryPoint) {
    const auto all = Subjects();
    struct Case {
        const char* subject;
        const char* name;
        std::function<Bytes()> file;
    };
    const Case cases[] = {
        {"TIFF", "a directory of 513 entries",
         [] {
             return Tiff([](TiffWriter& t) { t.Directory(8, std::vector<TiffEntry>(513, t.Short(256, 1)), 0); },
                         8 + 2 + 513 * 12 + 4);
         }},
        {"TIFF", "a directory of 0xFFFF entries at the device's end",
         [] { return Tiff([](TiffWriter& t) { t.U16(8, 0xFFFF); }, 512); }},
        {"TIFF", "twelve chained directories",
         [] {
             return Tiff([](TiffWriter& t) {
                 for (u32 i = 0; i < 12; ++i) t.Directory(8 + i * 40, {t.Short(256, 8)}, i < 11 ? 8 + (i + 1) * 40 : 0);
             });
         }},
        {"TIFF", "a backwards chain", [] {
             return Tiff([](TiffWriter& t) {
                 t.First(1000);
                 t.Directory(1000, {t.Short(256, 8)}, 100);
                 t.Directory(100, {t.Short(256, 8)}, 1000);
             });
         }},
        {"TIFF", "a directory linking to itself",
         [] { return Tiff([](TiffWriter& t) { t.Directory(8, {t.Short(256, 8)}, 8); }); }},
        {"TIFF", "two directories linking to each other across sectors",
         [] {
             return Tiff([](TiffWriter& t) {
                 t.Directory(8, {t.Short(256, 8)}, 2000);
                 t.Directory(2000, {t.Short(256, 8)}, 8);
             });
         }},
        {"TIFF", "a pointer leaving the window and the device",
         [] {
             return Tiff([](TiffWriter& t) {
                 t.Directory(8, {t.Raw(273, 4, 2, 0xFFFFFFF0), t.Raw(279, 4, 2, 0xFFFFFFF8), t.Raw(330, 4, 3, 0xFFFFFFFC)},
                             0);
             });
         }},
        {"TIFF", "a count x width wrapping 32 bits",
         [] {
             return Tiff([](TiffWriter& t) {
                 t.Directory(8, {t.Raw(271, 2, 0xFFFFFFFF, 100), t.Raw(273, 4, 0x40000001, 200),
                                 t.Raw(324, 4, 0x40000001, 8), t.Raw(325, 4, 0x40000001, 8), t.Raw(330, 4, 0x40000001, 8)},
                             0);
             });
         }},
        {"TIFF", "offsets and sizes near 2^32",
         [] {
             return Tiff([](TiffWriter& t) {
                 t.Directory(8, {t.Long(273, 0xFFFFFF00), t.Long(279, 0xFFFFFFFF), t.Long(324, 0xFFFFFFFF),
                                 t.Long(325, 0xFFFFFFFF), t.Long(34665, 0xFFFFFFFE), t.Long(37724, 0xFFFFFFFF)},
                             0xFFFFFFF0);
             });
         }},
        {"TIFF", "sub-directories: 600 of them, one of offset 1",
         [] {
             return Tiff([](TiffWriter& t) {
                 std::vector<u32> subs(600, 8);
                 subs[3] = 1;
                 t.Directory(8, {t.Longs(330, subs)}, 0);
             }, 8192);
         }},
        {"TIFF", "sub-directories nested in each other, maker notes and Exif pointing home",
         [] {
             return Tiff([](TiffWriter& t) {
                 t.Directory(8, {t.Ascii(271, "NIKON"), t.Long(330, 100), t.Long(34665, 200)}, 0);
                 t.Directory(100, {t.Long(330, 8), t.Raw(37500, 7, 40, 100)}, 100);
                 t.Directory(200, {t.Long(34665, 200), t.Raw(37500, 7, 40, 8)}, 8);
             });
         }},
        {"TIFF", "makes of 31 characters and with a slash, strings at the device's end",
         [] {
             return Tiff([](TiffWriter& t) {
                 t.Directory(8, {t.Ascii(271, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDE"), t.Ascii(272, "A/B"),
                                 t.Raw(306, 2, 63, 4090)},
                             0);
             });
         }},
        {"TIFF", "a Kodak IPTC block and a Sony private block pointing past the device",
         [] {
             return Tiff([](TiffWriter& t) {
                 t.Directory(8, {t.Ascii(271, "KODAK"), t.Ascii(272, "DCS Pro SLR"), t.Raw(33723, 4, 0, 4092),
                                 t.Raw(50740, 1, 8, 4094)},
                             0);
                 t.Directory(300, {t.Ascii(272, "DSLR-A100"), t.Raw(50740, 1, 8, 4094)}, 0);
             });
         }},
        {"TIFF", "a Fuji header with offsets near 2^32",
         [] {
             Bytes b(1024, 0xFF);
             memcpy(b.data(), "FUJIFILMCCD-RAW ", 16);
             return b;
         }},
        {"TIFF", "a Fuji header whose JPEG has an Exif length past the device",
         [] {
             Bytes b(1024, 0);
             memcpy(b.data(), "FUJIFILMCCD-RAW ", 16);
             ByteWriter(b).Be32(84, 148);
             ByteWriter(b).Be32(88, 100);
             memcpy(b.data() + 148, "\xFF\xD8\xFF\xE1\xFF\xFF" "Exif\0\0II*\0\x08\0\0\0", 20);
             return b;
         }},
        {"PNG", "chunk lengths near 2^32",
         [] {
             Bytes b(2048, 0);
             memcpy(b.data(), "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x40\0\0\0\x30", 24);
             ByteWriter(b).Be32(33, 0xFFFFFFF0);
             return b;
         }},
        {"PNG", "an IHDR length of 2^32 - 1", [] {
             Bytes b(512, 0);
             memcpy(b.data(), "\x89PNG\r\n\x1a\n\xff\xff\xff\xffIHDR\0\0\0\x40\0\0\0\x30", 24);
             return b;
         }},
        {"GIF", "colour tables and blocks running past the device",
         [] {
             Bytes b(512, 0x2C);
             memcpy(b.data(), "GIF89a\x08\x00\x08\x00\xff\x00\x00", 13);
             return b;
         }},
        {"PSD", "section lengths near 2^32",
         [] {
             Bytes b(1024, 0xFF);
             memcpy(b.data(), "8BPS\x00\x01\0\0\0\0\0\0", 12);
             return b;
         }},
        {"PSP", "a block length near 2^32 at the sector's end",
         [] {
             Bytes b(1024, 0);
             memcpy(b.data(), "Paint Shop Pro Image File\n\x1a\0\0\0\0\0", 32);
             memcpy(b.data() + 36, "~BK\0\0\0\xf0\xff\xff\xff", 10);
             memcpy(b.data() + 1014, "~BK\0\0\0\xf0\xff\xff\xff", 10);
             return b;
         }},
        {"X3F", "SECd in the device's last bytes", [] {
             Bytes b(1024, 0x61);
             memcpy(b.data(), "FOVb", 4);
             memcpy(b.data() + 1020, "SECd", 4);
             return b;
         }},
        {"CRW", "an end record at the device's last bytes", [] {
             Bytes b(1024, 0);
             memcpy(b.data(), "II\x1A\x00\x00\x00HEAPCCDR\x02", 15);
             memcpy(b.data() + 1019, "\x07\x28\xa8\x00\x00", 5);
             return b;
         }},
        {"ICO", "17 entries", [] {
             Bytes b(512, 0);
             memcpy(b.data(), "\0\0\x01\0\x11\0", 6);
             return b;
         }},
        {"ICO", "an entry's reserved byte set", [] {
             Bytes b(512, 0);
             memcpy(b.data(), "\0\0\x01\0\x01\0\x10\x10\0\x01", 10);
             return b;
         }},
        {"WMF", "a placeable header with a wrong checksum", [] {
             Bytes b(512, 0);
             memcpy(b.data(), "\xD7\xCD\xC6\x9A\0\0", 6);
             ByteWriter(b).Le16(20, 0x1234);
             return b;
         }},
        {"WMF", "a size near 2^32", [] {
             Bytes b(512, 0);
             memcpy(b.data(), "\x01\x00\x09\x00\x00\x03\xff\xff\xff\xff", 10);
             return b;
         }},
        {"MRW", "a size near 2^32", [] {
             Bytes b(512, 0xFF);
             memcpy(b.data(), "\0MRM", 4);
             return b;
         }},
        {"BMP", "a size near 2^32", [] {
             Bytes b(512, 0);
             memcpy(b.data(), "BM\xff\xff\xff\xff", 6);
             ByteWriter(b).Le32(14, 40);
             return b;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.subject) + ": " + c.name);
        const Bytes file = c.file();
        for (const long long block : {64, 3, 1}) {
            Bytes image = file;
            image.resize((image.size() + 511) / 512 * 512, 0);
            RunAll(SubjectNamed(all, c.subject), image, block);
        }
    }
}

namespace {

// Valid files of every subject, the seeds of the mutation smoke.
std::vector<std::pair<std::string, Bytes>> Seeds() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    seeds.emplace_back("TIFF", Tiff([](TiffWriter& t) {
                           t.Directory(8, {t.Short(256, 8), t.Ascii(271, "Nikon"), t.Ascii(272, "D70"), t.Long(273, 600),
                                           t.Long(279, 900), t.Ascii(306, "2012:03:04 05:06:07"), t.Long(330, 1600),
                                           t.Long(34665, 1700)},
                                       1800);
                           t.Directory(1600, {t.Long(256, 400), t.Long(257, 600)}, 0);
                           t.Directory(1700, {t.Raw(37500, 7, 60, 1900)}, 0);
                           t.Directory(1800, {t.Long(513, 2200), t.Long(514, 300), t.Longs(324, {2600, 2700}),
                                              t.Longs(325, {100, 100})},
                                       0);
                           t.Directory(1918, {t.Short(256, 1)}, 0);
                           memcpy(t.bytes().data() + 2200, "\xFF\xD8\xFF\xDB", 4);
                       }, 3072));
    Bytes png(600, 0x33);
    memcpy(png.data(), "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x40\0\0\0\x30", 24);
    ByteWriter(png).Be32(33, 500);
    memcpy(png.data() + 37, "IDAT", 4);
    ByteWriter(png).Be32(545, 0);
    memcpy(png.data() + 549, "IEND", 4);
    png.resize(557);
    seeds.emplace_back("PNG", png);
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 8, 0, 8, 0, 0x80, 0, 0};
    gif.resize(gif.size() + 6, 0x10);
    const unsigned char image[] = {0x21, 0xF9, 4, 0, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, 8, 0, 8, 0, 0, 2, 200};
    gif.insert(gif.end(), image, image + sizeof(image));
    gif.insert(gif.end(), 200, 0x44);
    gif.push_back(0);
    gif.push_back(';');
    seeds.emplace_back("GIF", gif);
    Bytes psd(26, 0);
    memcpy(psd.data(), "8BPS\x00\x01", 6);
    for (u32 length : {0u, 300u, 500u}) {
        const size_t at = psd.size();
        psd.resize(at + 4 + length, 0x31);
        ByteWriter(psd).Be32(at, length);
    }
    psd.resize(psd.size() + 900, 0x71);
    seeds.emplace_back("PSD", psd);
    Bytes psp(36, 0);
    memcpy(psp.data(), "Paint Shop Pro Image File\n\x1a\0\0\0\0\0", 32);
    for (u32 length : {46u, 700u}) {
        const size_t at = psp.size();
        psp.resize(at + 10 + length, 0x42);
        memcpy(psp.data() + at, "~BK\0", 4);
        ByteWriter(psp).Le32(at + 6, length);
    }
    seeds.emplace_back("PSP", psp);
    Bytes x3f(1500, 0x61);
    memcpy(x3f.data(), "FOVb", 4);
    memcpy(x3f.data() + 1424, "SECd", 4);
    seeds.emplace_back("X3F", x3f);
    Bytes crw(2000, 0x2B);
    memcpy(crw.data(), "II\x1A\x00\x00\x00HEAPCCDR\x02\x00\x01\x00", 18);
    memcpy(crw.data() + 1930, "\x07\x28\xA8\x00\x00\x00", 6);
    seeds.emplace_back("CRW", crw);
    // A RAF: header offsets, an Exif JPEG at 148 (its TIFF header at 160), sensor data.
    rawtest::JpegRecipe recipe;
    recipe.make = "FUJIFILM";
    recipe.model = "X";
    recipe.scanBytes = 300;
    const Bytes jpeg = rawtest::MakeJpeg(recipe);
    Bytes raf(148, 0);
    raf.reserve(148 + jpeg.size() + 600);  // also keeps GCC 12 from a false -Warray-bounds report on the insert
    memcpy(raf.data(), "FUJIFILMCCD-RAW 0201", 20);
    ByteWriter(raf).Be32(84, 148);
    ByteWriter(raf).Be32(88, static_cast<u32>(jpeg.size()));
    ByteWriter(raf).Be32(100, 148 + static_cast<u32>(jpeg.size()));
    ByteWriter(raf).Be32(104, 600);
    raf.insert(raf.end(), jpeg.begin(), jpeg.end());
    raf.resize(raf.size() + 600, 0x29);
    seeds.emplace_back("TIFF", raf);
    Bytes wpg(1200, 0x3C);
    memcpy(wpg.data(), "wpg\0", 4);
    seeds.emplace_back("WPG", wpg);
    Bytes ico(512, 0);
    memcpy(ico.data(), "\0\0\x01\0\x02\0", 6);
    seeds.emplace_back("ICO", ico);
    Bytes wmf(512, 0);
    memcpy(wmf.data(), "\xD7\xCD\xC6\x9A\0\0", 6);
    memcpy(wmf.data() + 22, "\x01\x00\x09\x00\x00\x03\x40\x00\x00\x00", 10);
    seeds.emplace_back("WMF", wmf);
    return seeds;
}

}  // namespace

// Random sectors that begin with each signature of the picture rows, and mutated copies of valid files,
// through every entry point; bounded in time.
TEST(PictureHostile, RandomAndMutatedSectorSmoke) {
    const auto all = Subjects();
    const auto started = std::chrono::steady_clock::now();
    std::mt19937 rng(20240611);
    auto randomBytes = [&](size_t n) {
        Bytes b(n);
        for (auto& x : b) x = static_cast<unsigned char>(rng());
        return b;
    };
    // Random sectors under every key of the rows (the row's analyser must answer without reading past).
    for (const RawSignatureRow& row : RawSignatureRows()) {
        const Subject* subject = nullptr;
        for (const Subject& s : all) {
            if (row.create != nullptr && std::unique_ptr<IRawFileAnalyser>(row.create())->GetDefaultType() ==
                                             std::unique_ptr<IRawFileAnalyser>(s.make())->GetDefaultType()) {
                subject = &s;
            }
        }
        if (subject == nullptr) continue;
        for (int i = 0; i < 150; ++i) {
            Bytes image = randomBytes(512 * (1 + rng() % 12));
            if (row.kind == RawTableKind::Map) memcpy(image.data(), row.key, 4);
            if (row.kind == RawTableKind::Multimap) memcpy(image.data(), row.key, 2);
            // Zero tails now and then, so that the end rules run.
            if (i % 3 == 0) memset(image.data() + image.size() - 40, 0, 40);
            RunAll(*subject, image, 1 + static_cast<long long>(rng() % 8));
        }
    }
    // Mutated copies of valid files.
    for (const auto& [name, seed] : Seeds()) {
        const Subject& subject = SubjectNamed(all, name);
        for (int i = 0; i < 400; ++i) {
            const unsigned sectorSize = i % 10 == 0 ? 4096u : 512u;
            Bytes image = seed;
            image.resize((image.size() + sectorSize - 1) / sectorSize * sectorSize + sectorSize * (rng() % 3), 0);
            const int flips = 1 + static_cast<int>(rng() % 8);
            for (int f = 0; f < flips; ++f) {
                const size_t at = 4 + rng() % (image.size() - 4);
                image[at] = static_cast<unsigned char>(rng() % 4 == 0 ? 0xFF : rng());
            }
            RunAll(subject, image, 1 + static_cast<long long>(rng() % 6), sectorSize);
        }
    }
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 60) << "every walk is bounded";
}
