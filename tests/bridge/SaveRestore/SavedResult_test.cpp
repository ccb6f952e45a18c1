// Saved scan results: the writer against a golden file made by an independent writer, the round trip
// through the restore sink, and the table of hostile files (each refused with its code and the field).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/SaveRestore/RestoreFileNode.h"
#include "bridge/SaveRestore/RestoreScanSink.h"
#include "bridge/SaveRestore/SavedResultFile.h"
#include "bridge/SaveRestore/SavedResultFormat.h"
#include "bridge/SaveRestore/SaveRestoreThreads.h"
#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Scan/KXUIScan.h"
#include "support/FakeClock.h"
#include "support/FakeEnumDevice.h"
#include "bridge/SaveRestore/SavedResultFrames.h"
#include "engine/Common/ByteReader.h"
#include "engine/Common/CatchExeception.h"
#include "engine/FileArchive/RSData.h"
#include "engine/Utility/DataRunList.h"
#include "support/CapturingTreeBuilder.h"
#include "support/PutBytes.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"
#include "support/WorkDir.h"
#include "SaveRestoreTestSupport.h"

using testsupport::PutInto;

using namespace saved_result;
using SaveRestoreResult::CRestoreScanSink;
using SaveRestoreResult::RestoreFileNode;
using testsupport::CapturingTreeBuilder;
using testsupport::ReadFile;
using testsupport::RecordingProgress;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

constexpr _FILETIME T1 = 130000000000000000, T2 = 130000000010000000, T3 = 130000000020000000;

// A node with every field of the record set directly.
class TestNode : public CFileNode {
public:
    TestNode(i64 id, i64 parent, std::string name, u32 directory) : name(std::move(name)), directory(directory) {
        SetCurrentNodeID(id);
        SetParentNodeID(parent);
    }
    const char* GetFileName() override { return name.c_str(); }
    i64 GetFileSize() override { return size; }
    u16 GetAttribute() override { return attribute; }
    _FILETIME GetCreationTime() override { return creation; }
    _FILETIME GetModificationTime() override { return modification; }
    _FILETIME GetLastAccessTime() override { return access; }
    u32 IsDirectory() override { return directory; }
    u32 IsDeleted() override { return deleted; }
    _tagSearcherType GetSearcheType() override { return type; }
    const char* GetVolumeName() override { return volume.c_str(); }
    void MarkDeleted() override { deleted = 1; }
    void FilterFileNameByDot() override {}
    IFileNode* Clone() override { return new TestNode(*this); }
    void SetCompressed(u32 c) { m_compressed = c; }
    void AddRuns(std::vector<DataRun> runs, u32 resident = 0) {
        // Kept as given (contiguous runs too), as an engine's own list may hold them.
        auto* list = new SaveRestoreResult::CRestoredRunList(resident);
        for (const DataRun& r : runs) list->AppendExact(r);
        SetDataRunList(list);
    }

    std::string name;
    u32 directory;
    i64 size = 0;
    u16 attribute = 0;
    _FILETIME creation = 0, modification = 0, access = 0;
    u32 deleted = 0;
    _tagSearcherType type = SEARCHER_NONE;
    std::string volume;
};

struct Tree {
    std::vector<std::unique_ptr<TestNode>> nodes;
    TestNode* Add(TestNode* parent, i64 id, std::string name, u32 directory) {
        nodes.push_back(std::make_unique<TestNode>(id, parent ? parent->GetCurrentNodeID() : 1, std::move(name),
                                                   directory));
        TestNode* n = nodes.back().get();
        if (parent) parent->AddChild(n);
        return n;
    }
};

