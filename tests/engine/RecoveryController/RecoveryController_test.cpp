#include "engine/RecoveryController/CompleteRecoveryController.h"

#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/Common/IRecoveryFilter.h"
#include "engine/Common/RestoreScanSink.h"
#include "engine/DataRecovery/DataRecovery.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/RecoveryController/DeletedRecoveryController.h"
#include "engine/RecoveryController/RecoveryControllerCodes.h"
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/RecoveryController/SourceFlush.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "engine/Utility/DataRunList.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/FakeSearchers.h"
#include "support/LoopDevice.h"
#include "support/MemoryDevice.h"
#include "support/RecordingProgress.h"
#include "support/RecordingTree.h"
#include "support/SimpleFileNode.h"
#include "support/TempDir.h"

namespace {

using testsupport::CallLog;
using testsupport::FakeDeepSearcher;
using testsupport::FakeQuickSearcher;
using testsupport::MemoryDevice;

// What the fake factories hand out; the controller owns and deletes what it receives.
struct Context {
    CallLog log;
    std::vector<std::string> deepMissing;  // names whose factory returns null
    u64 quickCode = 0;
    std::vector<std::vector<u8>> blocksSeenByRaw;
    std::vector<i64> rawBlockStarts;
    FakeDeepSearcher* fat = nullptr;
};
Context* g_ctx = nullptr;

bool Missing(const std::string& name) {
    for (const std::string& m : g_ctx->deepMissing)
        if (m == name) return true;
    return false;
}

template <const char* Name>
ICompleteFileSystemSearchController* MakeDeep() {
    if (Missing(Name)) return nullptr;
    auto* searcher = new FakeDeepSearcher(Name, &g_ctx->log);
    g_ctx->log.Add(std::string(Name) + ":create");
    if (std::string(Name) == "raw") {
        searcher->onBlock = [](i64 first, i64, const std::vector<u8>& bytes) {
            g_ctx->rawBlockStarts.push_back(first);
            g_ctx->blocksSeenByRaw.push_back(bytes);
        };
    }
    if (std::string(Name) == "fat") g_ctx->fat = searcher;
    return searcher;
}

template <const char* Name>
IQuickFileSystemSearchController* MakeQuick() {
    return new FakeQuickSearcher(Name, &g_ctx->log, g_ctx->quickCode);
}

constexpr char kHfs[] = "hfs+", kExfat[] = "exfat", kFat[] = "fat", kRaw[] = "raw", kNtfs[] = "ntfs", kApfs[] = "apfs";
constexpr char kFatQ[] = "fat-quick", kExfatQ[] = "exfat-quick", kNtfsQ[] = "ntfs-quick", kHfsQ[] = "hfs+-quick";

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_ctx = &ctx;
        saved = Searchers();
        Searchers() = SearcherFactories{MakeQuick<kFatQ>,   MakeQuick<kExfatQ>, MakeQuick<kNtfsQ>, MakeQuick<kHfsQ>,
                                        CreateAPFSQuickSearcher, MakeDeep<kHfs>, MakeDeep<kExfat>,  MakeDeep<kFat>,
                                        MakeDeep<kRaw>,     MakeDeep<kNtfs>,    MakeDeep<kApfs>};
        filter = CreateFilter();
        filter->SetFilterTypes(FILTER_ALL);
    }
    void TearDown() override {
        Searchers() = saved;
        g_ctx = nullptr;
    }

    // A 20,000-sector image of 512-byte sectors with bytes that tell their offsets apart.
    std::unique_ptr<IStorageDevice> Image(i64 sectors = 20000) {
        std::string bytes(size_t(sectors) * 512, '\0');
        for (size_t i = 0; i < bytes.size(); i += 4) std::memcpy(&bytes[i], &i, 4);
        imageBytes = bytes;
        testsupport::WriteFile(dir / "disk.img", bytes);
        std::unique_ptr<IStorageDevice> device(CreateDiskDevice((dir / "disk.img").c_str()));
        EXPECT_TRUE(device && device->Open((dir / "disk.img").c_str()));
        return device;
    }

    Context ctx;
    SearcherFactories saved;
    IRecoveryFilter* filter = nullptr;
    testsupport::RecordingTree tree;
    testsupport::TempDir dir;
    std::string imageBytes;
};

