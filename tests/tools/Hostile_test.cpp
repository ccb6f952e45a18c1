// The driver over hostile images, end to end: recorded sizes that no extent and no volume can hold
// (HFS+ and APFS) are copied as far as their extents go and counted unreadable instead of walked; a
// chain of folders 60,000 deep is listed and copied in memory for its folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/HfsPlusWriter.h"
#include "support/HostileTable.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

struct DriverRun {
    int status;
    std::string out;
    std::string err;
};

DriverRun Drive(const TempDir& dir, const std::string& arguments) {
    DriverRun run{};
    const std::string errPath = (dir / "stderr.txt").string();
    run.status = testsupport::RunCommand(kDriver + " " + arguments + " 2>" + errPath + " </dev/null", &run.out);
    run.err = testsupport::ReadFile(errPath);
    return run;
}

// The one file called name below folder, wherever it lies.
std::optional<fs::path> FindFile(const fs::path& folder, const std::string& name) {
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename() == name) return entry.path();
    return std::nullopt;
}

class DriverOnHostileImages : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    TempDir dir;
};

// An HFS+ data fork that records 2^63 - 1 bytes over its two blocks.
TEST_F(DriverOnHostileImages, AnHfsPlusSizeOfTwoToThe63IsCopiedAsFarAsItsExtents) {
    namespace hfs = testsupport::hfs;
    hfs::Writer writer(hfs::Options{});
    const std::string data = hfs::TextContent("huge", 5000);
    writer.Add({.path = "huge.bin", .data = data});
    writer.Add({.path = "small.txt", .data = hfs::TextContent("small", 700)});
    hfs::Layout layout;
    std::vector<u8> image = writer.Build(&layout);
    // The file record (type 2) of huge.bin: its data fork's logical size, big-endian, at +88.
    const u32 id = layout.ids.at("huge.bin");
    const u8 record[] = {0, 2};
    const u8 idBytes[] = {u8(id >> 24), u8(id >> 16), u8(id >> 8), u8(id)};
    int patched = 0;
    for (size_t at = 0; at + 96 <= image.size(); ++at) {
        if (std::memcmp(&image[at], record, 2) != 0 || std::memcmp(&image[at + 8], idBytes, 4) != 0) continue;
        const u8 size[] = {0, 0, 0, 0, 0, 0, 0x13, 0x88};  // 5000
        if (std::memcmp(&image[at + 88], size, 8) != 0) continue;
        const u8 huge[] = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        std::memcpy(&image[at + 88], huge, 8);
        ++patched;
    }
    ASSERT_EQ(patched, 1);
    testsupport::WriteFile(dir / "huge.img", std::string(image.begin(), image.end()));

    const DriverRun run = Drive(dir, "--deep --recover " + (dir / "out").string() + " " + (dir / "huge.img").string());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find(", unreadable 1\n"), std::string::npos) << run.out;
    const auto copy = FindFile(dir / "out", "huge.bin");
    ASSERT_TRUE(copy);
    const std::string copied = testsupport::ReadFile(*copy);
    EXPECT_EQ(copied.size(), 8192u) << "its two blocks";
    EXPECT_EQ(copied.substr(0, data.size()), data);
    const auto small = FindFile(dir / "out", "small.txt");
    ASSERT_TRUE(small);
    EXPECT_EQ(testsupport::ReadFile(*small), hfs::TextContent("small", 700));
}

// An APFS data stream of 2^62 bytes over one block (the hostile table's case).
TEST_F(DriverOnHostileImages, AnApfsDataStreamOfTwoToThe62IsCopiedAsFarAsItsExtent) {
    const auto cases = testsupport::ReadHostileTable(testsupport::FixturePath("apfs/hostile.tsv"));
    const auto it = std::find_if(cases.begin(), cases.end(),
                                 [](const testsupport::HostileCase& c) { return c.name == "data-stream-2-to-62"; });
    ASSERT_NE(it, cases.end());
    const auto records = testsupport::UnpackXzShared(testsupport::FixturePath("apfs/apfs-records.img.xz"));
    testsupport::ApplyPatches(records, it->patches, dir / "huge.img");

    const DriverRun run = Drive(dir, "--deep --recover " + (dir / "out").string() + " " + (dir / "huge.img").string());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find(", unreadable 1\n"), std::string::npos) << run.out;
    const auto copy = FindFile(dir / "out", "readme.txt");
    ASSERT_TRUE(copy);
    EXPECT_EQ(fs::file_size(*copy), 4096u) << "its one block";
}

