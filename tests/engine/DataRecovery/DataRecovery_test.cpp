#include "engine/DataRecovery/DataRecovery.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/DataRecovery/DataRecoveryCodes.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/StorageDevice/KXReadAsyncData.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/NTFSLib/CompressFileReader.h"
#include "engine/Utility/DataRunList.h"
#include "support/CompressedNtfsFixture.h"
#include "support/FakeSearchers.h"
#include "support/MemoryDevice.h"
#include "support/RecordingProgress.h"
#include "support/Sha256.h"
#include "support/SimpleFileNode.h"
#include "support/StuckRead.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "support/WorkDir.h"

namespace {

using namespace std::chrono_literals;
using testsupport::MemoryDevice;
using testsupport::SimpleFileNode;

constexpr u32 kSector = 512;
constexpr u32 kSpc = 8;
constexpr u32 kCluster = kSector * kSpc;
constexpr i64 kMiB = 1024 * 1024;

_FILETIME FromUnix(i64 seconds) { return (seconds + 11644473600LL) * 10000000LL; }

i64 MtimeOf(const std::filesystem::path& p) {
    struct stat st {};
    if (stat(p.c_str(), &st) != 0) return -1;
    return st.st_mtim.tv_sec;
}

void SetMtime(const std::filesystem::path& p, i64 seconds) {
    const timespec t[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), t, 0), 0);
}

std::vector<u8> Pattern(size_t n, u32 seed) {
    std::vector<u8> bytes(n);
    u32 x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = u8(x >> 24);
    }
    return bytes;
}

IDataRunList* Runs(std::initializer_list<DataRun> runs) {
    IDataRunList* list = CreateDataRunList();
    for (const DataRun& r : runs) list->AddDataRun(&r);
    return list;
}

std::string Model(const std::vector<u8>& device, std::initializer_list<DataRun> runs, i64 size) {
    std::string out;
    for (const DataRun& r : runs) {
        if (r.start < 0) {
            out.append(size_t(r.length * kCluster), '\0');
            continue;
        }
        out.append(reinterpret_cast<const char*>(device.data() + r.start * kCluster), size_t(r.length * kCluster));
    }
    out.resize(size_t(size), '\0');
    return out;
}

CSearchedPartitionInfo* Record(i16 index, double weight = 0, u32 spc = kSpc) {
    auto* record = new CSearchedPartitionInfo(kSector);
    record->m_partitionIndex = index;
    record->m_sectorsPerCluster = spc;
    record->m_weight = weight;
    record->m_totalSectors = 1 << 20;
    return record;
}

// Pauses on a write-wait record like the recovery operation does; while paused, Continued() calls
// the resume action (freeing space) and goes on.
class PausingSink : public IProgress {
public:
    std::function<void()> onPause;
    std::vector<_PROGRESS_INFO> records;
    int pauses = 0;
    bool paused = false;

    int UpdateProgress(_PROGRESS_INFO* record) override {
        records.push_back(*record);
        if ((u64(record->errorCode) & 0xFFFFFFFF) == 0xD03) paused = true;
        return 1;
    }
    int Continued() override {
        if (paused) {
            ++pauses;
            if (onPause) onPause();
            paused = false;
        }
        return 1;
    }
    int shouldBuild() override { return 1; }
};

// A file-size limit for this process, with SIGXFSZ ignored so that writes past it fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = signal(SIGXFSZ, SIG_IGN);
        Set(bytes);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        signal(SIGXFSZ, m_oldHandler);
    }
    void Set(rlim_t bytes) {
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    void Lift() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved{};
    sighandler_t m_oldHandler;
};

class DataRecoveryTest : public ::testing::Test {
protected:
    DataRecoveryTest() : bytes(Pattern(12 * kMiB, 5)), device(bytes, kSector) {}

    void SetUp() override {
        searcher.AddPartition(Record(0));
        recovery = static_cast<CDataRecovery*>(CreateDataRecoveryObj());
        ASSERT_EQ(recovery->Initialize(&searcher, &device), 0u);
    }
    void TearDown() override { recovery->Release(); }

    SimpleFileNode* File(i64 size, IDataRunList* runs, i64 createdUnix = 0) {
        nodes.push_back(std::make_unique<SimpleFileNode>(i64(nodes.size()) + 10, 0, "file", false, size));
        SimpleFileNode* node = nodes.back().get();
        node->SetDataRunList(runs);
        node->SetBelongedPartition(0);
        if (createdUnix) node->Times(FromUnix(createdUnix), FromUnix(createdUnix));
        return node;
    }

    // Selects node and releases the reader handed back.
    bool Select(IFileNode* node) {
        IFileReader* reader = recovery->SetRecoverNode(node);
        if (!reader) return false;
        reader->Release();
        return true;
    }

