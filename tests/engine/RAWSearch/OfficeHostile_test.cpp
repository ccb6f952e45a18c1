// Hostile bytes for the office analysers (run under ASan and UBSan by the test command): cyclic and
// backward DIFAT chains, a directory past the file, absurd sector shifts, property sets whose counts and
// offsets point anywhere, ZIP headers whose sizes wrap 32 or 64 bits, a metadata entry that inflates
// past its stated size, PDF information cut at the end of the bytes held; then a bounded smoke run of
// every entry point over random and mutated sectors. Nothing may crash, hang or read outside its data.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>

#include "OfficeTestSupport.h"
#include "engine/RAWSearch/Analysers/FileOLEAnalyser.h"
#include "engine/RAWSearch/Analysers/FileZIPAnalyser.h"
#include "engine/RAWSearch/Analysers/OfficeTagFromXML.h"
#include "engine/RAWSearch/Analysers/PdfAnalyzer.h"
#include "engine/RAWSearch/Analysers/SummaryInformation.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace officetest;
using rawtest::MemoryDevice;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void Patch32(Bytes& b, size_t at, u32 v) { ByteWriter(b.data(), b.size()).Le32(at, v); }
void Patch16(Bytes& b, size_t at, u16 v) { ByteWriter(b.data(), b.size()).Le16(at, v); }

// What an analyser gives a file planted at sector 2 of an image of zeros: the guess (bounded by the
// image) and the device path. Only that it returns matters; the strings help a failure's message.
struct Outcome {
    i64 guessEnd;
    u64 guessSize;
    bool device;
    u64 deviceSize;
};

template <typename Analyser>
Outcome Exercise(Analyser& analyser, const Bytes& file, unsigned sectorSize = 512) {
    const Bytes image = Place({{2, file}}, 2 + file.size() / sectorSize + 16, sectorSize);
    Outcome out{-1, 0, false, 0};
    CRawFileInfo accepted;
    Bytes first(image.begin() + 2 * sectorSize, image.begin() + 3 * sectorSize);
    if (analyser.AnalyseBuffer(first.data(), accepted) == 1) {
        std::unique_ptr<CRawFileInfo> record(analyser.CreateRawFileInfo());
        record->m_startSector = 2;
        record->m_type = accepted.m_type;
        out.guessEnd = Drive(*record, image, sectorSize, 8);
        out.guessSize = record->m_size;
        record->WillBeRemove(nullptr, -1);
    }
    MemoryDevice device(image, sectorSize);
    CRawFileInfo info;
    info.m_startSector = 2;
    out.device = analyser.GetRawFileSize(info, &device);
    out.deviceSize = info.m_size;
    return out;
}

Bytes SmallDoc() {
    return CompoundFile({{"WordDocument", Random(2000, 1)},
                         {"\x05SummaryInformation", Summary("T", "A", "L", FileTime(2001, 1, 1, 1, 1, 1), 0)}});
}

}  // namespace