// A FAT32 volume (mkfs.fat, one 512-byte sector per cluster) whose root holds a chain of `depth`
// folders "D", each in one cluster, with a deleted file "?EEP.TXT" of 5 bytes at its foot.
void MakeDeepFat(const fs::path& image, int depth) {
    testsupport::WriteFile(image, "");
    fs::resize_file(image, (64 + u64(depth) / 1500) << 20);
    ASSERT_EQ(testsupport::RunCommand("mkfs.fat -F 32 -s 1 '" + image.string() + "' >/dev/null 2>&1"), 0);
    std::string d = testsupport::ReadFile(image);
    auto le16 = [&](size_t at) { return u32(u8(d[at])) | u32(u8(d[at + 1])) << 8; };
    auto le32 = [&](size_t at) { return le16(at) | le16(at + 2) << 16; };
    auto put16 = [&](size_t at, u32 v) { d[at] = char(v), d[at + 1] = char(v >> 8); };
    auto put32 = [&](size_t at, u32 v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
    const u32 sector = le16(11), reserved = le16(14), fats = u8(d[16]), fatSectors = le32(36), rootCluster = le32(44);
    const size_t data = size_t(reserved + fats * fatSectors) * sector;
    auto clusterAt = [&](u32 c) { return data + size_t(c - 2) * sector; };
    u32 next = 3;
    auto allocate = [&] {
        for (u32 f = 0; f < fats; ++f) put32(size_t(reserved + f * fatSectors) * sector + 4 * next, 0x0FFFFFFF);
        return next++;
    };
    auto entry = [&](size_t at, const char* name, u8 attribute, u32 first, u32 size) {
        d.replace(at, 11, name, 11);
        d[at + 11] = char(attribute);
        put16(at + 20, first >> 16);
        put16(at + 26, first & 0xFFFF);
        put32(at + 28, size);
        put16(at + 22, 0x6000);  // 12:00:00
        put16(at + 24, 0x5621);  // 2023-01-01
    };
    size_t at = clusterAt(rootCluster);
    u32 parent = 0;
    for (int level = 0; level < depth; ++level) {
        const u32 folder = allocate();
        entry(at, "D          ", 0x10, folder, 0);
        const size_t inside = clusterAt(folder);
        entry(inside, ".          ", 0x10, folder, 0);
        entry(inside + 32, "..         ", 0x10, parent, 0);
        parent = folder;
        at = inside + 64;
    }
    const u32 file = allocate();
    d.replace(clusterAt(file), 5, "hello");
    entry(at, "XEEP    TXT", 0x20, file, 5);
    d[at] = char(0xE5);
    testsupport::WriteFile(image, d);
}

// Starts the driver as a child with arguments, its standard output to output and its standard error
// to errors; the child's pid, or -1.
pid_t StartDriver(const std::vector<std::string>& arguments, const fs::path& output, const fs::path& errors) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
        std::vector<char*> argv{const_cast<char*>(kDriver.c_str())};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(kDriver.c_str(), argv.data());
        _exit(127);
    }
    return child;
}

// Runs the driver as a child; its exit status and its peak resident memory in KiB.
std::pair<int, long> DriveMeasured(const std::vector<std::string>& arguments, const fs::path& output) {
    const pid_t child = StartDriver(arguments, output, "/dev/null");
    int status = 0;
    struct rusage usage {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return {-1, 0};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss};
}