    std::vector<u8> bytes;
    MemoryDevice device;
    testsupport::CallLog log;
    testsupport::FakeDeepSearcher searcher{"fake", &log};
    CDataRecovery* recovery = nullptr;
    std::vector<std::unique_ptr<SimpleFileNode>> nodes;
    testsupport::TempDir dir;
};

const auto kNineMiBRuns = {DataRun{10, 1152}, DataRun{1200, 1152}};

TEST_F(DataRecoveryTest, CopiesInChunksWithProgressAndTimes) {
    const i64 size = 9 * kMiB;
    SimpleFileNode* node = File(size, Runs(kNineMiBRuns), 1000000000);
    ASSERT_TRUE(Select(node));
    testsupport::RecordingProgress progress;
    const auto out = dir / "nine.bin";
    ASSERT_EQ(recovery->RecoverTo(out.c_str(), &progress, 0), 0u);
    EXPECT_TRUE(testsupport::ReadFile(out) == Model(bytes, kNineMiBRuns, size)) << "byte for byte";
    std::vector<u64> positions;
    for (const _PROGRESS_INFO& r : progress.Records()) {
        if (r.current) positions.push_back(r.current);
        EXPECT_EQ(r.status, u32(PROGRESS_RUNNING));
    }
    EXPECT_EQ(positions, (std::vector<u64>{4 * kMiB, 8 * kMiB, 9 * kMiB}));
    EXPECT_EQ(progress.Last().total, u64(size));
    EXPECT_EQ(MtimeOf(out), 1000000000);
}

// Times past 2040 and before 1970 survive (no 32-bit seconds since 1904 inside).
TEST_F(DataRecoveryTest, NodeTimesOutsideThe32BitRange) {
    for (i64 when : {i64(2300000000), i64(-100000), i64(4102444800)}) {
        SimpleFileNode* node = File(100, Runs({DataRun{5, 1}}), when);
        ASSERT_TRUE(Select(node));
        const auto out = dir / ("t" + std::to_string(when));
        ASSERT_EQ(recovery->RecoverTo(out.c_str(), nullptr, 0), 0u);
        EXPECT_EQ(MtimeOf(out), when);
    }
    // Creation time 0 keeps the time the file was written with.
    SimpleFileNode* node = File(100, Runs({DataRun{5, 1}}));
    ASSERT_TRUE(Select(node));
    const auto out = dir / "now";
    ASSERT_EQ(recovery->RecoverTo(out.c_str(), nullptr, 0), 0u);
    EXPECT_GT(MtimeOf(out), 1700000000);
}

// Folders above the file take their nodes' times, up to (not including) the tree's root; a folder
// whose node has no time, and everything at or above the destination root, keep theirs.
TEST_F(DataRecoveryTest, FolderTimesStopAtTheRootAndTheDestination) {
    SimpleFileNode root(1, -1, "Disk(NTFS)", true);
    SimpleFileNode a(2, 1, "a", true);
    SimpleFileNode b(3, 2, "b", true);
    root.Times(FromUnix(111111111), FromUnix(111111111));
    a.Times(FromUnix(222222222), FromUnix(222222222));
    SimpleFileNode* file = File(100, Runs({DataRun{5, 1}}), 333333333);
    ASSERT_TRUE(root.AddChild(&a));
    ASSERT_TRUE(a.AddChild(&b));
    ASSERT_TRUE(b.AddChild(file));
    const auto dest = dir / "dest";
    std::filesystem::create_directories(dest / "NTFS0001/a/b");
    // The destination files exist already (the copy truncates them), so writing them changes no
    // folder's time by itself.
    testsupport::WriteFile(dest / "NTFS0001/a/b/file", "");
    testsupport::WriteFile(dest / "flat", "");
    for (auto p : {dir.path(), dest, dest / "NTFS0001", dest / "NTFS0001/a", dest / "NTFS0001/a/b"}) SetMtime(p, 5000);

    ASSERT_TRUE(Select(file));
    recovery->SetDestinationRoot(dest.c_str());
    ASSERT_EQ(recovery->RecoverTo((dest / "NTFS0001/a/b/file").c_str(), nullptr, 0), 0u);
    EXPECT_EQ(MtimeOf(dest / "NTFS0001/a/b/file"), 333333333);
    EXPECT_EQ(MtimeOf(dest / "NTFS0001/a/b"), 5000) << "b has no time";
    EXPECT_EQ(MtimeOf(dest / "NTFS0001/a"), 222222222);
    EXPECT_EQ(MtimeOf(dest / "NTFS0001"), 5000) << "the synthetic root's folder";
    EXPECT_EQ(MtimeOf(dest), 5000);

    // A path shallower than the node's ancestry never climbs above the destination.
    ASSERT_TRUE(Select(file));
    ASSERT_EQ(recovery->RecoverTo((dest / "flat").c_str(), nullptr, 0), 0u);
    EXPECT_EQ(MtimeOf(dest), 5000);
    EXPECT_EQ(MtimeOf(dir.path()), 5000);
    root.RemoveChild(&a);
    a.RemoveChild(&b);
    b.RemoveChild(file);
}