// The tree of three-nodes.hex (make-golden.py builds the same one).
TestNode* MakeThreeNodeTree(Tree& tree) {
    TestNode* root = tree.Add(nullptr, 2, "", 1);
    root->attribute = 0x10;
    root->creation = root->modification = root->access = T1;
    root->type = SEARCHER_FAT;
    root->volume = "VOL";
    // A new child goes first among its siblings: the last one added is written first.
    TestNode* ete = tree.Add(root, 17, "\xc3\xa9t\xc3\xa9.txt", 0);
    ete->size = 5000, ete->attribute = 0x20, ete->deleted = 1;
    ete->creation = ete->modification = ete->access = T2;
    TestNode* dcim = tree.Add(root, 16, "DCIM", 1);
    dcim->attribute = 0x10;
    dcim->creation = T1, dcim->modification = T2, dcim->access = T3;
    TestNode* jpg = tree.Add(dcim, 18, "a.jpg", 0);
    jpg->size = 40000, jpg->attribute = 0x20;
    jpg->creation = T3, jpg->modification = T2, jpg->access = T1;
    jpg->AddRuns({{10, 4}, {20, 6}});
    jpg->SetCompressed(1);
    i64 meta = 100;
    for (TestNode* n : {root, dcim, ete, jpg}) {
        n->ShowNode(1);
        n->SetBelongedPartition(0);
        n->SetMetaDataSector(n == root ? ~u64{0} : static_cast<u64>(meta++));
    }
    return root;
}

CSearchedPartitionInfo MakePartition() {
    CSearchedPartitionInfo p(512);
    p.m_partitionIndex = 0;
    p.m_fileSystemType = 2;
    p.m_sectorsPerCluster = 8;
    p.m_cluster0Sector = 4096;
    p.m_partitionStartSector = 2048;
    p.m_matchCount1 = 5;
    p.m_matchCount2 = 6;
    p.m_sectorSize = 512;
    p.m_totalSectors = 204800;
    p.m_score = 7;
    p.m_weight = 0.5;
    return p;
}

SavedDevice WholeDisk() {
    SavedDevice d;
    d.capacity = 104857600;
    d.diskIndex = 1;
    d.name = "Test Disk";
    return d;
}

void Save(const std::string& path, const SavedScanKind& kind, const SavedDevice& device,
          const std::vector<SavedRoot>& roots) {
    CRSData rs(RS_MODE_WRITE);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 1));
    FILEHEADER h;
    h.status = 1;
    ASSERT_TRUE(rs.WriteFileHeader(h));
    WriteScanKind(rs, kind);
    WriteDevice(rs, device);
    ASSERT_TRUE(WriteNodeTrees(rs, roots, [] { return true; }, nullptr));
    rs.EndRS();
}

std::string ReadHexFile(const std::string& path) {
    std::ifstream in(path);
    std::string line, bytes;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string word;
        words >> word;  // the offset
        while (words >> word) bytes.push_back(static_cast<char>(std::stoi(word, nullptr, 16)));
    }
    return bytes;
}

TEST(SavedResult, WriterMatchesTheIndependentGoldenFile) {
    TempDir dir;
    Tree tree;
    TestNode* root = MakeThreeNodeTree(tree);
    CSearchedPartitionInfo partition = MakePartition();
    const std::string path = (dir.path() / "three.rsf").string();
    Save(path, {1, 1}, WholeDisk(), {{root, {&partition}}});
    const std::string golden = ReadHexFile(BRELVOX_FIXTURE_DIR "/saved-result/three-nodes.hex");
    ASSERT_FALSE(golden.empty());
    const std::string written = ReadFile(path);
    ASSERT_EQ(written.size(), golden.size());
    for (size_t i = 0; i < golden.size(); ++i) ASSERT_EQ(written[i], golden[i]) << "first difference at byte " << i;
}

