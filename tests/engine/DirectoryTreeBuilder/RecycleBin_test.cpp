// Recycled files get their former names back from "$I" index records read off a memory device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/DirectoryTreeBuilder/RecyclerFilter.h"
#include "engine/EXFatSearch/ExFatFileNode.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/RecoveryFilter/RecoveryFilter.h"
#include "engine/Utility/DataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "support/MemoryDevice.h"
#include "support/RecordingTree.h"

using testsupport::MemoryDevice;
using testsupport::RecordingTree;

namespace {

void PutLe(std::vector<u8>& b, size_t at, u64 v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<u8>(v >> (8 * i));
}

std::vector<u8> Utf16(const std::u16string& s) {
    std::vector<u8> out;
    for (char16_t c : s) {
        out.push_back(static_cast<u8>(c & 0xFF));
        out.push_back(static_cast<u8>(c >> 8));
    }
    return out;
}

// An index record as Windows writes it: version, original size, deletion time, then the path
// (layout 1: fixed 260 characters at 24; layout 2: character count at 24, path at 28).
std::vector<u8> IndexRecord(int version, const std::u16string& path) {
    const std::vector<u8> text = Utf16(path + u'\0');
    std::vector<u8> rec(version == 1 ? 24 + 520 : 28 + text.size(), 0);
    PutLe(rec, 0, static_cast<u64>(version), 8);
    PutLe(rec, 8, 12345, 8);
    PutLe(rec, 16, 0x01D9000000000000ULL, 8);
    size_t at = 24;
    if (version == 2) {
        PutLe(rec, 24, path.size() + 1, 4);
        at = 28;
    }
    std::memcpy(rec.data() + at, text.data(), text.size());
    return rec;
}

CExFatFileNode* ExFatNode(i64 id, i64 parent, const char* name, bool dir, i64 size = 0) {
    auto* node = new CExFatFileNode();
    node->SetCurrentNodeID(id);
    node->SetParentNodeID(parent);
    node->SetFileName(name);
    node->m_attributes = dir ? 0x10 : 0x20;
    node->m_size = size;
    return node;
}

}  // namespace

TEST(RecyclerFilter, Names) {
    struct Case {
        const char* name;
        bool dir, bin, index, content;
    } cases[] = {
        {"$Recycle.Bin", true, true, false, true},   {"RECYCLER", true, true, false, false},
        {"recycled", true, true, false, false},      {"$RECYCLE.BI0", true, true, false, true},
        {"$Recycle.Bin", false, false, false, true}, {"$IAB12.jpg", false, false, true, false},
        {"#I", false, false, true, false},           {"$RAB12.jpg", false, false, false, true},
        {"#Rx", false, false, false, true},          {"$Repair", false, false, false, false},
        {"$RmMetadata", true, false, false, false},  {"$R", false, false, false, false},
        {"$", false, false, false, false},           {"RAB", false, false, false, false},
    };
    for (const auto& c : cases) {
        auto* node = ExFatNode(1, 0, c.name, c.dir);
        EXPECT_EQ(CRecyclerFilter::IsRecycleBinSigleNode(node), c.bin) << c.name;
        EXPECT_EQ(CRecyclerFilter::IsRecoverNode(node), c.index) << c.name;
        EXPECT_EQ(CRecyclerFilter::IsRecoverNodeEx(node), c.content) << c.name;
        node->Release();
    }
}

TEST(RecyclerFilter, ParseIndexNameTable) {
    struct Case {
        const char* what;
        std::vector<u8> bytes;
        bool ok;
        std::string name;
    } cases[] = {
        {"layout 1", IndexRecord(1, u"C:\\Users\\al\\Desktop\\Report.docx"), true, "Report.docx"},
        {"layout 2", IndexRecord(2, u"D:\\Fotos\\Urlaub \u00e9t\u00e9.jpg"), true, "Urlaub \xc3\xa9t\xc3\xa9.jpg"},
        {"root of a drive", IndexRecord(2, u"E:\\a"), true, "a"},
        {"no drive prefix", IndexRecord(2, u"\\\\server\\share\\x.txt"), false, ""},
        {"ends in a backslash", IndexRecord(2, u"C:\\dir\\"), false, ""},
        {"dot-dot", IndexRecord(2, u"C:\\dir\\.."), false, ""},
        {"slash inside", IndexRecord(2, u"C:\\dir\\a/b"), false, ""},
        {"unknown version",
         [] {
             auto r = IndexRecord(2, u"C:\\x");
             r[0] = 3;
             return r;
         }(),
         false, ""},
        {"truncated header", std::vector<u8>(20, 1), false, ""},
        {"count past the data",
         [] {
             auto r = IndexRecord(2, u"C:\\abc");
             PutLe(r, 24, 0xFFFFFFFF, 4);
             r.pop_back();  // odd length too
             return r;
         }(),
         true, "abc"},
        {"no terminator, cut mid-character",
         [] {
             auto r = IndexRecord(2, u"C:\\abcdef");
             r.resize(r.size() - 5);
             return r;
         }(),
         true, "abcd"},
        {"lone surrogate", IndexRecord(2, u"C:\\a\xD800z"), false, ""},
        {"name longer than 512 bytes", IndexRecord(2, u"C:\\" + std::u16string(200, u'\u4e2d')), false, ""},
    };
    for (const auto& c : cases) {
        std::string name = "unchanged";
        EXPECT_EQ(CRecyclerFilter::ParseIndexName(c.bytes.data(), c.bytes.size(), name), c.ok) << c.what;
        if (c.ok) {
            EXPECT_EQ(name, c.name) << c.what;
        }
    }
    std::string name;
    EXPECT_FALSE(CRecyclerFilter::ParseIndexName(nullptr, 100, name));
}