// A write that fails in the middle (file-size limit) pauses the copy with code 0xD03; after space
// is freed it resumes, and the file is byte-identical: no duplicated or missing bytes.
TEST_F(DataRecoveryTest, WriteFailurePausesAndResumesByteExact) {
    const i64 size = 9 * kMiB;
    SimpleFileNode* node = File(size, Runs(kNineMiBRuns));
    ASSERT_TRUE(Select(node));
    FileSizeLimit limit(6 * kMiB + 123);
    PausingSink sink;
    sink.onPause = [&] { limit.Lift(); };
    const auto out = dir / "resumed.bin";
    const u64 code = recovery->RecoverTo(out.c_str(), &sink, 0);
    limit.Lift();
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(sink.pauses, 1);
    int waits = 0;
    for (const _PROGRESS_INFO& r : sink.records) {
        if (u64(r.errorCode) == recoverycode::kWriteWait) {
            ++waits;
            EXPECT_EQ(r.current, u64(4 * kMiB)) << "the failed chunk does not count";
        }
    }
    EXPECT_EQ(waits, 1);
    const std::string written = testsupport::ReadFile(out);
    EXPECT_EQ(written.size(), size_t(size));
    EXPECT_TRUE(written == Model(bytes, kNineMiBRuns, size));
}

TEST_F(DataRecoveryTest, WriteFailureWithoutSinkReturnsAFailure) {
    SimpleFileNode* node = File(9 * kMiB, Runs(kNineMiBRuns));
    ASSERT_TRUE(Select(node));
    FileSizeLimit limit(5 * kMiB);
    const u64 code = recovery->RecoverTo((dir / "full.bin").c_str(), nullptr, 0);
    limit.Lift();
    EXPECT_TRUE(result::IsFailure(code));
    EXPECT_EQ(code, recoverycode::kWriteGaveUp);
}