TEST(SavedResult, RoundTripGivesTheSameRecordsAndSelectsRootsByVolume) {
    TempDir dir;
    Tree tree;
    TestNode* fat = MakeThreeNodeTree(tree);
    TestNode* empty = tree.Add(fat, 19, "", 0);  // an empty name
    empty->size = 1;
    TestNode* fragmented = tree.Add(fat, 20, "frag.bin", 0);
    std::vector<DataRun> many;
    for (i64 i = 0; i < 70000; ++i) many.push_back({i * 3, 1});  // more than 65,535 runs
    fragmented->AddRuns(many);
    TestNode* resident = tree.Add(fat, 21, "r", 0);
    resident->AddRuns({{0, 700}, {700, 5}}, 1);  // contiguous runs stay two runs
    // A raw root without partition records, its files directly under it.
    TestNode* raw = tree.Add(nullptr, 0, "", 1);
    raw->type = SEARCHER_RAW;
    tree.Add(raw, 1000, "f0001.jpg", 0)->size = 77;
    tree.Add(raw, 1001, "f0002.png", 0)->size = 78;

    CSearchedPartitionInfo partition = MakePartition();
    CSearchedPartitionInfo second = MakePartition();
    second.m_partitionIndex = 1;
    second.m_weight = -3.25;
    SavedDevice device = WholeDisk();
    device.isEdi = 1;
    device.ediInfo = std::vector<u8>(kEdiBlockSize, 0x5A);
    const std::string path = (dir.path() / "round.rsf").string();
    Save(path, {2, 1}, device, {{fat, {&partition, &second}}, {raw, {}}});

    auto all = Load(path);
    ASSERT_EQ(all->code, 0u) << all->field;
    EXPECT_EQ(all->kind.controllerType, 2u);
    EXPECT_EQ(all->kind.deep, 1u);
    EXPECT_EQ(all->device.name, "Test Disk");
    ASSERT_TRUE(all->device.ediInfo.has_value());
    EXPECT_EQ(*all->device.ediInfo, *device.ediInfo);
    EXPECT_FALSE(all->device.dmgInfo.has_value());
    EXPECT_EQ(all->builder.roots.at(SEARCHER_FAT), 2);
    EXPECT_EQ(all->builder.roots.at(SEARCHER_RAW), 0);
    EXPECT_EQ(all->builder.flashes, (std::vector<_tagSearcherType>{SEARCHER_FAT, SEARCHER_RAW}));

    // Breadth first: the root's children in sibling order, then each folder's.
    std::vector<IFileNode*> expected;
    for (IFileNode* root : {static_cast<IFileNode*>(fat), static_cast<IFileNode*>(raw)}) {
        std::vector<IFileNode*> level{root};
        for (size_t i = 0; i < level.size(); ++i) {
            for (IFileNode* c = level[i]->GetFirstChild(); c; c = c->GetNextNode()) {
                expected.push_back(c);
                if (c->IsDirectory()) level.push_back(c);
            }
        }
    }
    ASSERT_EQ(all->builder.accepted.size(), expected.size());
    std::map<i64, IFileNode*> byId;
    for (size_t i = 0; i < expected.size(); ++i) {
        IFileNode* restored = all->builder.accepted[i].first;
        byId[restored->GetCurrentNodeID()] = restored;
        EXPECT_TRUE(RecordOf(restored) == RecordOf(expected[i])) << "node " << expected[i]->GetCurrentNodeID();
    }
    auto* restoredFrag = dynamic_cast<CFileNode*>(byId.at(20));
    ASSERT_NE(restoredFrag->GetDataRunList(), nullptr);
    EXPECT_EQ(static_cast<CDataRunList*>(restoredFrag->GetDataRunList())->GetRunCount(), 70000u);
    EXPECT_EQ(static_cast<CDataRunList*>(dynamic_cast<CFileNode*>(byId.at(21))->GetDataRunList())->GetRunCount(), 2u);
    EXPECT_EQ(dynamic_cast<CFileNode*>(byId.at(16))->GetDataRunList(), nullptr);
    EXPECT_STREQ(byId.at(19)->GetFileName(), "");
    EXPECT_STREQ(byId.at(17)->GetFileName(), "\xc3\xa9t\xc3\xa9.txt");

    auto& records = all->sink->GetSearchedPartition(SEARCHER_FAT);
    ASSERT_EQ(records.size(), 2u);
    for (CSearchedPartitionInfo* source : {&partition, &second}) {
        CSearchedPartitionInfo* r = records[source == &partition ? 0 : 1];
        EXPECT_EQ(r->m_partitionIndex, source->m_partitionIndex);
        EXPECT_EQ(r->m_privateData, nullptr);
        EXPECT_EQ(r->m_fileSystemType, source->m_fileSystemType);
        EXPECT_EQ(r->m_sectorsPerCluster, source->m_sectorsPerCluster);
        EXPECT_EQ(r->m_cluster0Sector, source->m_cluster0Sector);
        EXPECT_EQ(r->m_partitionStartSector, source->m_partitionStartSector);
        EXPECT_EQ(r->m_matchCount1, source->m_matchCount1);
        EXPECT_EQ(r->m_matchCount2, source->m_matchCount2);
        EXPECT_EQ(r->m_sectorSize, source->m_sectorSize);
        EXPECT_EQ(r->m_totalSectors, source->m_totalSectors);
        EXPECT_EQ(r->m_score, source->m_score);
        EXPECT_EQ(r->m_weight, source->m_weight);
    }
    EXPECT_TRUE(all->sink->GetSearchedPartition(SEARCHER_RAW).empty());

    // Frames 1 and 2 written again from what was loaded are the same bytes.
    const std::string again = (dir.path() / "again.rsf").string();
    Save(again, all->kind, all->device, {});
    const std::string a = ReadFile(path), b = ReadFile(again);
    const size_t frames12 = kRSFrameHeaderSize * 2 + 12 + 8 + 12 + 4 + 9 + 8 + 4 + kEdiBlockSize + 4;
    EXPECT_EQ(a.substr(0, kRSHeaderSize + frames12), b.substr(0, kRSHeaderSize + frames12));

    // A volume load takes only the root of that volume; the other root's records and nodes are dropped.
    auto vol = Load(path, {false, "VOL"});
    ASSERT_EQ(vol->code, 0u) << vol->field;
    EXPECT_EQ(vol->builder.roots.count(SEARCHER_RAW), 0u);
    EXPECT_EQ(vol->builder.accepted.size(), 6u);
    EXPECT_EQ(vol->sink->GetSearchedPartition(SEARCHER_FAT).size(), 2u);
    EXPECT_TRUE(vol->sink->GetSearchedPartition(SEARCHER_RAW).empty());
    auto none = Load(path, {false, "OTHER"});
    ASSERT_EQ(none->code, 0u);
    EXPECT_TRUE(none->builder.accepted.empty());
    EXPECT_TRUE(none->sink->GetSearchedPartition(SEARCHER_FAT).empty());

    // A selector chooses per replayed device; no answer replays nothing for that device.
    CRSData archive(RS_MODE_READ);
    ASSERT_TRUE(archive.StartRS(path.c_str(), 0));
    CRestoreScanSink sink(&archive);
    auto* volumeA = reinterpret_cast<IStorageDevice*>(0x10);
    sink.SetSelector([&](IStorageDevice* device) -> std::optional<CRestoreScanSink::Selection> {
        if (device == volumeA) return CRestoreScanSink::Selection{false, "VOL"};
        return std::nullopt;
    });
    RecordingProgress progress;
    CapturingTreeBuilder builderA, builderB;
    sink.SetDirecotryTreeBuilder(&builderA, &progress, volumeA);
    sink.SetDirecotryTreeBuilder(&builderB, &progress, reinterpret_cast<IStorageDevice*>(0x20));
    EXPECT_EQ(sink.ErrorCode(), 0u);
    EXPECT_EQ(builderA.accepted.size(), 6u);
    EXPECT_TRUE(builderB.accepted.empty());
}

