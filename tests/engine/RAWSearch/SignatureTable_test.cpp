// The signature tables and the lookup order over them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/RAWSearch/Core/RawAnalyserLookup.h"
#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Core/SignatureTable.h"
#include "support/CarvingManifest.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace {

std::vector<std::string> g_log;

class LoggingAnalyser : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    LoggingAnalyser(std::string name, int answer, bool special = false)
        : IRawFileAnalyser(1), m_name(std::move(name)), m_answer(answer), m_special(special) {}
    int AnalyseBuffer(unsigned char*, CRawFileInfo&) override {
        g_log.push_back(m_name);
        return m_answer;
    }
    int AnalyseBufferEx(unsigned char*, CRawFileInfo&, long long, long long, long long, long long) override {
        g_log.push_back(m_name + "Ex");
        return m_answer;
    }
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return m_special ? this : nullptr; }

private:
    std::string m_name;
    int m_answer;
    bool m_special;
};

struct Tables {
    RawAnalyserMap map;
    RawAnalyserMultimap multimap;
    RawAnalyserList list;
    ~Tables() {
        CRawFileAnalyserListSingle::ClearMapContents(map);
        CRawFileAnalyserListSingle::ClearMultiMapContents(multimap);
        CRawFileAnalyserListSingle::ClearListContents(list);
    }
};

u32 Key4(const char* b) { return RawMapKey(reinterpret_cast<const unsigned char*>(b)); }
u16 Key2(const char* b) { return RawMultimapKey(reinterpret_cast<const unsigned char*>(b)); }

}  // namespace

TEST(SignatureTable, RowsInTableOrder) {
    int map = 0, multimap = 0, list = 0;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        map += row.kind == RawTableKind::Map;
        multimap += row.kind == RawTableKind::Multimap;
        list += row.kind == RawTableKind::List;
    }
    EXPECT_EQ(map, 81);
    EXPECT_EQ(multimap, 42);
    EXPECT_EQ(list, 9);
    const auto& rows = RawSignatureRows();
    EXPECT_STREQ(rows[0].analyser, "BruteForce::JpegAnalyzer");
    EXPECT_STREQ(rows[80].analyser, "FileMboxAnalyser");
    EXPECT_STREQ(rows[81].analyser, "BruteForce::PdfAnalyzer");
    EXPECT_STREQ(rows[122].analyser, "RawSpeed::TARAnalyser");
    EXPECT_STREQ(rows[131].analyser, "RawSpeed::PSAFE3Analyser");
    EXPECT_EQ(Key4("\xFF\xD8\xFF\xE0"), 0xE0FFD8FFu) << "keys are little-endian";
    EXPECT_EQ(Key2("\xFF\xFE"), 0xFEFFu);
}

TEST(SignatureTable, BuiltAnalysersAreRegisteredUnderTheirKeys) {
    auto* tables = CRawFileAnalyserListSingle::CreateInstance();
    RawAnalyserMap& map = tables->GetAnalyserMap(1);
    EXPECT_EQ(map.count(Key4("\xFF\xD8\xFF\xE0")), 1u);
    EXPECT_EQ(map.count(Key4("\xFF\xD8\xFF\xEE")), 1u);
    EXPECT_EQ(map.count(Key4("\xC5\xD0\xD3\xC6")), 1u);
    EXPECT_NE(map.at(Key4("\xFF\xD8\xFF\xE0")), map.at(Key4("\xFF\xD8\xFF\xE1"))) << "one object per entry";
    EXPECT_EQ(tables->GetAnalyserMultimap(1).count(Key2("%!")), 2u) << "the PDF and EPS analysers";
}

TEST(SignatureTable, ReinitReplacesSetZeroOnly) {
    auto* tables = CRawFileAnalyserListSingle::CreateInstance();
    tables->ReinitAnalyzeList(nullptr);
    const u32 jpeg = Key4("\xFF\xD8\xFF\xE1");
    IRawFileAnalyser* set0 = tables->GetAnalyserMap(0).at(jpeg);
    IRawFileAnalyser* set1 = tables->GetAnalyserMap(1).at(jpeg);
    EXPECT_NE(set0, set1);
    tables->ReinitAnalyzeList(nullptr);
    EXPECT_EQ(tables->GetAnalyserMap(1).at(jpeg), set1);
    EXPECT_EQ(tables->GetAnalyserMap(0).size(), tables->GetAnalyserMap(1).size());
}