// The same pause and resume when the caller's descriptor is written: the chunk is written again at
// its offset, and a file without data (size 0) is left as the caller made it.
TEST_F(DataRecoveryTest, CallersFilePausesOnAFailedWriteAndResumes) {
    const i64 size = 9 * kMiB;
    SimpleFileNode* node = File(size, Runs(kNineMiBRuns));
    ASSERT_TRUE(Select(node));
    const int fd = ::open((dir / "resumed.bin").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    FileSizeLimit limit(6 * kMiB + 123);
    PausingSink sink;
    sink.onPause = [&] { limit.Lift(); };
    const u64 code = recovery->RecoverToFile(fd, -1, "resumed.bin", &sink, 0);
    limit.Lift();
    ::close(fd);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(sink.pauses, 1);
    EXPECT_EQ(std::count_if(sink.records.begin(), sink.records.end(),
                            [](const _PROGRESS_INFO& r) { return u64(r.errorCode) == recoverycode::kWriteWait; }),
              1);
    EXPECT_TRUE(testsupport::ReadFile(dir / "resumed.bin") == Model(bytes, kNineMiBRuns, size));

    // Without a caller to wait for, the copy gives up after its tries.
    ASSERT_TRUE(Select(node));
    const int full = ::open((dir / "full.bin").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    limit.Set(5 * kMiB);
    EXPECT_EQ(recovery->RecoverToFile(full, -1, "full.bin", nullptr, 0), recoverycode::kWriteGaveUp);
    limit.Lift();
    ::close(full);

    SimpleFileNode* empty = File(0, Runs({DataRun{5, 1}}));
    EXPECT_EQ(recovery->SetRecoverNode(empty), nullptr);
    const int none = ::open((dir / "empty").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    EXPECT_EQ(recovery->RecoverToFile(none, -1, "empty", nullptr, 0), recoverycode::kCreatedEmpty);
    ::close(none);
    EXPECT_EQ(std::filesystem::file_size(dir / "empty"), 0u);
    EXPECT_EQ(recovery->RecoverToFile(-1, -1, "nothing", nullptr, 0), recoverycode::kNullPath);
}

// A read that delivers fewer bytes than the chunk leaves zeros, never the previous file's bytes.
TEST_F(DataRecoveryTest, ShortReadsAreNotPaddedWithOldBytes) {
    SimpleFileNode* first = File(5 * kMiB, Runs({DataRun{0, 1280}}));
    ASSERT_TRUE(Select(first));
    ASSERT_EQ(recovery->RecoverTo((dir / "first").c_str(), nullptr, 0), 0u);
    SimpleFileNode* second = File(6 * kMiB, Runs({DataRun{2000, 256}}));  // runs cover 1 MiB
    ASSERT_TRUE(Select(second));
    ASSERT_EQ(recovery->RecoverTo((dir / "second").c_str(), nullptr, 0), 0u);
    const std::string written = testsupport::ReadFile(dir / "second");
    ASSERT_EQ(written.size(), size_t(6 * kMiB));
    EXPECT_TRUE(written == Model(bytes, {DataRun{2000, 256}}, 6 * kMiB));
}

TEST_F(DataRecoveryTest, UnreadableLastChunkGivesAFullSizeFileWithZeros) {
    const i64 size = 9 * kMiB;
    SimpleFileNode* node = File(size, Runs(kNineMiBRuns));
    ASSERT_TRUE(Select(node));
    // The last MiB of the file lies in clusters 2096..2351 of the second run.
    device.SetFailHook([](i64 first, i64 count) { return first + count > 2096 * i64(kSpc); });
    ASSERT_EQ(recovery->RecoverTo((dir / "holes").c_str(), nullptr, 0), 0u);
    std::string expected = Model(bytes, kNineMiBRuns, size);
    std::memset(expected.data() + 8 * kMiB, 0, kMiB);
    const std::string written = testsupport::ReadFile(dir / "holes");
    ASSERT_EQ(written.size(), size_t(size));
    EXPECT_TRUE(written == expected);
}

// A recorded size that neither the extents nor the volume (512 MiB here) can hold, as a damaged record
// gives it (2^63 - 1, 2^62): the copy takes the bytes the extents hold, the file counts as partly
// unreadable, and the log says so once. A size the volume can hold keeps its length, zeros past the
// runs.
TEST_F(DataRecoveryTest, ASizeNoExtentNorVolumeHoldsIsCutToTheExtents) {
    struct Case {
        i64 size;
        i64 copied;
    };
    const i64 runBytes = 256 * i64(kCluster);  // 1 MiB
    const Case cases[] = {
        {INT64_MAX, runBytes},
        {i64(1) << 62, runBytes},
        {(i64(1) << 29) + 1, runBytes},
        {6 * kMiB, 6 * kMiB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        testsupport::ScopedWorkDir work;
        SimpleFileNode* node = File(c.size, Runs({DataRun{2000, 256}}));
        ASSERT_TRUE(Select(node));
        testing::internal::CaptureStdout();
        const u64 code = recovery->RecoverTo((dir / "huge").c_str(), nullptr, 0);
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(code, 0u);
        EXPECT_GE(recovery->GetUnreadableChunkCount(), 1u) << "partly unreadable";
        const std::string written = testsupport::ReadFile(dir / "huge");
        ASSERT_EQ(i64(written.size()), c.copied);
        EXPECT_TRUE(written == Model(bytes, {DataRun{2000, 256}}, c.copied));
        const std::string log = testsupport::ReadFile(work.work() / "sMAC_Brelvox.log");
        EXPECT_LE(std::count(log.begin(), log.end(), '\n'), 6) << log;
        std::filesystem::remove(dir / "huge");
    }
}

TEST_F(DataRecoveryTest, StopBetweenChunksLeavesAShorterFile) {
    SimpleFileNode* node = File(9 * kMiB, Runs(kNineMiBRuns));
    ASSERT_TRUE(Select(node));
    testsupport::RecordingProgress progress;
    progress.StopAfter(1);
    ASSERT_EQ(recovery->RecoverTo((dir / "stopped").c_str(), &progress, 0), 0u);
    EXPECT_EQ(std::filesystem::file_size(dir / "stopped"), u64(4 * kMiB));
}

TEST_F(DataRecoveryTest, ExplicitSizeAndRefusals) {
    SimpleFileNode* node = File(9 * kMiB, Runs(kNineMiBRuns));
    ASSERT_TRUE(Select(node));
    ASSERT_EQ(recovery->RecoverTo((dir / "part").c_str(), nullptr, 1000), 0u);
    EXPECT_EQ(testsupport::ReadFile(dir / "part"), Model(bytes, kNineMiBRuns, 1000));
    EXPECT_EQ(recovery->RecoverTo(nullptr, nullptr, 0), recoverycode::kNullPath);
    EXPECT_EQ(recovery->RecoverTo((dir / "no/such/folder").c_str(), nullptr, 0), recoverycode::kCannotOpenDestination);

    // A node of size 0 cannot be opened: the destination is created empty with code 0xD02.
    SimpleFileNode* empty = File(0, Runs({DataRun{5, 1}}));
    EXPECT_EQ(recovery->SetRecoverNode(empty), nullptr);
    EXPECT_EQ(recovery->RecoverTo((dir / "empty").c_str(), nullptr, 0), recoverycode::kCreatedEmpty);
    EXPECT_TRUE(std::filesystem::exists(dir / "empty"));
    EXPECT_EQ(recovery->RecoverTo((dir / "no/such/empty").c_str(), nullptr, 0), recoverycode::kCannotCreateEmpty);
    SimpleFileNode folder(99, 0, "folder", true);
    EXPECT_EQ(recovery->SetRecoverNode(&folder), nullptr);
    EXPECT_EQ(recovery->SetRecoverNode(nullptr), nullptr);
}

// A destination named by path is opened without following a link planted there, and a file with
// other names is not emptied through this one: the bytes they lead to stay as they were.
TEST_F(DataRecoveryTest, PathDestinationsNeverFollowAPlantedLink) {
    SimpleFileNode* node = File(100, Runs({DataRun{5, 1}}));
    SimpleFileNode* empty = File(0, Runs({DataRun{5, 1}}));
    testsupport::WriteFile(dir / "victim", "keep me");
    std::filesystem::create_symlink(dir / "victim", dir / "link");
    std::filesystem::create_symlink(dir / "new-victim", dir / "dangling");
    std::filesystem::create_hard_link(dir / "victim", dir / "hard");
    for (const char* name : {"link", "dangling", "hard"}) {
        ASSERT_TRUE(Select(node));
        EXPECT_EQ(recovery->RecoverTo((dir / name).c_str(), nullptr, 0), recoverycode::kCannotOpenDestination) << name;
        EXPECT_EQ(recovery->SetRecoverNode(empty), nullptr);
        EXPECT_EQ(recovery->RecoverTo((dir / name).c_str(), nullptr, 0), recoverycode::kCannotCreateEmpty) << name;
    }
    EXPECT_EQ(testsupport::ReadFile(dir / "victim"), "keep me");
    EXPECT_FALSE(std::filesystem::exists(dir / "new-victim"));
    // A character device named on purpose takes the bytes; its times stay its own.
    ASSERT_TRUE(Select(node));
    EXPECT_EQ(recovery->RecoverTo("/dev/null", nullptr, 0), 0u);
}

// The caller's own file: written through its descriptor, byte for byte, with the node's time, and
// the folders above it get theirs through descriptors too, up to (not including) the destination
// root, at a depth no path could name.
TEST_F(DataRecoveryTest, WritesThroughTheCallersFileAtAnyDepth) {
    const auto dest = dir / "dest";
    std::filesystem::create_directory(dest);
    recovery->SetDestinationRoot(dest.c_str());
    // 40 folders of 200-byte names: a path of over 8000 bytes, past what the system resolves.
    constexpr int kDepth = 40;
    const std::string kName(200, 'd');
    SimpleFileNode root(1, -1, "Disk(FAT)", true);
    std::vector<std::unique_ptr<SimpleFileNode>> folders;
    SimpleFileNode* above = &root;
    for (int i = 0; i < kDepth; ++i) {
        folders.push_back(std::make_unique<SimpleFileNode>(100 + i, 0, kName, true));
        folders.back()->Times(FromUnix(400000000 + i), FromUnix(400000000 + i));
        ASSERT_TRUE(above->AddChild(folders.back().get()));
        above = folders.back().get();
    }
    SimpleFileNode* file = File(9 * kMiB, Runs(kNineMiBRuns), 1000000000);
    ASSERT_TRUE(above->AddChild(file));
    // dest/Disk/ddd.../ddd.../file, made through descriptors as a caller makes it.
    const int rootFd = ::open(dest.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(rootFd, 0);
    ASSERT_EQ(::mkdirat(rootFd, "Disk", 0755), 0);
    int folderFd = ::openat(rootFd, "Disk", O_RDONLY | O_DIRECTORY);
    ::close(rootFd);
    for (int i = 0; i < kDepth && folderFd >= 0; ++i) {
        ASSERT_EQ(::mkdirat(folderFd, kName.c_str(), 0755), 0) << i;
        const int child = ::openat(folderFd, kName.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(folderFd);
        folderFd = child;
    }
    ASSERT_GE(folderFd, 0);
    const int fd = ::openat(folderFd, "file", O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(Select(file));
    EXPECT_EQ(recovery->RecoverToFile(fd, folderFd, "file", nullptr, 0), 0u);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, 9 * kMiB);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    std::string written(size_t(9 * kMiB), '\0');
    EXPECT_EQ(::pread(fd, written.data(), written.size(), 0), ssize_t(written.size()));
    EXPECT_TRUE(written == Model(bytes, kNineMiBRuns, 9 * kMiB));
    ::close(fd);
    // Each folder has its node's time, from the deepest up to the first below the synthetic root;
    // the root's folder ("Disk") and the destination root keep theirs.
    int at = folderFd;
    for (int i = kDepth - 1; i >= 0; --i) {
        ASSERT_EQ(::fstat(at, &st), 0);
        ASSERT_EQ(st.st_mtim.tv_sec, 400000000 + i) << "level " << i;
        const int up = ::openat(at, "..", O_RDONLY | O_DIRECTORY);
        ::close(at);
        at = up;
    }
    ASSERT_EQ(::fstat(at, &st), 0);
    EXPECT_GT(st.st_mtim.tv_sec, 1700000000) << "the synthetic root's folder";
    ::close(at);
    EXPECT_GT(MtimeOf(dest), 1700000000) << "the destination root";
    above->RemoveChild(file);
    for (int i = kDepth - 1; i >= 0; --i) (i ? folders[i - 1].get() : &root)->RemoveChild(folders[i].get());
}

// A device read that times out during a copy may still write into the copy's buffer when it finally
// returns: the chunk it belonged to is written as zeros, and the late bytes never reach a later copy.
TEST(DataRecoveryTimeout, ALateReadNeverLandsInALaterCopy) {
    testsupport::TempDir dir;
    const std::vector<u8> bytes = Pattern(size_t(16 * kMiB), 9);
    const auto image = dir / "disk.img";
    {
        std::FILE* f = std::fopen(image.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(image.c_str()));
    ASSERT_TRUE(disk && disk->Open(nullptr));
    testsupport::CallLog log;
    testsupport::FakeDeepSearcher searcher{"fake", &log};
    searcher.AddPartition(Record(0));
    std::unique_ptr<CDataRecovery, void (*)(CDataRecovery*)> recovery(
        static_cast<CDataRecovery*>(CreateDataRecoveryObj()), [](CDataRecovery* r) { r->Release(); });
    ASSERT_EQ(recovery->Initialize(&searcher, disk.get()), 0u);

    // The stuck read: the first device read at 4 MiB (the second chunk of the first file). It returns
    // only when released, then writes its late bytes. The second file's read releases it once its own
    // bytes are in, so the late bytes land just before that copy is written.
    constexpr i64 kStuckAt = 4 * kMiB;
    constexpr i64 kSecondAt = 8 * kMiB;
    testsupport::StuckRead stuck;
    std::atomic<bool> stuckTaken{false};
    std::unique_ptr<void, std::function<void(void*)>> restore(&stuck, [&](void*) {
        stuck.LetGo();
        if (stuckTaken) stuck.WaitReturned();
        kxread::SetChunkReader({});
        kxread::SetChunkTimeout(kxread::kDefaultChunkTimeout);
    });
    kxread::SetChunkTimeout(1000ms, kStuckAt);
    kxread::SetChunkReader([&](int f, void* b, size_t n, std::int64_t off) -> ssize_t {
        if (off == kStuckAt && !stuckTaken.exchange(true)) return stuck.Hold(b, n);
        const ssize_t got = platform::disks::ReadOnce(f, b, n, off);
        if (off == kSecondAt && stuckTaken) {
            stuck.LetGo();
            stuck.WaitReturned();
        }
        return got;
    });

    std::vector<std::unique_ptr<SimpleFileNode>> files;
    auto copy = [&](i64 firstCluster, const char* name) {
        files.push_back(std::make_unique<SimpleFileNode>(i64(files.size()) + 10, 0, name, false, 8 * kMiB));
        files.back()->SetDataRunList(Runs({DataRun{firstCluster, u64(8 * kMiB / kCluster)}}));
        files.back()->SetBelongedPartition(0);
        IFileReader* reader = recovery->SetRecoverNode(files.back().get());
        EXPECT_NE(reader, nullptr);
        if (reader) reader->Release();
        EXPECT_EQ(recovery->RecoverTo((dir / name).c_str(), nullptr, 0), 0u) << name;
        return testsupport::ReadFile(dir / name);
    };
    const std::string first = copy(0, "first.bin");
    ASSERT_EQ(first.size(), size_t(8 * kMiB));
    EXPECT_TRUE(first.compare(0, size_t(kStuckAt), reinterpret_cast<const char*>(bytes.data()), size_t(kStuckAt)) == 0);
    EXPECT_EQ(first.find_first_not_of('\0', size_t(kStuckAt)), std::string::npos) << "the timed-out chunk is zeros";
    EXPECT_EQ(recovery->GetUnreadableChunkCount(), 1u);

    const std::string second = copy(kSecondAt / kCluster, "second.bin");
    ASSERT_TRUE(stuck.Returned()) << "the late read came back during the second copy";
    EXPECT_TRUE(second == std::string(reinterpret_cast<const char*>(bytes.data()) + kSecondAt, size_t(8 * kMiB)))
        << "the second copy holds its own bytes only";
    EXPECT_EQ(recovery->GetUnreadableChunkCount(), 0u);
}

TEST(DataRecoveryInitialize, FromSearchersAndSavedRecords) {
    MemoryDevice device(std::vector<u8>(4096));
    testsupport::CallLog log;
    CDataRecovery recovery;
    testsupport::FakeDeepSearcher none("none", &log);
    EXPECT_EQ(recovery.Initialize(static_cast<IFileSystemSearchController*>(nullptr), &device),
              recoverycode::kNoSearcherOrDevice);
    EXPECT_EQ(recovery.Initialize(&none, nullptr), recoverycode::kNoSearcherOrDevice);
    EXPECT_EQ(recovery.Initialize(&none, &device), recoverycode::kNoPartition);

    // More than 256 records: the array grows; records come out sorted by weight.
    testsupport::FakeDeepSearcher many("many", &log);
    for (int i = 0; i < 300; ++i) many.AddPartition(Record(i16(i), double((i * 37) % 300)));
    ASSERT_EQ(recovery.Initialize(&many, &device), 0u);
    ASSERT_EQ(recovery.GetPartitionCount(), 300u);
    for (u32 i = 1; i < 300; ++i)
        EXPECT_GE(recovery.GetSearchedPartition()[i - 1]->m_weight, recovery.GetSearchedPartition()[i]->m_weight);

    std::vector<CSearchedPartitionInfo*> saved{Record(4), Record(5)};
    EXPECT_EQ(recovery.Initialize(saved, nullptr), recoverycode::kNoDeviceForSaved);
    ASSERT_EQ(recovery.Initialize(saved, &device), 0u);
    EXPECT_EQ(recovery.GetPartitionCount(), 2u);
    EXPECT_NE(recovery.GetSearchedPartition()[0], saved[0]) << "copied, not taken";
    for (auto* r : saved) delete r;
}

TEST(DataRecoveryPartition, NodePartitionTable) {
    MemoryDevice device(std::vector<u8>(4096));
    testsupport::CallLog log;
    auto node = [](u16 partition, i64 meta, i64 size, std::initializer_list<DataRun> runs) {
        auto n = std::make_unique<SimpleFileNode>(1, 0, "n", false, size);
        n->SetBelongedPartition(partition);
        n->SetMetaDataSector(u64(meta));
        n->SetDataRunList(Runs(runs));
        return n;
    };
    testsupport::FakeDeepSearcher searcher("s", &log);
    // After sorting: heavy (index 7, spc 8), light (index 3, spc 8, at 100000), odd (index 5, spc 1).
    CSearchedPartitionInfo* light = Record(3, 1.0);
    light->m_partitionStartSector = 100000;
    light->m_cluster0Sector = 100000;
    light->m_totalSectors = 50000;
    searcher.AddPartition(light);
    CSearchedPartitionInfo* heavy = Record(7, 9.0);
    heavy->m_totalSectors = 50000;  // ends before the nodes' records
    searcher.AddPartition(heavy);
    CSearchedPartitionInfo* odd = Record(5, 0.5, 1);
    odd->m_partitionStartSector = 100000;
    odd->m_cluster0Sector = 100000;
    odd->m_totalSectors = 50000;
    searcher.AddPartition(odd);
    CDataRecovery recovery;
    ASSERT_EQ(recovery.Initialize(&searcher, &device), 0u);
    const auto& records = recovery.GetSearchedPartition();
    ASSERT_EQ(records[0]->m_partitionIndex, 7);

    // 100 clusters of 409,600 bytes: 8 sectors per cluster, inside "light".
    auto fits = node(0x1234, 100010, 409600, {DataRun{10, 60}, DataRun{200, 40}});
    struct Case {
        const char* what;
        SimpleFileNode* n;
        int expectedIndex;
    };
    auto byIndex = node(5, -1, 10, {});
    auto nowhere = node(0x1234, 5, 409600, {DataRun{10, 100}});
    auto wrongSize = node(0x1234, 100010, 100 * 512, {DataRun{10, 100}});
    const Case cases[] = {
        {"partition index", byIndex.get(), 5},
        {"in range and cluster size suits", fits.get(), 3},
        {"no match: the first after sorting", nowhere.get(), 7},
        {"cluster size does not suit", wrongSize.get(), 7},
    };
    for (const Case& c : cases) EXPECT_EQ(recovery.GetNodePartition(c.n)->m_partitionIndex, c.expectedIndex) << c.what;

    EXPECT_FALSE(CDataRecovery::IsClusterSuit(1, fits.get())) << "odd sectors per cluster";
    EXPECT_TRUE(CDataRecovery::IsClusterSuit(8, fits.get()));
    EXPECT_FALSE(CDataRecovery::IsClusterSuit(16, fits.get()));
    auto tiny = node(0, 0, 5000, {DataRun{3, 1}});
    EXPECT_TRUE(CDataRecovery::IsClusterSuit(2, tiny.get())) << "fewer than 2 clusters";

    // With one record, every node uses it.
    testsupport::FakeDeepSearcher single("one", &log);
    single.AddPartition(Record(9));
    ASSERT_EQ(recovery.Initialize(&single, &device), 0u);
    EXPECT_EQ(recovery.GetNodePartition(nowhere.get())->m_partitionIndex, 9);
}

TEST_F(DataRecoveryTest, ReadSmallJpg) {
    // Markers: FF D8 FF at 0 (never taken) and at 100, FF D9 at 5,000.
    std::vector<u8>& data = device.Bytes();
    const size_t at = 3000 * size_t(kCluster);
    std::memset(data.data() + at, 0x11, 20 * kCluster);
    for (size_t off : {size_t(0), size_t(100)}) {
        data[at + off] = 0xFF, data[at + off + 1] = 0xD8, data[at + off + 2] = 0xFF;
    }
    data[at + 5000] = 0xFF, data[at + 5001] = 0xD9;
    SimpleFileNode* node = File(20 * kCluster, Runs({DataRun{3000, 20}}));
    ASSERT_TRUE(Select(node));
    std::vector<char> out(70000);
    ASSERT_EQ(recovery->ReadSmallJPG(out.data(), u32(out.size())), 4904u);
    EXPECT_EQ(std::memcmp(out.data(), data.data() + at + 100, 4904), 0);
    EXPECT_EQ(recovery->ReadSmallJPG(out.data(), 65535), 0u) << "buffer below 64 KiB";
    SimpleFileNode* small = File(65535, Runs({DataRun{3000, 16}}));
    ASSERT_TRUE(Select(small));
    EXPECT_EQ(recovery->ReadSmallJPG(out.data(), u32(out.size())), 0u) << "node below 64 KiB";
}

// A duplicate reads with copies of the records of its own: the same bytes as the original, also after
// the original is gone; an object without records has nothing to duplicate.
TEST_F(DataRecoveryTest, DuplicateReadsTheSameFilesOnItsOwn) {
    SimpleFileNode* node = File(3 * kCluster + 100, Runs({DataRun{2000, 4}}));
    std::vector<char> want(size_t(node->GetFileSize()));
    IFileReader* reader = recovery->SetRecoverNode(node);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->ReadData(0, want.data(), u32(want.size()), nullptr), want.size());
    reader->Release();
    ASSERT_NE(std::count(want.begin(), want.end(), 0), std::ptrdiff_t(want.size()));

    IDataRecovery* copy = recovery->Duplicate();
    ASSERT_NE(copy, nullptr);
    recovery->Release();
    recovery = static_cast<CDataRecovery*>(CreateDataRecoveryObj());
    EXPECT_EQ(recovery->Duplicate(), nullptr);
    std::vector<char> got(want.size());
    reader = copy->SetRecoverNode(node);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->ReadData(0, got.data(), u32(got.size()), nullptr), got.size());
    reader->Release();
    copy->Release();
    EXPECT_EQ(got, want);
}

// An NTFS node stored compressed: it creates the compressed reader, as the NTFS node does.
class CompressedNtfsNode : public SimpleFileNode {
public:
    CompressedNtfsNode(i64 size) : SimpleFileNode(1, 0, "f", false, size) { m_compressed = 1; }
    IFileReader* CreateCompressFileReader(void*) override { return new CCompressFileReader; }
};

// A compressed NTFS file copied through the data-recovery object equals the original.
TEST(DataRecoveryCompressed, NtfsCompressedFileIsDecompressed) {
    testsupport::TempDir dir;
    testsupport::CompressedNtfsFixture fx = testsupport::LoadCompressedNtfsFixture(dir.path());
    auto device = MemoryDevice::FromFile(fx.image);
    testsupport::CallLog log;
    testsupport::FakeDeepSearcher searcher("ntfs", &log);
    CSearchedPartitionInfo* record = Record(0, 0, fx.clusterSize / kSector);
    record->m_fileSystemType = 3;
    searcher.AddPartition(record);
    CDataRecovery recovery;
    ASSERT_EQ(recovery.Initialize(&searcher, device.get()), 0u);
    const testsupport::FixtureFile& f = fx.File("f");
    CompressedNtfsNode node(f.size);
    IDataRunList* runs = CreateDataRunList();
    for (const auto& r : f.runs) runs->AddDataRun(DataRun{r.lcn, u64(r.length)});
    node.SetDataRunList(runs);
    node.Times(FromUnix(1500000000), FromUnix(1500000000));
    IFileReader* reader = recovery.SetRecoverNode(&node);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(reader->IsCompressFile());
    reader->Release();
    const auto out = dir / "f.out";
    ASSERT_EQ(recovery.RecoverTo(out.c_str(), nullptr, 0), 0u);
    EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(out)), f.sha256);
    EXPECT_EQ(MtimeOf(out), 1500000000);
    EXPECT_EQ(recovery.RecoverTo(out.c_str(), nullptr, 10), recoverycode::kSizeForCompressed);

    // Through the caller's descriptor: the reader decompresses into it and leaves it open.
    reader = recovery.SetRecoverNode(&node);
    ASSERT_NE(reader, nullptr);
    reader->Release();
    const int fd = ::open((dir / "f.fd").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(recovery.RecoverToFile(fd, -1, "f.fd", nullptr, 10), recoverycode::kSizeForCompressed);
    ASSERT_EQ(recovery.RecoverToFile(fd, -1, "f.fd", nullptr, 0), 0u);
    EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC) << "still open";
    ::close(fd);
    EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(dir / "f.fd")), f.sha256);
    EXPECT_EQ(MtimeOf(dir / "f.fd"), 1500000000);
}

}  // namespace
