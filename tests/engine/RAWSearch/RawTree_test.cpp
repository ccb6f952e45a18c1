// Result nodes of the signature search: names, extension folders, times and the tag tree.
#include <gtest/gtest.h>

#include "RecordingTreeBuilder.h"
#include "engine/RAWSearch/Tree/LABELRAWTreeBuilder.h"
#include "engine/RAWSearch/Tree/RAWFileManager.h"
#include "engine/RAWSearch/Tree/RAWFileNode.h"

using rawtest::RecordingTreeBuilder;

namespace {

CRawFileInfo Record(RAW_FILE_TYPE type, const std::string& name = "", const std::string& time = "",
                    RAW_FILE_TAG tag = RAW_TAG_NONE, const std::string& value = "") {
    CRawFileInfo r;
    r.m_type = type;
    r.m_size = 5000;
    r.m_startSector = 77;
    r.SetRawFileName(name);
    r.SetRawFileTime(time);
    r.SetRawFileTagAndValue(tag, value);
    return r;
}

_FILETIME FileTime(i64 unixSeconds) { return (unixSeconds + 11644473600LL) * 10000000LL; }

}  // namespace

TEST(RAWFileManager, NamesFoldersAndTimes) {
    ResetRawNameCounters();
    CRAWFileManager::g_nID = 10;
    RecordingTreeBuilder builder;
    CRAWFileManager pictures(1, 3, &builder);
    struct Case {
        CRawFileInfo record;
        const char* name;
        i64 parent;
        _FILETIME time;
    } cases[] = {
        {Record(RAW_TYPE_JPG), "FILE000.JPG", 10, 0},
        {Record(RAW_TYPE_JPG), "FILE001.JPG", 10, 0},
        {Record(RAW_TYPE_JPG, "Trip", "2011:05:06 10:20:30"), "Trip002.JPG", 10, FileTime(1304677230)},
        {Record(RAW_TYPE_JPG, "\xC3\x28"), "FILE003.JPG", 10, 0},
        {Record(51, "", "2011:05:06"), "FILE000.PNG", 11, 0},
        {Record(RAW_TYPE_JPG, "", "2011:05:06 10:20:30"), "FILE004.JPG", 10, FileTime(1304677230)},
    };
    for (auto& c : cases) EXPECT_EQ(pictures.AddRawFileInfo(&c.record), 1);
    auto files = builder.Files();
    ASSERT_EQ(files.size(), std::size(cases));
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(files[i].name, cases[i].name) << i;
        EXPECT_EQ(files[i].parent, cases[i].parent) << i;
        EXPECT_EQ(files[i].time, cases[i].time) << i << ": a named file keeps its date";
        EXPECT_EQ(files[i].size, 5000);
        EXPECT_EQ(files[i].type, SEARCHER_RAW);
    }
    int folders = 0;
    for (auto& r : builder.received) {
        if (!r.directory) continue;
        ++folders;
        EXPECT_EQ(r.parent, 1);
        EXPECT_TRUE((r.name == "jpg" && r.id == 10) || (r.name == "png" && r.id == 11)) << r.name;
    }
    EXPECT_EQ(folders, 2);
    // One data run from the start sector in 512-byte units.
    auto* node = dynamic_cast<CRAWFileNode*>(files[0].node);
    ASSERT_NE(node, nullptr);
    DataRun* run = node->GetDataRunList()->GetFirst();
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->start, 77);
    EXPECT_EQ(run->length, 10u);
}

TEST(RAWFileManager, RefusedNodesAreReleasedOnlyWhenTheBuilderDoesNotHoldThem) {
    ResetRawNameCounters();
    CRAWFileManager::g_nID = 10;
    RecordingTreeBuilder builder;
    builder.refuse = [](const rawtest::Received& r) { return r.directory; };
    CRAWFileManager manager(1, 3, &builder);
    CRawFileInfo a = Record(RAW_TYPE_JPG);
    EXPECT_EQ(manager.AddRawFileInfo(&a), 1) << "the file is held even though its folder was refused";
    EXPECT_EQ(builder.Files().size(), 1u);
    CRawFileInfo b = Record(RAW_TYPE_JPG);
    EXPECT_EQ(manager.AddRawFileInfo(&b), 1);
    EXPECT_EQ(builder.refused, 2) << "the refused folder is made again for the next file";
}