TEST(RawAnalyserLookup, OrderOfTheThreeTables) {
    struct Case {
        const char* name;
        std::vector<unsigned char> sector;
        std::function<void(Tables&)> fill;
        bool allZero;
        std::vector<std::string> asked;
        const char* accepted;  // null: none
    };
    auto chainFFFE = [](int mp3Answer) {
        return [mp3Answer](Tables& t) {
            t.multimap.emplace(Key2("\xFF\xFE"), new LoggingAnalyser("MP3", mp3Answer));
            t.multimap.emplace(Key2("\xFF\xFE"), new LoggingAnalyser("HTML", 0));
            t.multimap.emplace(Key2("\xFF\xFE"), new LoggingAnalyser("UHTML", 0));
            t.list.push_back(new LoggingAnalyser("LZH", 0));
            t.list.push_back(new LoggingAnalyser("EMF", 0));
        };
    };
    const std::vector<Case> cases = {
        {"FF FE: MP3, HTML, UTF-16 HTML, then the list", {0xFF, 0xFE, 1, 2}, chainFFFE(0), false,
         {"MP3", "HTML", "UHTML", "LZH", "EMF"}, nullptr},
        {"FF FE: MP3 accepts first", {0xFF, 0xFE, 1, 2}, chainFFFE(1), false, {"MP3"}, "MP3"},
        {"00 00 01 00: the map refuses, then MOV, MP4, 3GP",
         {0, 0, 1, 0},
         [](Tables& t) {
             t.map[Key4("\x00\x00\x01\x00")] = new LoggingAnalyser("ICO", 0);
             t.multimap.emplace(Key2("\x00\x00"), new LoggingAnalyser("MOV", 0));
             t.multimap.emplace(Key2("\x00\x00"), new LoggingAnalyser("MP4", 0));
             t.multimap.emplace(Key2("\x00\x00"), new LoggingAnalyser("3GP", 1));
         },
         false, {"ICO", "MOV", "MP4", "3GP"}, "3GP"},
        {"a zero first word goes to the list only",
         {0, 0, 0, 0, 9},
         [](Tables& t) {
             t.multimap.emplace(Key2("\x00\x00"), new LoggingAnalyser("MOV", 1));
             t.list.push_back(new LoggingAnalyser("TAR", 1));
         },
         false, {"TAR"}, "TAR"},
        {"an all-zero sector is offered to nothing",
         {0, 0, 0, 0},
         [](Tables& t) { t.list.push_back(new LoggingAnalyser("TAR", 1)); }, true, {}, nullptr},
        {"the map accepting ends the lookup",
         {'G', 'I', 'F', '8'},
         [](Tables& t) {
             t.map[Key4("GIF8")] = new LoggingAnalyser("GIF", 1);
             t.multimap.emplace(Key2("GI"), new LoggingAnalyser("other", 1));
         },
         false, {"GIF"}, "GIF"},
        {"tables: only 1 accepts, the special form any non-zero, the list any non-zero",
         {'A', 'B', 'C', 'D'},
         [](Tables& t) {
             t.map[Key4("ABCD")] = new LoggingAnalyser("map2", 2);
             t.multimap.emplace(Key2("AB"), new LoggingAnalyser("multi2", 2));
             t.multimap.emplace(Key2("AB"), new LoggingAnalyser("special", 0, true));
             t.list.push_back(new LoggingAnalyser("list2", 2));
         },
         false, {"map2", "multi2", "specialEx", "list2"}, "list2"},
    };
    for (const Case& c : cases) {
        Tables t;
        c.fill(t);
        RawAnalyserLookup lookup(t.map, t.multimap, t.list);
        std::vector<unsigned char> sector = c.sector;
        sector.resize(512, 0);
        g_log.clear();
        CRawFileInfo info;
        IRawFileAnalyser* found = lookup.Find(sector.data(), info, 512, 0, 0, 1, c.allZero);
        EXPECT_EQ(g_log, c.asked) << c.name;
        if (c.accepted == nullptr) {
            EXPECT_EQ(found, nullptr) << c.name;
        } else {
            ASSERT_NE(found, nullptr) << c.name;
            EXPECT_EQ(g_log.back().rfind(c.accepted, 0), 0u) << c.name;
        }
    }
}