// 200 MiB; under a sanitizer the driver also holds its shadow memory (and AddressSanitizer's quarantine
// of freed memory, 256 MiB), still far below the gigabytes whole paths would take.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BRELVOX_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BRELVOX_TEST_SANITIZED 1
#endif
#endif
#ifdef BRELVOX_TEST_SANITIZED
constexpr long kPeakBoundKiB = 640 * 1024;
#else
constexpr long kPeakBoundKiB = 200 * 1024;
#endif

// A folder is kept as its parent folder and its name, never as its whole path: listing and copying a
// chain of 60,000 folders takes memory for 60,000 folders (a whole path per folder took 3.6 GB), and
// the file is copied 60,000 folders down.
TEST_F(DriverOnHostileImages, AChainOf60000FoldersTakesMemoryForItsFoldersNotTheirPaths) {
    constexpr int kDepth = 60000;
    MakeDeepFat(dir / "deep.img", kDepth);
    ASSERT_FALSE(HasFatalFailure());
    const auto [status, peak] = DriveMeasured(
        {"--quick", "--list", "/dev/null", "--recover", (dir / "out").string(), (dir / "deep.img").string()},
        dir / "summary.txt");
    ASSERT_EQ(status, 0);
    EXPECT_EQ(testsupport::ReadFile(dir / "summary.txt"), "copied 1, failed 0\n");
    EXPECT_LT(peak, kPeakBoundKiB) << "KiB at the peak";

    int fd = ::open((dir / "out" / "deep.img(FAT_FAT32)").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    int depth = 0;
    for (int next; (next = ::openat(fd, "D", O_RDONLY | O_DIRECTORY | O_NOFOLLOW)) >= 0; ++depth) {
        ::close(fd);
        fd = next;
    }
    EXPECT_EQ(depth, kDepth);
    char bytes[8] = {};
    const int file = ::openat(fd, "#EEP.TXT", O_RDONLY);
    ::close(fd);
    ASSERT_GE(file, 0) << "the deleted file at the foot";
    EXPECT_EQ(::read(file, bytes, sizeof bytes), 5);
    ::close(file);
    EXPECT_EQ(std::string(bytes), "hello");
}

// A FAT32 volume (mkfs.fat, 4 KiB clusters) with `folders` folders in its root, each holding `perFolder`
// deleted files of 4096 bytes that all share one first cluster (cross-linked entries).
void MakeCrossLinkedFat(const fs::path& image, int folders, int perFolder) {
    testsupport::WriteFile(image, "");
    fs::resize_file(image, u64(64 + folders * perFolder / 8000) << 20);
    ASSERT_EQ(testsupport::RunCommand("mkfs.fat -F 32 -s 8 '" + image.string() + "' >/dev/null 2>&1"), 0);
    std::string d = testsupport::ReadFile(image);
    auto le16 = [&](size_t at) { return u32(u8(d[at])) | u32(u8(d[at + 1])) << 8; };
    auto le32 = [&](size_t at) { return le16(at) | le16(at + 2) << 16; };
    auto put16 = [&](size_t at, u32 v) { d[at] = char(v), d[at + 1] = char(v >> 8); };
    auto put32 = [&](size_t at, u32 v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
    const u32 sector = le16(11), spc = u8(d[13]), reserved = le16(14), fats = u8(d[16]), fatSectors = le32(36);
    const u32 rootCluster = le32(44);
    const size_t cluster = size_t(sector) * spc, data = size_t(reserved + fats * fatSectors) * sector;
    auto clusterAt = [&](u32 c) { return data + size_t(c - 2) * cluster; };
    u32 next = 3;
    auto allocate = [&](u32 count) {
        const u32 first = next;
        for (u32 i = 0; i < count; ++i, ++next)
            for (u32 f = 0; f < fats; ++f)
                put32(size_t(reserved + f * fatSectors) * sector + 4 * next, i + 1 < count ? next + 1 : 0x0FFFFFFF);
        return first;
    };
    auto entry = [&](size_t at, const std::string& name, u8 attribute, u32 first, u32 size) {
        d.replace(at, 11, name);
        d[at + 11] = char(attribute);
        put16(at + 20, first >> 16);
        put16(at + 26, first & 0xFFFF);
        put32(at + 28, size);
        put16(at + 22, 0x6000);
        put16(at + 24, 0x5621);
    };
    const u32 shared = allocate(1);
    d.replace(clusterAt(shared), 11, "shared data");
    for (int f = 0; f < folders; ++f) {
        const u32 first = allocate(u32((size_t(perFolder + 2) * 32 + cluster - 1) / cluster));
        std::string name = "DIR" + std::to_string(f);
        entry(clusterAt(rootCluster) + 32 * size_t(f), name + std::string(11 - name.size(), ' '), 0x10, first, 0);
        const size_t at = clusterAt(first);
        entry(at, ".          ", 0x10, first, 0);
        entry(at + 32, "..         ", 0x10, 0, 0);
        for (int i = 0; i < perFolder; ++i) {
            char short_[12];
            std::snprintf(short_, sizeof short_, "F%07dCHK", i);
            entry(at + 64 + 32 * size_t(i), short_, 0x20, shared, 4096);
            d[at + 64 + 32 * size_t(i)] = char(0xE5);
        }
    }
    testsupport::WriteFile(image, d);
}

// Starts the driver with arguments (its standard output to output, standard error to errors), waits
// until ready() holds or the driver ends, sends SIGINT and waits for its end; its exit status.
int DriveAndInterrupt(const std::vector<std::string>& arguments, const fs::path& output, const fs::path& errors,
                      const std::function<bool(pid_t)>& ready) {
    const pid_t child = StartDriver(arguments, output, errors);
    if (child < 0) return -1;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (ready(child)) {
            kill(child, SIGINT);
            if (waitpid(child, &status, 0) != child) return -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether the process has file open (a link of /proc/PID/fd names it).
bool HasOpen(pid_t pid, const fs::path& file) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        if (fs::read_symlink(fd.path(), ec) == file) return true;
    return false;
}

// Ctrl-C is an honest end: a run stopped during its scan writes nothing and says so; one stopped during
// its copy-out says how far it came; both end with 130, as a shell reports a process SIGINT ended.
TEST_F(DriverOnHostileImages, SigintEndsWith130AndSaysInterrupted) {
    MakeCrossLinkedFat(dir / "many.img", 4, 20000);
    ASSERT_FALSE(HasFatalFailure());
    const fs::path image = fs::canonical(dir / "many.img");

    // During the scan: as soon as the driver has the image open.
    const int duringScan = DriveAndInterrupt(
        {"--quick", "--list", (dir / "list.txt").string(), "--recover", (dir / "early").string(), image.string()},
        dir / "scan-out.txt", dir / "scan-err.txt", [&](pid_t pid) { return HasOpen(pid, image); });
    EXPECT_EQ(duringScan, 130);
    EXPECT_EQ(testsupport::ReadFile(dir / "scan-out.txt"), "copied 0, failed 0, interrupted\n");
    EXPECT_NE(testsupport::ReadFile(dir / "scan-err.txt").find("brelvox-scan: interrupted during the scan"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "list.txt"));
    EXPECT_FALSE(fs::exists(dir / "early"));

    // During the copy-out: once its first file is there.
    const fs::path out = dir / "out";
    auto copying = [&](pid_t) {
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(out, ec))
            if (entry.is_regular_file()) return true;
        return false;
    };
    const int duringCopy = DriveAndInterrupt({"--quick", "--recover", out.string(), image.string()},
                                             dir / "copy-out.txt", dir / "copy-err.txt", copying);
    EXPECT_EQ(duringCopy, 130);
    const std::string summary = testsupport::ReadFile(dir / "copy-out.txt");
    int copied = -1;
    ASSERT_EQ(std::sscanf(summary.c_str(), "copied %d, failed 0, interrupted\n", &copied), 1) << summary;
    EXPECT_TRUE(summary.ends_with(", interrupted\n")) << summary;
    EXPECT_GT(copied, 0);
    EXPECT_LT(copied, 80000);
    EXPECT_NE(testsupport::ReadFile(dir / "copy-err.txt").find("brelvox-scan: interrupted during the copy-out"),
              std::string::npos);
}

}  // namespace