std::vector<std::string> Expected(std::initializer_list<const char*> names, const std::string& call) {
    std::vector<std::string> out;
    for (const char* n : names) out.push_back(std::string(n) + ":" + call);
    return out;
}

TEST_F(ControllerTest, DeepPassBlocksOrderAndProgress) {
    auto device = Image();
    testsupport::RecordingProgress progress;
    IRecoveryController* controller = CreateRecoveryController(RECOVERY_CONTROLLER_COMPLETE);
    ASSERT_EQ(controller->thisType(), RECOVERY_CONTROLLER_COMPLETE);
    ASSERT_EQ(controller->Initialize(filter), 1);
    ASSERT_EQ(controller->StartDataRecovery(device.get(), &progress, &tree), 0u);

    const auto all = {kHfs, kExfat, kFat, kRaw, kNtfs, kApfs};
    EXPECT_EQ(ctx.log.Calls("create"), Expected(all, "create"));
    std::vector<std::string> blocks;
    for (const char* block : {"AnalyzeBlock(0,8192)", "AnalyzeBlock(8192,8192)", "AnalyzeBlock(16384,3616)"}) {
        for (const std::string& line : Expected(all, block)) blocks.push_back(line);
    }
    EXPECT_EQ(ctx.log.Calls("AnalyzeBlock"), blocks);
    EXPECT_EQ(ctx.log.Calls("SetBlockSize"), Expected(all, "SetBlockSize(8192)"));
    EXPECT_EQ(ctx.log.Calls("PreparetoSearch"), Expected(all, "PreparetoSearch"));
    EXPECT_EQ(ctx.log.Calls("EndSearch"), Expected(all, "EndSearch(1)"));
    EXPECT_EQ(ctx.log.Calls("SetFileSectorMap"), (std::vector<std::string>{"fat:SetFileSectorMap", "raw:SetFileSectorMap"}));
    EXPECT_EQ(ctx.log.Calls("SetIProgressSink"), (std::vector<std::string>{"hfs+:SetIProgressSink", "raw:SetIProgressSink"}));
    EXPECT_TRUE(ctx.log.Calls("SetActivePartition").empty()) << "a disk, not an HFS+ volume";

    // Each block's bytes, read through the cache, are the image's.
    ASSERT_EQ(ctx.blocksSeenByRaw.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const std::vector<u8>& seen = ctx.blocksSeenByRaw[i];
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(std::memcmp(seen.data(), imageBytes.data() + ctx.rawBlockStarts[i] * 512, seen.size()), 0);
    }

    const std::vector<_PROGRESS_INFO> records = progress.Records();
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].status, u32(PROGRESS_RUNNING));
    EXPECT_EQ(records[1].status, u32(PROGRESS_FIRST_BLOCK));
    EXPECT_EQ(records[1].total, 4u);
    std::vector<u64> positions;
    for (size_t i = 2; i < 5; ++i) {
        EXPECT_EQ(records[i].status, u32(PROGRESS_RUNNING));
        positions.push_back(records[i].current);
    }
    EXPECT_EQ(positions, (std::vector<u64>{0, 1, 2}));  // 0.8, 1.6, 2.4 cut to integers
    EXPECT_EQ(records[5].status, u32(PROGRESS_FINISHED));
    controller->Release();
    EXPECT_EQ(ctx.log.Calls("delete").size(), 6u);
}