TEST(SavedResult, WriterStoppedMidwayReportsAnIncompleteFrame) {
    TempDir dir;
    Tree tree;
    TestNode* root = MakeThreeNodeTree(tree);
    CRSData rs(RS_MODE_WRITE);
    const std::string path = (dir.path() / "stop.rsf").string();
    ASSERT_TRUE(rs.StartRS(path.c_str(), 1));
    int calls = 0;
    EXPECT_FALSE(WriteNodeTrees(rs, {{root, {}}}, [&] { return ++calls < 3; }, nullptr));
    rs.EndRS();
}

// The golden file's layout, from the format: where the hostile patches go.
namespace at {
constexpr size_t kFrame1Data = kRSHeaderSize + kRSFrameHeaderSize;  // 168
constexpr size_t kFrame2Header = kFrame1Data + 12;
constexpr size_t kFrame2Data = kFrame2Header + kRSFrameHeaderSize;
constexpr size_t kDeviceNameLength = kFrame2Data + 20;
constexpr size_t kDmgSize = kDeviceNameLength + 4 + 9 + 4;
constexpr size_t kFrame3Header = kFrame2Data + 49;
constexpr size_t kFrame3Size = kFrame3Header + 32;
constexpr size_t kFrame3Data = kFrame3Header + kRSFrameHeaderSize;
constexpr size_t kRootMarker = kFrame3Data + 8;
constexpr size_t kRootRecord = kRootMarker + 4;
constexpr size_t kSearcherType = kRootRecord + 88;
constexpr size_t kVolumeLength = kSearcherType + 4;
constexpr size_t kPartitionCount = kVolumeLength + 4 + 3;
constexpr size_t kPartitionKind = kPartitionCount + 4;
constexpr size_t kFirstNodeMarker = kPartitionKind + 4 + 104;
constexpr size_t kFirstNode = kFirstNodeMarker + 4;
constexpr size_t kFirstRunCount = kFirstNode + 58;
constexpr size_t kFirstNameLength = kFirstNode + 66;
}  // namespace at