TEST(OfficeHostile, CompoundFiles) {
    FileOLEAnalyser ole;
    struct Case {
        const char* name;
        std::function<Bytes()> make;
        std::function<void(const Outcome&, size_t)> check;
    };
    const auto anything = [](const Outcome&, size_t) {};
    const std::vector<Case> cases = {
        {"DIFAT naming itself",
         [] {
             Bytes f = SmallDoc();
             Patch32(f, 68, 1);  // sector 1 (the data) as a DIFAT sector whose last entry is patched
             Patch32(f, 2 * 512 + 508, 1);
             return f;
         },
         anything},
        {"DIFAT chain going back",
         [] {
             Bytes f = SmallDoc();
             Patch32(f, 68, 3);
             Patch32(f, 4 * 512 + 508, 2);
             Patch32(f, 3 * 512 + 508, 3);
             return f;
         },
         anything},
        {"DIFAT far past the device",
         [] {
             Bytes f = SmallDoc();
             Patch32(f, 68, 0x7FFFFFF0);
             return f;
         },
         [](const Outcome& o, size_t) { EXPECT_FALSE(o.device); }},
        {"directory past the file: sized, typed MOF",
         [] {
             Bytes f = SmallDoc();
             Patch32(f, 48, 0x00FFFFFF);
             return f;
         },
         [](const Outcome& o, size_t size) {
             EXPECT_EQ(o.guessSize, 0u) << "left to the device";
             EXPECT_TRUE(o.device);
             EXPECT_EQ(o.deviceSize, size);
         }},
        {"no FAT sector", [] {
             Bytes f = SmallDoc();
             for (u32 k = 0; k < 109; ++k) Patch32(f, 76 + 4 * k, 0xFFFFFFFF);
             return f;
         },
         [](const Outcome& o, size_t) {
             EXPECT_FALSE(o.device);
             EXPECT_EQ(o.guessSize, 0u);
         }},
        {"109 FAT sectors at the end of the 32-bit range",
         [] {
             Bytes f = SmallDoc();
             for (u32 k = 0; k < 109; ++k) Patch32(f, 76 + 4 * k, 0xFFFFFFF0 - k);
             return f;
         },
         anything},
        {"version 3 with sector shift 12: 512-byte sectors",
         [] {
             Bytes f = SmallDoc();
             Patch16(f, 30, 12);
             return f;
         },
         [](const Outcome& o, size_t size) { EXPECT_EQ(o.deviceSize, size); }},
        {"version 4 with sector shift 30: 512-byte sectors",
         [] {
             Bytes f = SmallDoc();
             Patch16(f, 26, 4);
             Patch16(f, 30, 30);
             return f;
         },
         [](const Outcome& o, size_t size) { EXPECT_EQ(o.deviceSize, size); }},
        {"version 4 header on 512-byte sectors: 4096-byte reads past the file",
         [] {
             Bytes f = SmallDoc();
             Patch16(f, 26, 4);
             Patch16(f, 30, 12);
             return f;
         },
         anything},
        {"FAT entries all used up to the last",
         [] {
             Bytes f = SmallDoc();
             for (u32 k = 0; k < 128; ++k) Patch32(f, 512 + 4 * k, 7);
             return f;
         },
         anything},
        {"header only",
         [] {
             Bytes f = SmallDoc();
             f.resize(512);
             return f;
         },
         anything},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes f = c.make();
        c.check(Exercise(ole, f), f.size());
        Exercise(ole, f, 4096);
    }
}

