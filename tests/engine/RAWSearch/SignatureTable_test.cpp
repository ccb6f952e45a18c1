// The signature tables and the lookup order over them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
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