TEST_F(ControllerTest, StopMidPassSkipsTheRestAndTheRawEnd) {
    auto device = Image();
    testsupport::RecordingProgress progress;
    progress.StopAfter(2);  // blocks 0 and 1 go on, block 2 is never read
    CCompleteRecoveryController controller;
    controller.Initialize(filter);
    ASSERT_EQ(controller.StartDataRecovery(device.get(), &progress, &tree), 0u);
    EXPECT_EQ(ctx.log.Calls("AnalyzeBlock").size(), 12u);
    EXPECT_EQ(ctx.log.Calls("EndSearch"), Expected({kHfs, kExfat, kFat, kNtfs, kApfs}, "EndSearch(1)"));
    EXPECT_EQ(progress.Last().status, u32(PROGRESS_FINISHED));
}

TEST_F(ControllerTest, PauseWaitsInTheProgressSink) {
    auto device = Image(9000);
    testsupport::RecordingProgress progress;
    progress.PauseFor(std::chrono::milliseconds(60));
    progress.SetShouldBuild(0);
    CCompleteRecoveryController controller;
    controller.Initialize(filter);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(controller.StartDataRecovery(device.get(), &progress, &tree), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    EXPECT_EQ(ctx.log.Calls("AnalyzeBlock").size(), 12u) << "two blocks, every searcher, after the pause";
    EXPECT_EQ(ctx.log.Calls("EndSearch"), Expected({kHfs, kExfat, kFat, kRaw, kNtfs, kApfs}, "EndSearch(0)"));
}

TEST_F(ControllerTest, AbsentSearchersAndArgumentRefusals) {
    auto device = Image(100);
    testsupport::RecordingProgress progress;
    ctx.deepMissing = {kHfs, kRaw, kApfs};
    {
        CCompleteRecoveryController controller;
        controller.Initialize(filter);
        ASSERT_EQ(controller.StartDataRecovery(device.get(), &progress, &tree), 0u);
        EXPECT_EQ(ctx.log.Calls("AnalyzeBlock"), Expected({kExfat, kFat, kNtfs}, "AnalyzeBlock(0,100)"));
    }
    ctx.deepMissing = {kHfs, kExfat, kFat, kRaw, kNtfs, kApfs};
    CCompleteRecoveryController none;
    none.Initialize(filter);
    EXPECT_EQ(none.StartDataRecovery(device.get(), &progress, &tree), controllercode::kDeepNoSearcher);
    EXPECT_EQ(none.StartDataRecovery(nullptr, &progress, &tree), controllercode::kDeepBadArguments);
    EXPECT_EQ(none.SearchData(0, 10, &progress), controllercode::kPassBadArguments) << "no cache";
    EXPECT_EQ(none.Initialize(nullptr), 0);
    EXPECT_EQ(CreateRecoveryController(_RECOVERY_CONTROLLER_TYPE(7)), nullptr);
    IRecoveryController* partition = CreateRecoveryController(RECOVERY_CONTROLLER_PARTITION);
    EXPECT_EQ(partition->thisType(), RECOVERY_CONTROLLER_PARTITION);
    partition->Release();
}

TEST(ControllerBlocks, BlockSectorsBySectorSize) {
    EXPECT_EQ(CCompleteRecoveryController::BlockSectors(512), 8192);
    EXPECT_EQ(CCompleteRecoveryController::BlockSectors(4096), 1024);
    EXPECT_EQ(CCompleteRecoveryController::BlockSectors(0), 8192);
    EXPECT_EQ(CCompleteRecoveryController::BlockSectors(8 * 1024 * 1024), 8192);
}

IStorageDevice* Volume(u32 fileSystemType, u32 type = STORAGE_DEVICE_VOLUME) {
    auto* device = new MemoryDevice(i64(64), 512, type);
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = fileSystemType;
    std::strcpy(record->volumeName, "Stick");
    device->SetPrivateData(CreateVolumeDeviceData(record));
    return device;
}

TEST_F(ControllerTest, QuickScanRoutesByFileSystem) {
    struct Case {
        u32 fileSystem;
        const char* searcher;  // null: none
    };
    const Case cases[] = {{FILE_SYSTEM_FAT12, kFatQ}, {FILE_SYSTEM_FAT16, kFatQ},   {FILE_SYSTEM_FAT32, kFatQ},
                          {FILE_SYSTEM_NTFS, kNtfsQ}, {FILE_SYSTEM_EXFAT, kExfatQ}, {FILE_SYSTEM_HFSPLUS, kHfsQ},
                          {FILE_SYSTEM_APFS, nullptr}, {4, nullptr},                {FILE_SYSTEM_UNKNOWN, nullptr}};
    for (const Case& c : cases) {
        ctx.log.Clear();
        std::unique_ptr<IStorageDevice> device(Volume(c.fileSystem));
        testsupport::RecordingProgress progress;
        CDeletedRecoveryController controller;
        controller.Initialize(filter);
        const u64 code = controller.StartDataRecovery(device.get(), &progress, &tree);
        if (c.searcher) {
            EXPECT_EQ(code, 0u) << c.fileSystem;
            EXPECT_EQ(ctx.log.Calls("QuickSearchFiles"), (std::vector<std::string>{std::string(c.searcher) + ":QuickSearchFiles"}));
        } else {
            EXPECT_EQ(code, controllercode::kQuickNoSearcher) << c.fileSystem;
            EXPECT_TRUE(ctx.log.Calls("QuickSearchFiles").empty());
            EXPECT_EQ(progress.Last().status, u32(PROGRESS_FINISHED)) << "a finished record on the no-searcher path";
            EXPECT_EQ(progress.Last().current, 1u);
        }
    }
}

TEST_F(ControllerTest, QuickScanPassesTheSearcherResultOn) {
    const u64 unreadable = result::Make(0x0a, 0x77, 1);
    ctx.quickCode = unreadable;
    std::unique_ptr<IStorageDevice> device(Volume(FILE_SYSTEM_FAT32));
    testsupport::RecordingProgress progress;
    CDeletedRecoveryController controller;
    controller.Initialize(filter);
    EXPECT_EQ(controller.StartDataRecovery(device.get(), &progress, &tree), unreadable);

    std::unique_ptr<IStorageDevice> disk(Volume(FILE_SYSTEM_FAT32, STORAGE_DEVICE_DISK));
    EXPECT_EQ(controller.StartDataRecovery(disk.get(), &progress, &tree), controllercode::kQuickWholeDisk);
    EXPECT_EQ(controller.StartDataRecovery(nullptr, &progress, &tree), controllercode::kQuickBadArguments);
    CDeletedRecoveryController noFilter;
    EXPECT_EQ(noFilter.StartDataRecovery(device.get(), &progress, &tree), controllercode::kQuickBuilderRefused);
}

// The data-recovery object of a searcher type copies that searcher's found file end to end.
TEST_F(ControllerTest, DataRecoveryPerSearcherType) {
    auto device = Image();
    testsupport::RecordingProgress progress;
    CCompleteRecoveryController controller;
    controller.Initialize(filter);
    ASSERT_EQ(controller.StartDataRecovery(device.get(), &progress, &tree), 0u);
    auto* record = new CSearchedPartitionInfo(512);
    record->m_partitionIndex = 0;
    record->m_sectorsPerCluster = 4;
    record->m_cluster0Sector = 100;
    ctx.fat->AddPartition(record);
    EXPECT_EQ(controller.GetDataRecovery(SEARCHER_EXFAT), nullptr) << "a searcher without partitions";
    EXPECT_EQ(controller.GetDataRecovery(SEARCHER_RAW_TAG), nullptr) << "no such searcher";
    IDataRecovery* recovery = controller.GetDataRecovery(SEARCHER_FAT);
    ASSERT_NE(recovery, nullptr);
    testsupport::SimpleFileNode node(5, 2, "found.bin", false, 3 * 2048 + 77);
    node.SetBelongedPartition(0);
    IDataRunList* runs = CreateDataRunList();
    runs->AddDataRun(DataRun{10, 2});
    runs->AddDataRun(DataRun{30, 2});
    node.SetDataRunList(runs);
    IFileReader* reader = recovery->SetRecoverNode(&node);
    ASSERT_NE(reader, nullptr);
    reader->Release();
    ASSERT_EQ(recovery->RecoverTo((dir / "found.bin").c_str(), nullptr, 0), 0u);
    const std::string expected = imageBytes.substr((100 + 10 * 4) * 512, 2 * 2048) +
                                 imageBytes.substr((100 + 30 * 4) * 512, 2048 + 77);
    EXPECT_TRUE(testsupport::ReadFile(dir / "found.bin") == expected);
    recovery->Release();
}

class FakeRestoreSink : public RestoreScanSink {
public:
    u64 SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress*, IStorageDevice*) override {
        ++replays;
        return builder ? 0 : 1;
    }
    std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int type) override {
        lastType = type;
        return records;
    }
    int replays = 0;
    int lastType = 0;
    std::vector<CSearchedPartitionInfo*> records;
};