TEST(OfficeHostile, PropertySets) {
    const Bytes good = Summary("Title", "Author", "Last", FileTime(2001, 2, 3, 4, 5, 6), FileTime(2002, 3, 4, 5, 6, 7));
    struct Case {
        const char* name;
        std::function<void(Bytes&)> patch;
    };
    const std::vector<Case> cases = {
        {"section offset past the stream", [](Bytes& s) { Patch32(s, 44, 0xFFFFFFF0); }},
        {"section offset just before the end", [](Bytes& s) { Patch32(s, 44, static_cast<u32>(s.size() - 6)); }},
        {"property count negative", [](Bytes& s) { Patch32(s, 52, 0x80000000); }},
        {"property count 31 past the stream", [](Bytes& s) { Patch32(s, 52, 31); }},
        {"value offset negative", [](Bytes& s) { Patch32(s, 48 + 8 + 8 + 4, 0xFFFFFFF8); }},
        {"value offset past the stream", [](Bytes& s) { Patch32(s, 48 + 8 + 8 + 4, 0x7FFFFFF0); }},
        {"string count huge", [](Bytes& s) {
             const u32 value = 48 + *ByteReader(s.data(), s.size()).Le32(48 + 8 + 8 + 4);
             Patch32(s, value + 4, 0x7FFFFFFF);
         }},
        {"string count negative", [](Bytes& s) {
             const u32 value = 48 + *ByteReader(s.data(), s.size()).Le32(48 + 8 + 8 + 4);
             Patch32(s, value + 4, 0xFFFFFFFF);
         }},
        {"wide string past the stream", [](Bytes& s) {
             const u32 value = 48 + *ByteReader(s.data(), s.size()).Le32(48 + 8 + 8 + 4);
             Patch32(s, value, 31);
             Patch32(s, value + 4, 500);
         }},
        {"FILETIME at the end of time", [](Bytes& s) {
             for (size_t k = 0; k + 12 <= s.size(); ++k) {
                 if (ByteReader(s.data(), s.size()).Le32(k) == 64u) ByteWriter(s.data(), s.size()).Le64(k + 4, ~u64{0});
             }
         }},
        {"stream cut after its header", [](Bytes& s) { s.resize(50); }},
        {"version 2", [](Bytes& s) { Patch16(s, 2, 2); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes s = good;
        c.patch(s);
        // Exactly the stream's bytes on the heap: ASan sees any read past them.
        std::unique_ptr<unsigned char[]> exact(new unsigned char[s.size()]);
        memcpy(exact.get(), s.data(), s.size());
        FileProperty out;
        CSummaryInFormation().GetFileInformation(exact.get(), out, static_cast<int>(s.size()));
    }
}

TEST(OfficeHostile, ZipArchives) {
    FileZIPAnalyser zip;
    const Bytes good = Zip({{"[Content_Types].xml", Random(600, 2)},
                            {"word/_rels/document.xml.rels", Text("<Relationships/>")},
                            {"docProps/core.xml", Text(CoreXml("T", "A", "L", "2001-01-01T00:00:00Z")), true},
                            {"word/document.xml", Random(1200, 3)}});
    struct Case {
        const char* name;
        std::function<void(Bytes&)> patch;
    };
    const std::vector<Case> cases = {
        {"compressed size wrapping 32 bits", [](Bytes& z) { Patch32(z, 18, 0xFFFFFFF0); }},
        {"Zip64 size without its extra field", [](Bytes& z) { Patch32(z, 18, 0xFFFFFFFF); }},
        {"Zip64 size wrapping 64 bits",
         [](Bytes& z) {
             z = Zip({{"a.bin", Random(900, 4), false, false, true}});
             ByteWriter(z.data(), z.size()).Le64(30 + 5 + 12, ~u64{0} - 8);
         }},
        {"name length 4096 in a 512-byte archive", [](Bytes& z) { Patch16(z, 26, 4096); }},
        {"name length 65535", [](Bytes& z) { Patch16(z, 26, 0xFFFF); }},
        {"method 11", [](Bytes& z) { Patch16(z, 8, 11); }},
        {"extra length 65535", [](Bytes& z) { Patch16(z, 28, 0xFFFF); }},
        {"end record comment 65535", [](Bytes& z) { Patch16(z, z.size() - 2, 0xFFFF); }},
        {"core.xml stating 10240 bytes",
         [](Bytes& z) {
             const size_t at = static_cast<size_t>(std::search(z.begin(), z.end(), std::begin("docProps"),
                                                               std::end("docProps") - 1) - z.begin()) - 30;
             Patch32(z, at + 22, 10240);
         }},
        {"core.xml packed size past the archive",
         [](Bytes& z) {
             const size_t at = static_cast<size_t>(std::search(z.begin(), z.end(), std::begin("docProps"),
                                                               std::end("docProps") - 1) - z.begin()) - 30;
             Patch32(z, at + 18, 9000);
         }},
        {"archive cut inside a header", [](Bytes& z) { z.resize(700); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes z = good;
        c.patch(z);
        Exercise(zip, z);
    }
}

TEST(OfficeHostile, MetadataInflatesNoFurtherThanItsStatedSize) {
    // core.xml of 9000 bytes whose header says 100: the output stops at 100 bytes and the document is
    // not read; zlib holds no more than its state and window.
    const std::string big = "<?xml version=\"1.0\"?><cp:coreProperties><dc:title>" + std::string(9000, 'A') +
                            "</dc:title></cp:coreProperties>";
    const Bytes packed = RawDeflate(big);
    tagZipLocalFileHeader header;
    ByteWriter w(header.bytes, sizeof(header.bytes));
    w.Le32(0, 0x04034B50);
    w.Le16(8, 8);
    w.Le32(18, static_cast<u32>(packed.size()));
    w.Le32(22, 100);
    w.Le16(26, 17);
    Brance::OfficeTagFromXML reader;
    ASSERT_TRUE(reader.bDepress(packed.data(), header, packed.size()));
    FileProperty out;
    EXPECT_FALSE(reader.AnalyzeTag(out));
    EXPECT_TRUE(out.title.empty());
    EXPECT_LE(Brance::OfficeTagFromXML::PeakAllocation(), 64u * 1024);
    // Garbage instead of deflate data: refused, nothing read.
    const Bytes garbage = Random(400, 5);
    w.Le32(18, 400);
    w.Le32(22, 5000);
    EXPECT_FALSE(reader.bDepress(garbage.data(), header, garbage.size()) && reader.AnalyzeTag(out));
}

TEST(OfficeHostile, PdfInformationCutAtTheEndOfTheBytesHeld) {
    const std::vector<std::string> sectors = {
        "1 0 obj << /Author (Omar",
        "1 0 obj << /Author (\xFE\xFF\x00O\x00m",
        "1 0 obj << /Author (\xFE\xFF",
        "1 0 obj << /CreationDate (D:2021",
        "1 0 obj << /Author () /Creator (",
        "obj",
        "%!PS-Adobe",
        "1 0 obj << /Author (Ann) /Creator (Bob) /Title (\xFE\xFF\xD8\x3D)",
    };
    for (const std::string& text : sectors) {
        SCOPED_TRACE(text);
        // The text ends the bytes held: a sector of 512 whose data runs to its last byte.
        std::string sector(512 - text.size(), ' ');
        sector += text;
        std::unique_ptr<unsigned char[]> exact(new unsigned char[512]);
        memcpy(exact.get(), sector.data(), 512);
        FileProperty out;
        BruteForce::PdfTitleAnalyzer reader;
        reader.ObtainPerSecPDFInformation(ByteReader(exact.get(), 512), 512, true, out);
        BruteForce::PdfAnalyzer::PdfRawFileInfo record(nullptr);
        record.JudgeAI(exact.get(), 512);
    }
}

TEST(OfficeHostile, RandomAndMutatedSectorsSmoke) {
    // Every entry point of the three analysers over random sectors and over mutated copies of good
    // files: bounded (a few hundred runs), clean under the sanitizers.
    FileOLEAnalyser ole;
    FileZIPAnalyser zip;
    BruteForce::PdfAnalyzer pdf;
    FilePDFAnalyser pdfDevice;
    const std::vector<Bytes> seeds = {
        SmallDoc(),
        CompoundFile({{"VisioDocument", Random(5000, 6)}}, CompoundOptions{4}),
        Zip({{"[Content_Types].xml", Random(300, 7)},
             {"docProps/core.xml", Text(CoreXml("T", "A", "L", "2001-01-01T00:00:00Z")), true},
             {"word/document.xml", Random(900, 8)}}),
        Zip({{"_rels/.rels", Text("<R/>"), true, true}, {"word/a.xml", Random(700, 9), false, true}}),
        Zip({{"mimetype", Text("application/epub+zip")}, {"OEBPS/Text/chapter1.xhtml", Random(500, 10)}}),
        Pdf(21000, "/Title (T) /Author (A) /Creator (Adobe Illustrator) /CreationDate (D:20010203040506+00)", 3, 480),
    };
    std::mt19937 rng(20240609);
    int runs = 0;
    for (int round = 0; round < 150; ++round) {
        for (const Bytes& seed : seeds) {
            Bytes f = seed;
            const int flips = 1 + static_cast<int>(rng() % 24);
            for (int k = 0; k < flips; ++k) {
                // Mostly in the first sectors, where the headers are.
                const size_t at = rng() % 2 ? rng() % std::min<size_t>(f.size(), 1024) : rng() % f.size();
                f[at] = static_cast<unsigned char>(rng() % 3 == 0 ? 0xFF : rng());
            }
            Exercise(ole, f);
            Exercise(zip, f);
            Exercise(pdf, f);
            Exercise(pdfDevice, f);
            ++runs;
        }
        // A random sector behind each signature.
        for (const char* key : {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", "PK\x03\x04", "%PDF-", "%!PS-Adobe"}) {
            Bytes f = Random(4096, static_cast<unsigned>(rng()));
            memcpy(f.data(), key, strlen(key));
            Exercise(ole, f);
            Exercise(zip, f);
            Exercise(pdf, f);
            ++runs;
        }
    }
    EXPECT_EQ(runs, 150 * 10);
}