struct HostileCase {
    std::string name;
    std::function<void(std::string&)> damage;
    u32 code;
    std::string field;
};

TEST(SavedResult, HostileFilesAreRefusedWithTheirCodeAndField) {
    testsupport::ScopedWorkDir work;
    TempDir dir;
    const std::string golden = ReadHexFile(BRELVOX_FIXTURE_DIR "/saved-result/three-nodes.hex");
    ASSERT_GT(golden.size(), at::kFirstNameLength);
    {
        const std::string path = (dir.path() / "golden.rsf").string();
        WriteFile(path, golden);
        auto good = Load(path);
        ASSERT_EQ(good->code, 0u) << good->field;
        ASSERT_EQ(good->builder.accepted.size(), 3u);
    }
    auto patch32 = [](size_t offset, u32 v) { return [=](std::string& b) { PutInto(b).Le32(offset, v); }; };
    auto cut = [](size_t length) { return [=](std::string& b) { b.resize(length); }; };
    std::vector<HostileCase> cases = {
        {"damaged header checksum", [](std::string& b) { b[20] ^= 1; }, 3, "file header"},
        {"status 0", patch32(24, 0), 3, "file header"},
        {"no frames", cut(kRSHeaderSize), 4, "frame 1 (scan kind)"},
        {"frame 1 header only", cut(at::kFrame1Data), 4, "frame 1 (scan kind)"},
        {"frame-1 length 9", patch32(at::kFrame1Data, 9), 4, "frame-1 length"},
        {"controller type 4", patch32(at::kFrame1Data + 4, 4), 4, "controller type"},
        {"no frame 2", cut(at::kFrame2Header), 5, "frame 2 (device)"},
        {"frame 2 cut", cut(at::kFrame2Data + 10), 5, "frame 2 (device)"},
        {"device name 4096", patch32(at::kDeviceNameLength, 4096), 5, "device name length"},
        {"M = 0x7FFFFFFF", patch32(at::kDmgSize, 0x7FFFFFFF), 5, "image record size"},
        {"M = 2087", patch32(at::kDmgSize, 2087), 5, "image record size"},
        {"no frame 3", cut(at::kFrame3Header), 5, "frame 3 (nodes)"},
        {"frame 3 header only", cut(at::kFrame3Data), 5, "frame 3 (nodes)"},
        {"frame 3 cut before its end", cut(golden.size() - 1), 5, "frame 3 (nodes)"},
        {"frame size past the file end", patch32(at::kFrame3Size, 0x7FFFFFFF), 5, "frame 3 (nodes)"},
        {"root count huge", patch32(at::kFrame3Data + 4, 1), 5, "root count"},
        {"marker 2", patch32(at::kRootMarker, 2), 5, "root marker"},
        {"searcher type 7", patch32(at::kSearcherType, 7), 5, "searcher type"},
        {"V = 600", patch32(at::kVolumeLength, 600), 5, "volume name length"},
        {"P = 513", patch32(at::kPartitionCount, 513), 5, "partition count"},
        {"kind 7", patch32(at::kPartitionKind, 7), 5, "partition kind"},
        {"node marker 2", patch32(at::kFirstNodeMarker, 2), 5, "node marker"},
        {"K = 70000", patch32(at::kFirstRunCount, 70000), 5, "run count"},
        {"L = 70000", patch32(at::kFirstNameLength, 70000), 5, "name length"},
    };
    // Frame 3 cut short at every length, the file ending with it: every field's end is met once.
    const u32 frame3 = ByteReader(golden.data(), golden.size()).Le32(at::kFrame3Size).value_or(0);
    for (u32 n = 0; n < frame3; ++n) {
        cases.push_back({"frame 3 of " + std::to_string(n) + " bytes",
                         [n](std::string& b) {
                             PutInto(b).Le32(at::kFrame3Size, n);
                             b.resize(at::kFrame3Data + n);
                         },
                         5, ""});
    }
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = golden;
        c.damage(bytes);
        const std::string path = (dir.path() / "hostile.rsf").string();
        WriteFile(path, bytes);
        const auto start = std::chrono::steady_clock::now();
        auto loaded = Load(path);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(loaded->code, c.code);
        if (!c.field.empty()) {
            EXPECT_EQ(loaded->field, c.field);
        }
        EXPECT_FALSE(loaded->field.empty());
    }
    // Every refusal was logged with its field.
    const std::string log = ReadFile(CatchExeception::Instance()->GetLogFilePath());
    for (const char* field : {"frame-1 length", "partition count", "run count", "volume name length"})
        EXPECT_NE(log.find(field), std::string::npos) << field;
}