namespace {

// A list analyser that names the byte tests it is given and accepts every sector it is asked about.
class BitsAnalyser : public IRawFileAnalyser {
public:
    BitsAnalyser(std::vector<RequiredBits> tests, int* asked)
        : IRawFileAnalyser(1), m_tests(std::move(tests)), m_asked(asked) {}
    int AnalyseBuffer(unsigned char*, CRawFileInfo&) override {
        ++*m_asked;
        return 1;
    }
    int GetRequiredBits(RequiredBits* tests) const override {
        for (size_t k = 0; k < m_tests.size(); ++k) tests[k] = m_tests[k];
        return static_cast<int>(m_tests.size());
    }

private:
    std::vector<RequiredBits> m_tests;
    int* m_asked;
};

std::vector<unsigned char> SectorWith(std::initializer_list<std::pair<size_t, std::string>> parts) {
    std::vector<unsigned char> sector(512, 0x5A);
    for (const auto& [at, bytes] : parts) memcpy(sector.data() + at, bytes.data(), bytes.size());
    return sector;
}

}  // namespace

// The byte tests a list analyser names decide which sectors it is asked about: masked bits, either
// of two places, tests at offset 0 taken through the prefix table and tests on bytes 2-5 through tables of
// their own, sectors starting with a zero word, words past byte 5 (more than one group of them, bytes
// tested late in their eight, the last byte of the 512, eight bytes of which the word holds four),
// and tests the lookup cannot make (the analyser is then asked about every sector).
TEST(RawAnalyserLookup, ListAnalysersAreAskedOnlyWhereTheirBytesHold) {
    using Bits = IRawFileAnalyser::RequiredBits;
    const u64 pws3 = 0x33535750;  // "PWS3" read little-endian
    const Bits letters0{0, 0xFFDFDFDF, pws3};
    const Bits letters3{3, 0xFFDFDFDF, pws3};
    const Bits ftyp{0, 0xFFFFFFFF00FFFFFF, 0x7079746600000000};  // 00 00 00 ?? "ftyp"
    const Bits lha{2, 0xFFFFFF, 0x686C2D};  // "-lh" at 2
    const Bits sync4{4, 0xFF, 0x47};
    const Bits sync0{0, 0xFF, 0x47};
    // Words past byte 5, more than a group holds: "WRD1" at 40 .. "WRD6" at 300.
    std::vector<Bits> farWords;
    for (auto [offset, digit] : {std::pair{40u, '1'}, {60u, '2'}, {100u, '3'}, {200u, '4'}, {256u, '5'}, {300u, '6'}})
        farWords.push_back({offset, 0xFFFFFFFF, 0x00445257u | (u64(digit) << 24)});
    const Bits late{100, 0xFFFF000000000000, 0x4241000000000000};  // "AB" at 106
    const Bits last{504, 0xFF00000000000000, 0x5B00000000000000};  // 0x5B at 511
    const Bits eight{80, ~u64{0}, 0x4847464544434241};             // "ABCDEFGH" at 80
    struct Case {
        const char* name;
        std::vector<Bits> tests;
        std::vector<unsigned char> sector;
        bool mayAccept;  // what the cheap test says (a test at offset 0 goes by the first two bytes)
        bool asked;
    };
    const std::vector<Case> cases = {
        {"upper case at 0", {letters0}, SectorWith({{0, "PWS3"}}), true, true},
        {"mixed case at 0", {letters0}, SectorWith({{0, "pWs3"}}), true, true},
        {"digit not masked: the first two bytes pass, the list test does not", {letters0},
         SectorWith({{0, "PWS#"}}), true, false},
        {"other first bytes", {letters0}, SectorWith({{0, "PQS3"}}), false, false},
        {"second place holds", {letters0, letters3}, SectorWith({{3, "pws3"}}), true, true},
        {"neither place", {letters0, letters3}, SectorWith({{1, "PWS3"}}), false, false},
        {"offset 0 through the prefix table", {ftyp}, SectorWith({{0, std::string("\0\0\0\x14" "ftyp", 8)}}), true,
         true},
        {"offset 0, other first bytes", {ftyp}, SectorWith({{0, std::string("\0\1\0\x14" "ftyp", 8)}}), false,
         false},
        {"zero first word, test allows it", {ftyp}, SectorWith({{0, std::string("\0\0\0\0" "ftyp", 8)}}), true,
         true},
        {"zero first word, test needs letters there", {letters0, letters3}, SectorWith({{0, std::string(4, '\0')}}),
         false, false},
        {"zero first word, a test past it", {{40, 0xFFFFFFFF, 0x464D4520}},
         SectorWith({{0, std::string(4, '\0')}, {40, " EMF"}}), true, true},
        {"bytes 2-3 through their table", {lha}, SectorWith({{2, "-lh"}}), true, true},
        {"bytes 2-3 pass their table, the test does not", {lha}, SectorWith({{2, "-lx"}}), true, false},
        {"bytes 2-3 fail their table", {lha}, SectorWith({{2, "xlh"}}), false, false},
        {"zero first word, byte 4 through its table", {sync4}, SectorWith({{0, std::string("\0\0\0\0\x47", 5)}}),
         true, true},
        {"zero first word, byte 4 fails its table", {sync4}, SectorWith({{0, std::string("\0\0\0\0\x48", 5)}}),
         false, false},
        {"byte 0 alone through the prefix table", {sync0}, SectorWith({{0, "\x47"}}), true, true},
        {"six words past byte 5, the sixth holds", farWords, SectorWith({{300, "WRD6"}}), true, true},
        {"six words past byte 5, none holds", farWords, SectorWith({{300, "WRD7"}, {40, "wRD1"}}), false, false},
        {"zero first word, six words, the fifth holds", farWords,
         SectorWith({{0, std::string(4, '\0')}, {256, "WRD5"}}), true, true},
        {"zero first word, six words, none holds", farWords, SectorWith({{0, std::string(4, '\0')}}), false, false},
        {"the tested bytes late in the eight", {late}, SectorWith({{106, "AB"}}), true, true},
        {"the tested bytes late in the eight, held early", {late}, SectorWith({{100, "AB"}}), false, false},
        {"a test of byte 511 only", {last}, SectorWith({{511, "\x5B"}}), true, true},
        {"a test of byte 511 only, not held", {last}, SectorWith({}), false, false},
        {"eight far bytes: the first four hold, the rest do not", {eight}, SectorWith({{80, "ABCDxxxx"}}), true, false},
        {"eight far bytes held", {eight}, SectorWith({{80, "ABCDEFGH"}}), true, true},
        {"a test past the first 504 bytes: every sector", {{505, 0xFF, 1}}, SectorWith({}), true, true},
        {"a test with no bits: every sector", {{8, 0, 0}}, SectorWith({}), true, true},
        {"no tests: every sector", {}, SectorWith({}), true, true},
    };
    for (const Case& c : cases) {
        int asked = 0;
        RawAnalyserMap map;
        RawAnalyserMultimap multimap;
        // As many analysers as the tests need (each names at most kMaxRequiredBits).
        RawAnalyserList list;
        for (size_t k = 0; k == 0 || k < c.tests.size(); k += IRawFileAnalyser::kMaxRequiredBits) {
            const size_t end = std::min(c.tests.size(), k + IRawFileAnalyser::kMaxRequiredBits);
            list.push_back(new BitsAnalyser({c.tests.begin() + k, c.tests.begin() + end}, &asked));
        }
        {
            RawAnalyserLookup lookup(map, multimap, list);
            std::vector<unsigned char> sector = c.sector;
            CRawFileInfo info;
            EXPECT_EQ(lookup.MayAccept(sector.data()), c.mayAccept) << c.name;
            EXPECT_EQ(lookup.Find(sector.data(), info, 512, 0, 0, 1, false) != nullptr, c.asked) << c.name;
            EXPECT_EQ(asked, c.asked ? 1 : 0) << c.name;
        }
        CRawFileAnalyserListSingle::ClearListContents(list);
    }
    // An empty list takes no sector, whatever follows a zero first word; the tables take theirs.
    RawAnalyserMap map;
    RawAnalyserMultimap multimap;
    RawAnalyserList list;
    RawAnalyserLookup lookup(map, multimap, list);
    for (const auto& sector : {SectorWith({{0, std::string(4, '\0')}}), SectorWith({{0, std::string(8, '\0')}}),
                               SectorWith({{0, std::string("\0\0\0\0\x47", 5)}}), SectorWith({})}) {
        EXPECT_FALSE(lookup.MayAccept(sector.data()));
        EXPECT_FALSE(lookup.ListMayAcceptZeroStart(sector.data()));
    }
}

