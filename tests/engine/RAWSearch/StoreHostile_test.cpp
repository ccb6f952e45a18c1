// Hostile bytes for the text, mail, database, archive and installer analysers (run under ASan and UBSan
// by the test command): tar sizes at the largest octal value and bad checksums, RAR blocks of size 0 and
// past the device, a cabinet with a zero size, LHA headers that do not advance; then a bounded smoke run
// of every analyser of the family over random and mutated sectors. Nothing may crash, hang or read
// outside its data.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <set>

#include "OfficeTestSupport.h"
#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/DMGAnalyser.h"
#include "engine/RAWSearch/Analysers/HeaderSizedAnalysers.h"
#include "engine/RAWSearch/Analysers/LZHAnalyser.h"
#include "engine/RAWSearch/Analysers/RARAnalyser.h"
#include "engine/RAWSearch/Analysers/SITAnalyser.h"
#include "engine/RAWSearch/Analysers/SQLiteAnalyser.h"
#include "engine/RAWSearch/Analysers/TARAnalyser.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

using namespace officetest;
using rawtest::MemoryDevice;

namespace {

// What an analyser gives a file planted at sector 2 of an image of zeros: the guess (bounded by the
// image; then the fallback it hands the record to) and the device path.
struct Outcome {
    i64 guessEnd = -1;
    u64 guessSize = 0;
    bool device = false;
    u64 deviceSize = 0;
};

Outcome Exercise(IRawFileAnalyser& analyser, const Bytes& file, unsigned sectorSize = 512) {
    const Bytes image = Place({{2, file}}, 2 + file.size() / sectorSize + 16, sectorSize);
    Outcome out;
    CRawFileInfo accepted;
    Bytes first(image.begin() + 2 * sectorSize, image.begin() + 3 * sectorSize);
    MemoryDevice device(image, sectorSize);
    if (analyser.AnalyseBuffer(first.data(), accepted) == 1) {
        std::unique_ptr<CRawFileInfo> record(analyser.CreateRawFileInfo());
        record->m_startSector = 2;
        record->m_type = accepted.m_type;
        record->m_size = accepted.m_size;
        record->m_analyser = &analyser;
        if (record->WhetherImplementGuess()) {
            out.guessEnd = Drive(*record, image, sectorSize, 8);
            out.guessSize = record->m_size;
            record->WillBeRemove(nullptr, -1);
            if (out.guessEnd < 0 && record->m_analyser != nullptr) {
                record->m_size = 0;
                record->m_analyser->GetRawFileSize(*record, &device);
            }
        }
    }
    CRawFileInfo info;
    info.m_startSector = 2;
    out.device = analyser.GetRawFileSize(info, &device);
    out.deviceSize = info.m_size;
    return out;
}

Bytes TarHeader(const std::string& size) {
    Bytes h(512, 0);
    memcpy(h.data(), "name", 4);
    memcpy(h.data() + 124, size.data(), std::min<size_t>(size.size(), 12));
    memcpy(h.data() + 257, "ustar", 6);
    memcpy(h.data() + 148, "0000000", 8);  // a checksum that is wrong: the walk does not rely on it
    return h;
}

// A tar of a thousand entries of size 0, then random bytes.
Bytes ThousandEmptyEntries() {
    Bytes b;
    for (int i = 0; i < 1000; ++i) {
        const Bytes h = TarHeader("00000000000");
        b.insert(b.end(), h.begin(), h.end());
    }
    const Bytes r = Random(2048, 5);
    b.insert(b.end(), r.begin(), r.end());
    return b;
}

// A SQLite header of 1024-byte pages stating the given page and free-list counts, then pages of type
// `pageType` whose byte 3 is `link`.
Bytes SqliteHeader(u32 pages, u32 free, u8 pageType, u8 link, size_t pageCount) {
    Bytes b(1024 * pageCount, 0);
    memcpy(b.data(), "SQLite format 3", 16);
    ByteWriter w(b.data(), b.size());
    w.Be16(16, 1024);
    w.Be32(28, pages);
    w.Be32(36, free);
    w.Be16(105, 0xFFFF);
    w.Be16(108, 0xFFF0);
    b[100] = 13;
    for (size_t i = 1; i < pageCount; ++i) {
        b[1024 * i] = pageType;
        b[1024 * i + 3] = link;
    }
    return b;
}

}  // namespace