namespace {

struct RecycleHarness {
    MemoryDevice device{64, 512};
    CSearchedPartitionInfo partition{512};
    RecordingTree tree;
    CRecoveryFilter filter;
    CDirectoryTreeBuilder builder{false};

    RecycleHarness() {
        partition.m_cluster0Sector = 8;  // runs count from here, not from sector 0
        partition.m_sectorsPerCluster = 1;
        filter.SetFilterTypes(FILTER_ALL);
        filter.SetScanType(SCAN_DEEP);
        builder.SetClock([] { return i64{0}; }, [](int) {});
        builder.Initialize("Dev", &tree, &filter);
    }
    // An index file whose record lies in the cluster given.
    CFileNode* IndexFile(i64 id, i64 parent, const char* name, const std::vector<u8>& record, i64 cluster) {
        device.Put(static_cast<u64>((partition.m_cluster0Sector + cluster) * 512), record.data(), record.size());
        auto* node = ExFatNode(id, parent, name, false, static_cast<i64>(record.size()));
        auto* runs = new CDataRunList();
        runs->AddDataRun(DataRun{cluster, (record.size() + 511) / 512});
        node->SetDataRunList(runs);
        return node;
    }
    void Add(CFileNode* node, _tagSearcherType type) {
        if (!builder.AddNode(node, type)) node->Release();
    }
};

}  // namespace

TEST(DirectoryTreeBuilder, RecycledFilesGetTheirNamesBack) {
    RecycleHarness h;
    h.builder.AddSearcherInfo(SEARCHER_EXFAT, -1);
    h.builder.SetPartitonDevice(&h.partition, &h.device);
    h.Add(ExFatNode(30, -1, "$RECYCLE.BIN", true), SEARCHER_EXFAT);
    h.Add(ExFatNode(31, 30, "S-1-5-21", true), SEARCHER_EXFAT);
    h.Add(ExFatNode(40, 31, "$RAB12.docx", false, 100), SEARCHER_EXFAT);
    h.Add(h.IndexFile(41, 31, "$IAB12.docx", IndexRecord(2, u"C:\\Users\\al\\Report 2023.docx"), 3), SEARCHER_EXFAT);
    h.Add(ExFatNode(42, 31, "$RCD34.txt", false, 7), SEARCHER_EXFAT);
    h.Add(h.IndexFile(43, 31, "$ICD34.txt", IndexRecord(1, u"D:\\notes.txt"), 5), SEARCHER_EXFAT);
    h.Add(ExFatNode(44, 31, "$RNOIDX.bin", false, 9), SEARCHER_EXFAT);
    h.Add(ExFatNode(45, 31, "$RBAD.txt", false, 9), SEARCHER_EXFAT);
    h.Add(h.IndexFile(46, 31, "$IBAD.txt", IndexRecord(2, u"C:\\x\\.."), 7), SEARCHER_EXFAT);
    EXPECT_EQ(h.tree.PublishedCount(), 0u);  // held back until the flush

    h.builder.FlashBuild(SEARCHER_EXFAT);
    const std::vector<std::string> expected = {
        "Dev(ExFat)",
        "Dev(ExFat)/$RECYCLE.BIN 0 D",
        "Dev(ExFat)/$RECYCLE.BIN/S-1-5-21 0 D",
        "Dev(ExFat)/$RECYCLE.BIN/S-1-5-21/$RBAD.txt 9 D",
        "Dev(ExFat)/$RECYCLE.BIN/S-1-5-21/$RNOIDX.bin 9 D",
        "Dev(ExFat)/$RECYCLE.BIN/S-1-5-21/Report 2023.docx 100 D",
        "Dev(ExFat)/$RECYCLE.BIN/S-1-5-21/notes.txt 7 D",
    };
    EXPECT_EQ(h.tree.Listing(), expected);
}

TEST(DirectoryTreeBuilder, RecycleNamesNeedADeviceAndStayWithTheirSearcher) {
    RecycleHarness h;
    h.builder.AddSearcherInfo(SEARCHER_EXFAT, -1);
    h.builder.AddSearcherInfo(SEARCHER_NTFS, 5);
    h.Add(ExFatNode(40, -1, "$RAB12.docx", false, 100), SEARCHER_EXFAT);
    h.Add(h.IndexFile(41, -1, "$IAB12.docx", IndexRecord(2, u"C:\\Report.docx"), 3), SEARCHER_EXFAT);
    auto* ntfsContent = new CNTFSFileNode();  // no properties: refused by nothing, named by nothing
    ntfsContent->SetCurrentNodeID(50);
    ntfsContent->SetParentNodeID(5);
    h.Add(ExFatNode(51, 5, "$RZZ.txt", false, 3), SEARCHER_NTFS);
    h.Add(ntfsContent, SEARCHER_NTFS);

    h.builder.FlashBuild(SEARCHER_EXFAT);  // no device set: names stay
    EXPECT_EQ(h.tree.Listing(), (std::vector<std::string>{"Dev(ExFat)", "Dev(ExFat)/$RAB12.docx 100 D"}));
    // The NTFS holdings were not flushed into the exFAT tree; they wait for their own flush.
    h.builder.FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(h.tree.Roots().size(), 2u);
}