// The real list analysers never lose a sector to the bytes they name: every sector one of them accepts
// passes MayAccept and is found. Sectors: the first sector of every file of the carving corpus and a
// start of each list type made here, seeded mutations of them (in the first bytes and around the far
// places the list names) and random sectors. Every list analyser accepts one of the starts.
TEST(RawAnalyserLookup, NamedBytesNeverTurnAwayWhatTheListAccepts) {
    auto* tables = CRawFileAnalyserListSingle::CreateInstance();
    tables->ReinitAnalyzeList(nullptr);
    RawAnalyserList& list = tables->GetAnalyserList(0);
    RawAnalyserLookup lookup(tables->GetAnalyserMap(0), tables->GetAnalyserMultimap(0), list);
    std::vector<std::vector<unsigned char>> starts = {
        SectorWith({{0, std::string("\x20\x00-lh5-", 7)}}),
        SectorWith({{0, std::string("\x20\x00-lh0-", 7)}}),
        SectorWith({{0, "PWS3"}}),
        SectorWith({{3, "pWs3"}}),
        SectorWith({{0, std::string("\0\0\0\x14" "ftypqt  ", 12)}}),
        SectorWith({{0, std::string("\x01\0\0\0", 4)}, {40, " EMF"}, {48, "\x10\x20"}, {58, std::string(2, '\0')}}),
        SectorWith({{60, "BOOKMOBI"}}),
    };
    // The corpus: real files of every type, the list types among them.
    testsupport::TempDir dir;
    const auto imagePath = testsupport::UnpackXz(testsupport::FixturePath("raw/carving.img.xz"), dir.path());
    std::ifstream in(imagePath, std::ios::binary);
    const std::vector<unsigned char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto& row : testsupport::ReadCarvingManifest()) {
        const size_t at = static_cast<size_t>(row.start) * 512;
        ASSERT_LE(at + 512, image.size()) << row.path;
        starts.emplace_back(image.begin() + at, image.begin() + at + 512);
    }
    std::map<IRawFileAnalyser*, int> acceptedBy;
    // A stream analyser that accepts a start follows that stream until told to forget it.
    const auto forget = [&] {
        for (IRawFileAnalyser* analyser : list) analyser->ResetFollowState();
    };
    const auto check = [&](std::vector<unsigned char> sector, const std::string& what) {
        for (IRawFileAnalyser* analyser : list) {
            CRawFileInfo info;
            forget();
            if (analyser->AnalyseBuffer(sector.data(), info) != 1) continue;
            forget();
            ++acceptedBy[analyser];
            EXPECT_TRUE(lookup.MayAccept(sector.data())) << what;
            EXPECT_NE(lookup.Find(sector.data(), info, 512, 0, 0, 1, false), nullptr) << what;
        }
        forget();
    };
    std::vector<size_t> listStarts;  // the starts a list analyser accepts
    for (size_t k = 0; k < starts.size(); ++k) {
        int before = 0;
        for (const auto& [analyser, count] : acceptedBy) before += count;
        check(starts[k], "start " + std::to_string(k));
        int after = 0;
        for (const auto& [analyser, count] : acceptedBy) after += count;
        if (after > before) listStarts.push_back(k);
        if (k < 7) { EXPECT_GT(after, before) << "start " << k << " is accepted by a list analyser"; }
    }
    for (IRawFileAnalyser* analyser : list) EXPECT_GT(acceptedBy[analyser], 0) << "a start of every list analyser";
    std::mt19937 rng(20261210);
    for (int round = 0; round < 6000; ++round) {
        std::vector<unsigned char> sector = starts[listStarts[round % listStarts.size()]];
        for (int flips = 1 + static_cast<int>(rng() % 3); flips > 0; --flips) {
            // Flips within the first 64 bytes or the bytes from 252 to 267, where the tested bytes are;
            // letters change case too; the first word is cleared now and then.
            const size_t at = rng() % 2 == 0 ? rng() % 64 : 252 + rng() % 16;
            sector[at] ^= static_cast<unsigned char>(rng() % 2 == 0 ? 0x20 : 1u << (rng() % 8));
            if (rng() % 16 == 0) memset(sector.data(), 0, 4);
        }
        check(sector, "mutation " + std::to_string(round));
    }
    for (int round = 0; round < 1000; ++round) {
        std::vector<unsigned char> sector(512);
        for (unsigned char& b : sector) b = static_cast<unsigned char>(rng());
        check(sector, "random " + std::to_string(round));
    }
}