TEST_F(ControllerTest, RestoreSinkReplacesThePass) {
    auto device = Image(100);
    testsupport::RecordingProgress progress;
    FakeRestoreSink sink;
    CSearchedPartitionInfo saved(512);
    saved.m_sectorsPerCluster = 8;
    sink.records.push_back(&saved);
    CCompleteRecoveryController controller;
    controller.Initialize(filter);
    controller.SetRestoreSink(&sink);
    ASSERT_EQ(controller.StartDataRecovery(device.get(), &progress, &tree), 0u);
    EXPECT_EQ(sink.replays, 1);
    EXPECT_TRUE(ctx.log.Calls("PreparetoSearch").empty());
    EXPECT_TRUE(ctx.log.Calls("AnalyzeBlock").empty());
    IDataRecovery* recovery = controller.GetDataRecovery(SEARCHER_NTFS);
    ASSERT_NE(recovery, nullptr);
    EXPECT_EQ(sink.lastType, int(SEARCHER_NTFS));
    EXPECT_EQ(static_cast<CDataRecovery*>(recovery)->GetPartitionCount(), 1u);
    recovery->Release();
}

// The node a scan's flush looks up: a device node read directly, through a partition window or through
// the read-ahead cache; none for a device in memory.
TEST_F(ControllerTest, SourceNodeOfEachKindOfDevice) {
    auto disk = Image();
    const std::string path = (dir / "disk.img").string();
    std::unique_ptr<IStorageDevice> partition(CreatePartitionDevice(disk.get(), 100, 1000));
    CStorageDeviceWithCache cache(partition.get());
    MemoryDevice memory(i64(64), 512, STORAGE_DEVICE_DISK);
    EXPECT_EQ(SourceNodeOf(disk.get()), path);
    EXPECT_EQ(SourceNodeOf(partition.get()), path);
    EXPECT_EQ(SourceNodeOf(&cache), path);
    EXPECT_EQ(SourceNodeOf(&memory), "");
    EXPECT_EQ(SourceNodeOf(nullptr), "");
    EXPECT_EQ(FlushMountedFileSystems(disk.get()), 0) << "an image file has no mounted file system";
}

