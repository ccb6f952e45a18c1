// The signature tables and the lookup order over them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/RAWSearch/Core/RawAnalyserLookup.h"
#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

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
// their own, sectors starting with a zero word,
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
        {"a test past the first 504 bytes: every sector", {{505, 0xFF, 1}}, SectorWith({}), true, true},
        {"a test with no bits: every sector", {{8, 0, 0}}, SectorWith({}), true, true},
        {"no tests: every sector", {}, SectorWith({}), true, true},
    };
    for (const Case& c : cases) {
        int asked = 0;
        RawAnalyserMap map;
        RawAnalyserMultimap multimap;
        RawAnalyserList list = {new BitsAnalyser(c.tests, &asked)};
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
}

// The real list analysers never lose a sector to the bytes they name: every sector one of them accepts
// passes MayAccept and is found. Sectors: a start of each list type, seeded mutations of them and
// random sectors.
TEST(RawAnalyserLookup, NamedBytesNeverTurnAwayWhatTheListAccepts) {
    auto* tables = CRawFileAnalyserListSingle::CreateInstance();
    tables->ReinitAnalyzeList(nullptr);
    RawAnalyserLookup lookup(tables->GetAnalyserMap(0), tables->GetAnalyserMultimap(0), tables->GetAnalyserList(0));
    const std::vector<std::vector<unsigned char>> starts = {
        SectorWith({{0, std::string("\x20\x00-lh5-", 7)}}),
        SectorWith({{0, std::string("\x20\x00-lh0-", 7)}}),
        SectorWith({{0, "PWS3"}}),
        SectorWith({{3, "pWs3"}}),
        SectorWith({{0, std::string("\0\0\0\x14" "ftypqt  ", 12)}}),
        SectorWith({{0, std::string("\x01\0\0\0", 4)}, {40, " EMF"}, {48, "\x10\x20"}, {58, std::string(2, '\0')}}),
        SectorWith({{60, "BOOKMOBI"}}),
    };
    int accepted = 0;
    const auto check = [&](std::vector<unsigned char> sector, const std::string& what) {
        for (IRawFileAnalyser* analyser : tables->GetAnalyserList(0)) {
            CRawFileInfo info;
            if (analyser->AnalyseBuffer(sector.data(), info) != 1) continue;
            ++accepted;
            EXPECT_TRUE(lookup.MayAccept(sector.data())) << what;
            EXPECT_NE(lookup.Find(sector.data(), info, 512, 0, 0, 1, false), nullptr) << what;
        }
    };
    for (size_t k = 0; k < starts.size(); ++k) {
        const int before = accepted;
        check(starts[k], "start " + std::to_string(k));
        EXPECT_GT(accepted, before) << "start " << k << " is accepted by a list analyser";
    }
    std::mt19937 rng(20261210);
    for (int round = 0; round < 4000; ++round) {
        std::vector<unsigned char> sector = starts[round % starts.size()];
        for (int flips = 1 + static_cast<int>(rng() % 3); flips > 0; --flips) {
            // Flips within the first 64 bytes, where the tested bytes are; letters change case too.
            sector[rng() % 64] ^= static_cast<unsigned char>(rng() % 2 == 0 ? 0x20 : 1u << (rng() % 8));
        }
        check(sector, "mutation " + std::to_string(round));
    }
    for (int round = 0; round < 1000; ++round) {
        std::vector<unsigned char> sector(512);
        for (unsigned char& b : sector) b = static_cast<unsigned char>(rng());
        check(sector, "random " + std::to_string(round));
    }
}