// Lists of random tests (bits at random places, some past byte 5, more than a group of words, some the
// lookup cannot make) against sectors holding one of them, sectors starting with a zero word and
// random sectors: a sector that one of the tests holds passes MayAccept and is found by the first
// analyser whose test holds; a sector no test holds is found by none.
TEST(RawAnalyserLookup, RandomListTestsNeverTurnAwayASectorOneOfThemHolds) {
    using Bits = IRawFileAnalyser::RequiredBits;
    std::mt19937_64 rng(0x5EC7012);
    const auto randomTest = [&]() {
        Bits test{};
        test.offset = static_cast<u32>(rng() % 3 == 0 ? rng() % 8 : rng() % 505);
        // A word somewhere in the eight, one byte, scattered bits or one bit; now and then a test the
        // lookup cannot make (no bits, or past byte 504).
        const u64 masks[] = {u64{0xFFFFFFFF} << (8 * (rng() % 5)), u64{0xFF} << (8 * (rng() % 8)), rng() & rng(),
                             u64{1} << (rng() % 64)};
        test.mask = masks[rng() % 4];
        if (rng() % 40 == 0) test.mask = 0;
        if (rng() % 40 == 0) test.offset = 505 + rng() % 7;
        test.value = rng() & test.mask;
        return test;
    };
    const auto holds = [](const Bits& test, const std::vector<unsigned char>& sector) {
        if (test.mask == 0 || test.offset > 504) return true;  // such an analyser is asked at every sector
        u64 bits = 0;
        for (int b = 7; b >= 0; --b) bits = bits << 8 | sector[test.offset + b];
        return (bits & test.mask) == test.value;
    };
    int found = 0, turnedAway = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::vector<Bits>> named(1 + rng() % 6);
        for (auto& tests : named) {
            tests.resize(1 + rng() % IRawFileAnalyser::kMaxRequiredBits);
            for (Bits& test : tests) test = randomTest();
        }
        int asked = 0;
        RawAnalyserMap map;
        RawAnalyserMultimap multimap;
        RawAnalyserList list;
        for (const auto& tests : named) list.push_back(new BitsAnalyser(tests, &asked));
        {
            RawAnalyserLookup lookup(map, multimap, list);
            for (int n = 0; n < 60; ++n) {
                std::vector<unsigned char> sector(512);
                for (unsigned char& b : sector) b = static_cast<unsigned char>(rng());
                if (n % 3 == 0) memset(sector.data(), 0, 4);
                if (n % 4 != 3) {
                    // Plant one of the tests: its bits in the sector's bytes.
                    const Bits& test = named[rng() % named.size()][0];
                    if (test.mask != 0 && test.offset <= 504) {
                        for (int b = 0; b < 8; ++b) {
                            const auto m = static_cast<unsigned char>(test.mask >> (8 * b));
                            const auto v = static_cast<unsigned char>(test.value >> (8 * b));
                            sector[test.offset + b] = static_cast<unsigned char>((sector[test.offset + b] & ~m) | v);
                        }
                    }
                }
                IRawFileAnalyser* first = nullptr;
                auto analyser = list.begin();
                for (size_t k = 0; k < named.size() && first == nullptr; ++k, ++analyser) {
                    for (const Bits& test : named[k]) {
                        if (holds(test, sector)) first = *analyser;
                    }
                }
                CRawFileInfo info;
                const std::string what = "round " + std::to_string(round) + " sector " + std::to_string(n);
                if (first != nullptr) {
                    EXPECT_TRUE(lookup.MayAccept(sector.data())) << what;
                }
                EXPECT_EQ(lookup.Find(sector.data(), info, 512, 0, 0, 1, false), first) << what;
                ++(first != nullptr ? found : turnedAway);
            }
        }
        CRawFileAnalyserListSingle::ClearListContents(list);
    }
    EXPECT_GT(found, 5000);
    EXPECT_GT(turnedAway, 1000);
}