TEST(StoreHostile, Archives) {
    struct Case {
        const char* name;
        std::function<IRawFileAnalyser*()> make;
        std::function<Bytes()> bytes;
        std::function<void(const Outcome&)> check;
    };
    const std::vector<Case> cases = {
        {"tar entry at the largest 11-digit octal size, bad checksum",
         [] { return new FileTARAnalyser(); },
         [] { return TarHeader("77777777777"); },
         [](const Outcome& o) { EXPECT_LE(o.deviceSize, tar_layout::kDeviceCap); }},
        {"  ... while the search reads on: the guess waits for a record it never sees",
         [] { return new RawSpeed::TARAnalyser(); },
         [] { return TarHeader("77777777777"); },
         [](const Outcome& o) { EXPECT_EQ(o.guessEnd, -1); }},
        {"tar size field of non-digits and high bytes (base-256 form)",
         [] { return new FileTARAnalyser(); },
         [] { Bytes h = TarHeader(std::string("\x80\0\0\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12)); return h; },
         [](const Outcome& o) { EXPECT_TRUE(o.device); EXPECT_EQ(o.deviceSize, 10240u); }},
        {"tar of a thousand empty entries then data",
         [] { return new RawSpeed::TARAnalyser(); },
         ThousandEmptyEntries,
         [](const Outcome& o) { EXPECT_EQ(o.guessSize, 1000u * 512); }},
        {"  ... from the device",
         [] { return new FileTARAnalyser(); },
         ThousandEmptyEntries,
         [](const Outcome& o) { EXPECT_EQ(o.deviceSize, 1000u * 512); }},
        {"RAR block of header size 0 after the main header",
         [] { return new FileRARAnalyser(); },
         [] {
             Bytes b = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00, 0x90, 0xCF, 0x73, 0, 0, 13, 0, 0, 0, 0, 0, 0, 0};
             const Bytes zero = {0, 0, 0x74, 0, 0, 0, 0};
             b.insert(b.end(), zero.begin(), zero.end());
             return b;
         },
         [](const Outcome& o) { EXPECT_TRUE(o.device); EXPECT_EQ(o.deviceSize, 20u); }},
        {"RAR file block whose data runs past the device",
         [] { return new FileRARAnalyser(); },
         [] {
             Bytes b = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00, 0x90, 0xCF, 0x73, 0, 0, 13, 0, 0, 0, 0, 0, 0, 0};
             Bytes h(40, 0);
             h[2] = 0x74;
             ByteWriter(h.data(), h.size()).Le16(5, 40);
             ByteWriter(h.data(), h.size()).Le32(7, 0x100000u);
             ByteWriter(h.data(), h.size()).Le32(11, 0x200000u);
             b.insert(b.end(), h.begin(), h.end());
             return b;
         },
         [](const Outcome& o) {
             // Refused, with the blocks walked kept (the search clamps sizes to the device's end).
             EXPECT_FALSE(o.device);
             EXPECT_EQ(o.deviceSize, 20u + 40 + 0x100000);
         }},
        {"SQLite stating 2^32 - 1 pages and free-list pages, cell offsets past its first page",
         [] { return new BruteForce::CFCPEvtAnalyser(); },
         [] { return SqliteHeader(0xFFFFFFFFu, 0xFFFFFFFFu, 13, 0, 4); },
         [](const Outcome& o) { EXPECT_GE(o.guessEnd, 0); EXPECT_EQ(o.guessSize, sqlite_layout::kCap); }},
        {"SQLite pages that all point at the same page (a looping chain) end with the empty run",
         [] { return new BruteForce::CFCPEvtAnalyser(); },
         [] { return SqliteHeader(8, 0, 0, 7, 8); },
         // Each page starts a chain anew, the last one counted in the empty run that ends the file.
         [](const Outcome& o) { EXPECT_GE(o.guessEnd, 0); EXPECT_EQ(o.guessSize, 7u * 1024); }},
        {"StuffIt X without an end marker: the device walk ends at the device's end",
         [] { return new FileSITAnalyser(); },
         [] { Bytes b = Random(3000, 7); memcpy(b.data(), "StuffIt!", 8); return b; },
         // The last window of the device read (zero-padded past its end; the search clamps sizes to the device).
         [](const Outcome& o) { EXPECT_TRUE(o.device); EXPECT_EQ(o.deviceSize, 128u * 512); }},
        {"StuffIt X marker split across the end of the data",
         [] { return new RawSpeed::SITAnalyser(); },
         [] { Bytes b = Random(1024, 8); memcpy(b.data(), "StuffIt!", 8); memcpy(b.data() + 1020, "\x02\xD7\x0A\x19", 4); return b; },
         [](const Outcome& o) { EXPECT_EQ(o.guessEnd, -1); }},
        {"a disk image without its trailer, and koly in its first bytes",
         [] { return new Brance::DMGAnalyser(); },
         [] { Bytes b = Random(2000, 9); memcpy(b.data(), "BZh11AY&SYkoly", 14); return b; },
         [](const Outcome& o) { EXPECT_EQ(o.guessEnd, -1); }},
        {"  ... from the device: the walk ends with the device",
         [] { return new FileDMGAnalyser(); },
         [] { Bytes b = Random(2000, 9); memcpy(b.data(), "BZh11AY&SYkoly", 14); return b; },
         [](const Outcome& o) { EXPECT_TRUE(o.device); EXPECT_EQ(o.deviceSize, 128u * 512); }},
        {"a cabinet with a zero size",
         [] { return new FileCABAnalyser(); },
         [] {
             Bytes b(512, 0);
             memcpy(b.data(), "MSCF", 4);
             b[24] = 3;
             b[25] = 1;
             return b;
         },
         [](const Outcome& o) { EXPECT_EQ(o.deviceSize, 0u); }},
        {"LHA level 2 headers of total size 0 do not advance the walk",
         [] { return new Brance::LZHAnalyser(); },
         [] {
             Bytes b(64, 0);
             memcpy(b.data() + 2, "-lh5-", 5);
             b[20] = 2;
             return b;
         },
         [](const Outcome& o) { EXPECT_EQ(o.guessSize, 0u); }},
        {"3000 LHA headers without data: the device walk stops at 2048",
         [] { return new FileLZHAnalyser(); },
         [] {
             Bytes b;
             for (int i = 0; i < 3000; ++i) {
                 const std::string h = std::string("\x13\0-lh0-", 7) + std::string(14, '\0');
                 b.insert(b.end(), h.begin(), h.end());
             }
             return b;
         },
         [](const Outcome& o) { EXPECT_EQ(o.deviceSize, 2048u * 21); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<IRawFileAnalyser> analyser(c.make());
        c.check(Exercise(*analyser, c.bytes()));
    }
}

// Every analyser of the family over random sectors and over sectors that begin with its own
// signatures followed by noise, zeros or mutated copies: bounded, whatever the bytes.
TEST(StoreHostile, RandomAndMutatedSectorsSmoke) {
    const std::set<std::string> names = {
        "RawSpeed::RTFAnalyser",  "RawSpeed::HTMLAnalyser", "FileUnicodeHTMAnalyser", "RawSpeed::JKSAnalyser",
        "RawSpeed::PSAFE3Analyser", "RawSpeed::SIBAnalyser", "RawSpeed::TARAnalyser",  "FilePSTAnalyser",
        "FileMNYAnalyser",        "FileLowDocAnalyser",     "FileWPDAnalyser",        "FileCABAnalyser",
        "FileCHMAnalyser",        "FileHLPAnalyser",        "RawSpeed::RARAnalyser",  "Brance::LZHAnalyser",
        "RawSpeed::GZAnalyzer",   "FileMboxAnalyser",       "RawSpeed::DbxAnalyser",  "RawSpeed::OneAnalyser",
        "RawSpeed::MOBIAnalyser", "RawSpeed::CMDBAnalyser", "FilePKGAnalyser",        "RawSpeed::SITAnalyser",
        "Brance::DMGAnalyser",    "BruteForce::CFCPEvtAnalyser"};
    std::mt19937 rng(24);
    int exercised = 0;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (names.count(row.analyser) == 0 || row.create == nullptr) continue;
        std::unique_ptr<IRawFileAnalyser> analyser(row.create());
        for (int round = 0; round < 24; ++round) {
            Bytes file = Random(512 * (1 + rng() % 6), static_cast<unsigned>(rng()));
            const std::string key = row.key;
            if (row.kind != RawTableKind::List) memcpy(file.data(), key.data(), key.size());
            if (round % 3 == 1) memcpy(file.data() + 257, "ustar", 5);
            if (round % 6 == 0) {
                // Whole magic texts, so that the records of these analysers are driven too.
                if (key == "SQLi") memcpy(file.data(), "SQLite format 3\0\x04\x00", 18);
                if (key == "BZh1") memcpy(file.data(), "BZh11AY&SY", 10);
                if (key == "Stuf") memcpy(file.data(), round % 12 == 0 ? "StuffIt!" : "StuffIt ", 8);
            }
            if (round % 4 == 2) std::fill(file.begin() + 64 + rng() % 256, file.end(), 0);
            for (int flips = 0; flips < 8; ++flips) file[4 + rng() % (file.size() - 4)] = static_cast<unsigned char>(rng());
            Exercise(*analyser, file);
            ++exercised;
        }
    }
    EXPECT_GE(exercised, 24 * 24);
}