TEST(SavedResult, DeviceNameOf4096BytesIsRefused) {
    TempDir dir;
    const std::string path = (dir.path() / "name.rsf").string();
    {
        CRSData rs(RS_MODE_WRITE);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 1));
        FILEHEADER h;
        h.status = 1;
        rs.WriteFileHeader(h);
        WriteScanKind(rs, {0, 0});
        rs.OpenFrame(_frDiskDevice);
        SavedFrameWriter w(rs);
        w.U64(1 << 20);
        w.I32(0), w.I32(-1), w.I32(-1);
        w.U32(4096);
        w.Bytes(std::string(4096, 'n').data(), 4096);
        w.U32(0), w.U32(kAbsentBlock), w.U32(0), w.U32(kAbsentBlock);
        w.Flush();
        rs.CloseFrame();
        rs.EndRS();
    }
    auto loaded = Load(path);
    EXPECT_EQ(loaded->code, 5u);
    EXPECT_EQ(loaded->field, "device name length");
    EXPECT_EQ(loaded->offset, static_cast<i64>(at::kDeviceNameLength));
}

// Only the destination remains in the folder (no temporary file is left behind).
std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    return names;
}

TEST(SavedResult, FailedOrStoppedSaveKeepsTheOldFileAndAnswersItsCode) {
    TempDir dir;
    Tree tree;
    TestNode* root = MakeThreeNodeTree(tree);
    TestNode* big = tree.Add(root, 30, "big", 0);
    std::vector<DataRun> runs;
    for (i64 i = 0; i < 20000; ++i) runs.push_back({i * 2, 1});
    big->AddRuns(runs);  // about 320 KB of runs
    const std::string path = (dir.path() / "result.rsf").string();
    WriteFile(path, "the old result");
    const std::vector<SavedRoot> roots{{root, {}}};

    // The file may not grow past 64 KiB: the write fails midway.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const u32 failed = SaveScanResultFile(path, {0, 0}, WholeDisk(), roots, [] { return true; }, nullptr);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(failed, kCodeSaveFailed);
    EXPECT_EQ(ReadFile(path), "the old result");
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"result.rsf"});

    // A save stopped before its end is not kept either.
    int calls = 0;
    EXPECT_EQ(SaveScanResultFile(path, {0, 0}, WholeDisk(), roots, [&] { return ++calls < 3; }, nullptr),
              kCodeSaveFailed);
    EXPECT_EQ(ReadFile(path), "the old result");
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"result.rsf"});

    // A folder that does not exist.
    EXPECT_EQ(SaveScanResultFile((dir.path() / "none" / "r.rsf").string(), {0, 0}, WholeDisk(), roots,
                                 [] { return true; }, nullptr),
              kCodeSaveFailed);

    // A complete save replaces the old file and loads; each root and node is one step.
    int steps = 0;
    EXPECT_EQ(SaveScanResultFile(path, {0, 0}, WholeDisk(), roots, [] { return true; }, [&] { ++steps; }), 0u);
    EXPECT_EQ(steps, 1 + 4);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"result.rsf"});
    auto loaded = Load(path);
    EXPECT_EQ(loaded->code, 0u) << loaded->field;
    EXPECT_EQ(loaded->builder.accepted.size(), 4u);
}