// A found file's own time text may say anything: a date no FILETIME holds, or numbers past int, give
// no time (0) rather than an overflowed one.
TEST(RAWFileManager, TimesPastAnyFileTimeAreNone) {
    ResetRawNameCounters();
    CRAWFileManager::g_nID = 10;
    RecordingTreeBuilder builder;
    CRAWFileManager pictures(1, 3, &builder);
    const struct {
        const char* text;
        _FILETIME time;
    } cases[] = {
        {"2011:05:06 10:20:30", FileTime(1304677230)},
        {"30000:01:01 00:00:00", FileTime(884541340800)},  // before the FILETIME limit (year 30828)
        {"58155:05:06 10:20:30", 0},                       // past it: the product overflowed
        {"99999:12:31 23:59:59", 0},
        {"2011:05:06 10:20:4294967326", 0},  // would wrap to 30 seconds as an int
        {"2011:05:06 10:20:99999999999999999999", 0},
        {"2147483647:05:06 10:20:30", 0},
    };
    for (const auto& c : cases) {
        CRawFileInfo record = Record(RAW_TYPE_JPG, "", c.text);
        EXPECT_EQ(pictures.AddRawFileInfo(&record), 1);
    }
    const auto files = builder.Files();
    ASSERT_EQ(files.size(), std::size(cases));
    for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(files[i].time, cases[i].time) << cases[i].text;
}

TEST(RAWFileNode, TimeTextFields) {
    std::vector<std::string> f;
    EXPECT_EQ(CRAWFileNode::FileTimeStructs("2011:05:06 10:20:30", f), 1);
    EXPECT_EQ(f, (std::vector<std::string>{"2011", "05", "06", "10", "20", "30"}));
    EXPECT_EQ(CRAWFileNode::FileTimeStructs("  2011-05-06", f), 1);
    EXPECT_EQ(f.size(), 3u);
    EXPECT_EQ(CRAWFileNode::FileTimeStructs("a::b", f), 1);
    EXPECT_EQ(f, (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(CRAWFileNode::FileTimeStructs("x", f), 0);
    EXPECT_EQ(CRAWFileNode::FileTimeStructs("   ", f), 0);
}

TEST(LABELRAWTreeBuilder, FoldersByKindValueAndApplication) {
    ResetRawNameCounters();
    RecordingTreeBuilder builder;
    CLABELRAWTreeBuilder tree(&builder);
    const i64 first = CLABELRAWTreeBuilder::m_gRawCount;
    struct Step {
        CRawFileInfo record;
        std::vector<std::string> received;  // names handed over, in order
    } steps[] = {
        {Record(RAW_TYPE_JPG, "X1", "", RAW_TAG_CAMERA, "ACME"), {"X1000.JPG", "ACME", "Camera"}},
        {Record(RAW_TYPE_JPG, "X2", "", RAW_TAG_CAMERA, "ACME"), {"X2001.JPG"}},
        {Record(RAW_TYPE_DOCX, "", "", RAW_TAG_OFFICE, "Ann"), {"FILE000.DOCX", "Ann", "Word", "Office"}},
        {Record(RAW_TYPE_XLS, "", "", RAW_TAG_OFFICE, "Ann"), {"FILE000.XLS", "Ann", "Excel"}},
        {Record(RAW_TYPE_DOC, "", "", RAW_TAG_OFFICE, "Ann"), {"FILE000.DOC"}},
        {Record(50, "", "", RAW_TAG_AI, "V"), {"FILE000.PDF", "V", "AI"}},
        {Record(50, "", "", RAW_TAG_AI, "V"), {"FILE001.PDF"}},
        {Record(RAW_TYPE_JPG, "", "", RAW_TAG_CAMERA, "A/B"), {"FILE002.JPG", "A_B"}},
    };
    size_t seen = 0;
    for (auto& step : steps) {
        bool placed = false;
        EXPECT_EQ(tree.InsertNodeToTree(&step.record, &builder, &placed), 1);
        EXPECT_TRUE(placed);
        std::vector<std::string> names;
        for (size_t i = seen; i < builder.received.size(); ++i) names.push_back(builder.received[i].name);
        seen = builder.received.size();
        EXPECT_EQ(names, step.received) << step.received[0];
    }
    const auto& r = builder.received;
    EXPECT_EQ(r[0].id, first + 1) << "the value folder takes the first new ID, the file the next";
    EXPECT_EQ(r[1].id, first);
    EXPECT_EQ(r[0].parent, first);
    EXPECT_EQ(r[2].id, -15);
    EXPECT_EQ(r[2].parent, 1000);
    EXPECT_EQ(r[2].type, SEARCHER_RAW_TAG);
    // Office: the author folder under Word (-12) under Office (-13).
    EXPECT_EQ(r[5].parent, -12);
    EXPECT_EQ(r[6].id, -12);
    EXPECT_EQ(r[6].parent, -13);
    EXPECT_EQ(r[7].id, -13);
    EXPECT_EQ(r[7].parent, 1000);
}

TEST(RAWFileManager, TaggedFilesWithoutATagFolderAreFiledByExtension) {
    ResetRawNameCounters();
    CRAWFileManager::g_nID = 10;
    RecordingTreeBuilder builder;
    CRAWFileManager documents(1, 2, &builder);
    CRawFileInfo pdfWithOfficeTag = Record(50, "", "", RAW_TAG_OFFICE, "Ann");
    EXPECT_EQ(documents.AddRawFileInfo(&pdfWithOfficeTag), 1);
    auto files = builder.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].type, SEARCHER_RAW) << "not lost";
    EXPECT_EQ(files[0].name, "FILE000.PDF");
}