// A file just written to a volume mounted from the scanned loop device is on the device when the
// searchers read it: the quick scan (a volume device) and the deep scan (the disk) flush that volume.
TEST_F(ControllerTest, ScansSeeWhatWasJustWrittenToAMountedVolume) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a loop device";
    const std::filesystem::path image = dir / "volume.img";
    testsupport::WriteFile(image, "");
    std::filesystem::resize_file(image, 16 << 20);
    const std::string mkfs = "mkfs.ext4 -q -F '" + image.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(mkfs.c_str()), 0) << mkfs;
    testsupport::LoopDevice loop(image, 512, false);
    if (loop.empty()) GTEST_SKIP() << "no loop device";
    const std::filesystem::path mountPoint = dir / "mnt";
    std::filesystem::create_directories(mountPoint);
    ASSERT_EQ(::mount(loop.Device().c_str(), mountPoint.c_str(), "ext4", 0, nullptr), 0) << std::strerror(errno);
    // Unmounted before the loop device is detached, whatever fails below.
    const std::unique_ptr<const char, void (*)(const char*)> mounted(mountPoint.c_str(),
                                                                     [](const char* at) { ::umount2(at, MNT_DETACH); });
    auto pattern = [](const char* word) {
        std::string bytes(64 * 1024, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = word[i % std::strlen(word)];
        return bytes;
    };

    // Quick: the searcher reads the volume's node when it starts.
    const std::string quickMarker = pattern("written-before-the-quick-scan;");
    testsupport::WriteFile(mountPoint / "quick.bin", quickMarker);
    static std::string node, seenByQuick;
    node = loop.Device();
    seenByQuick.clear();
    Searchers().fatQuick = [] {
        auto* searcher = new FakeQuickSearcher(kFatQ, &g_ctx->log, 0);
        searcher->onSearch = [](IDirecotryTreeBuilder*) { seenByQuick = testsupport::ReadFile(node); };
        return static_cast<IQuickFileSystemSearchController*>(searcher);
    };
    std::unique_ptr<IStorageDevice> volume(CreateVolumeDevice(loop.Device().c_str()));
    ASSERT_TRUE(volume && volume->Open(loop.Device().c_str()));
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = FILE_SYSTEM_FAT32;
    volume->SetPrivateData(CreateVolumeDeviceData(record));
    {
        testsupport::RecordingProgress progress;
        CDeletedRecoveryController controller;
        controller.Initialize(filter);
        ASSERT_EQ(controller.StartDataRecovery(volume.get(), &progress, &tree), 0u);
    }

    // Deep: the raw searcher's blocks come from the disk through the read-ahead cache.
    const std::string deepMarker = pattern("written-before-the-deep-scan;");
    testsupport::WriteFile(mountPoint / "deep.bin", deepMarker);
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(loop.Device().c_str()));
    ASSERT_TRUE(disk && disk->Open(loop.Device().c_str()));
    {
        testsupport::RecordingProgress progress;
        CCompleteRecoveryController controller;
        controller.Initialize(filter);
        ASSERT_EQ(controller.StartDataRecovery(disk.get(), &progress, &tree), 0u);
    }
    std::string seenByDeep;
    for (const std::vector<u8>& block : ctx.blocksSeenByRaw) seenByDeep.append(block.begin(), block.end());

    EXPECT_EQ(seenByQuick.size(), size_t(16) << 20);
    EXPECT_NE(seenByQuick.find(quickMarker), std::string::npos) << "the quick scan read the volume before the write";
    EXPECT_EQ(seenByDeep.size(), size_t(16) << 20);
    EXPECT_NE(seenByDeep.find(deepMarker), std::string::npos) << "the deep scan read the disk before the write";
}

}  // namespace