TEST(SavedResult, TheLoadThreadEndsWithEachCodeOfItsTable) {
    testsupport::ScopedWorkDir work;
    testsupport::FakeClock clock;
    testsupport::ScopedBridgeClock useClock(&clock);
    TempDir dir;
    KXUIDeviceData::Config config;
    config.enumerator = testsupport::FakeEnumeratorFactory({}, 0);
    KXUIDeviceData model(config);
    const std::string golden = ReadHexFile(BRELVOX_FIXTURE_DIR "/saved-result/three-nodes.hex");
    auto file = [&](const std::string& name, std::function<void(std::string&)> damage) {
        std::string bytes = golden;
        if (damage) damage(bytes);
        const std::string path = (dir.path() / name).string();
        WriteFile(path, bytes);
        return path;
    };
    // An EDI result whose image cannot be opened.
    const std::string ediPath = (dir.path() / "edi.rsf").string();
    {
        Tree tree;
        SavedDevice device = WholeDisk();
        device.isEdi = 1;
        device.ediInfo = std::vector<u8>(kEdiBlockSize, 0);
        Save(ediPath, {1, 1}, device, {{MakeThreeNodeTree(tree), {}}});
    }
    struct Case {
        std::string path;
        i64 code;
    } cases[] = {
        {(dir.path() / "missing.rsf").string(), 2},
        {file("header.rsf", [](std::string& b) { b[20] ^= 1; }), 3},
        {file("frame1.rsf", [](std::string& b) { PutInto(b).Le32(at::kFrame1Data, 9); }), 4},
        {file("frame2.rsf", [](std::string& b) { PutInto(b).Le32(at::kDmgSize, 0x7FFFFFFF); }), 5},
        {ediPath, 6},
        {file("good.rsf", nullptr), 7},  // "Test Disk" is not attached
    };
    {
        // The load first waits one second on the bridge clock.
        RecordingProgress sink;
        std::thread load([&] {
            SaveRestoreResult::Static_RestoreScanResult(cases[0].path, &sink, "", KXUIScan::instance(), model);
        });
        while (clock.Sleepers() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(sink.RecordCount(), 0u);
        clock.Advance(std::chrono::milliseconds(999));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(sink.RecordCount(), 0u);
        clock.Advance(std::chrono::milliseconds(1));
        load.join();
        EXPECT_EQ(sink.Last().errorCode, 2);
    }
    clock.Release();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        RecordingProgress sink;
        SaveRestoreResult::Static_RestoreScanResult(c.path, &sink, "", KXUIScan::instance(), model);
        EXPECT_EQ(sink.Last().status, PROGRESS_FINISHED);
        EXPECT_EQ(sink.Last().errorCode, c.code);
        EXPECT_EQ(sink.Last().current, 100u);
        for (const _PROGRESS_INFO& r : sink.Records()) {
            if (r.status == PROGRESS_RUNNING) {
                EXPECT_LE(r.current, 98u);
            }
        }
    }
}

}  // namespace