// A whole disk is scanned volume by volume through one controller: the searchers (and builders) of the
// earlier volumes stay until the controller goes, since their nodes stay in the results.
TEST(ControllerVolumes, EarlierVolumesKeepTheirSearchersUntilTheControllerGoes) {
    Context context;
    g_ctx = &context;
    const SearcherFactories saved = Searchers();
    Searchers().fatQuick = MakeQuick<kFatQ>;
    Searchers().ntfsQuick = MakeQuick<kNtfsQ>;
    IRecoveryFilter* filter = CreateFilter();
    filter->SetFilterTypes(FILTER_ALL);
    testsupport::RecordingTree tree;
    {
        CDeletedRecoveryController controller;
        controller.Initialize(filter);
        testsupport::RecordingProgress progress;
        for (u32 fileSystem : {FILE_SYSTEM_FAT32, FILE_SYSTEM_NTFS, FILE_SYSTEM_FAT32}) {
            std::unique_ptr<IStorageDevice> device(Volume(fileSystem));
            EXPECT_EQ(controller.StartDataRecovery(device.get(), &progress, &tree), 0u);
        }
        EXPECT_TRUE(context.log.Calls("delete").empty()) << "no searcher freed while the controller lives";
    }
    EXPECT_EQ(context.log.Calls("delete").size(), 3u);
    filter->Release();
    Searchers() = saved;
    g_ctx = nullptr;
}
