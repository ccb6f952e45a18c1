// The EDI image writer over disks of a fake kernel tree: the byte layout for 512- and 4096-byte
// sectors, raw copies, a round trip through the engine's EDI reader, and the ends of a copy that fails:
// stopped, a read error, a short read, a write error; one copy at a time, and pause and resume.
#include "bridge/Device/KXMakeDMG.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/EnumDevice/ImageDeviceFactory.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/KXReadAsyncData.h"
#include "platform/disks/TimedReader.h"
#include "support/FakeKernelTree.h"
#include "support/FakeWindowSide.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::FakeKernelTree;
using testsupport::FakeWindowSide;
using testsupport::TempDir;

// Every byte tells its sector and place, so shifted or zeroed data shows.
std::string Pattern(u64 bytes, u32 sectorSize) {
    std::string d(bytes, '\0');
    for (u64 i = 0; i < bytes; ++i) d[i] = char((i / sectorSize) * 31 + (i % sectorSize) * 7 + 1);
    return d;
}

// One USB disk "sdb" of the given bytes and sector size in a fake kernel tree, enumerated (the device
// list holds disks of 8 MiB and more).
struct Source {
    Source(const TempDir& dir, u64 sectors, u32 sectorSize)
        : tree(dir / "kernel"), bytes(Pattern(sectors * sectorSize, sectorSize)) {
        tree.AddDisk({.name = "sdb",
                      .major = 8,
                      .minor = 16,
                      .size512 = sectors * sectorSize / 512,
                      .blockSize = sectorSize,
                      .removable = true,
                      .vendor = "Brelvox",
                      .model = "Edi Source",
                      .udev = {"ID_BUS=usb"}});
        testsupport::WriteFile(tree.Node("sdb"), bytes);
        KXUIDeviceData::Config config;
        config.roots = tree.Roots();
        window = std::make_unique<FakeWindowSide>(FakeWindowSide::Options{.devices = config});
        window->Controller().NotifiyDeviceInfoAfterInit(ui_notification::kInitFinished);
        EXPECT_TRUE(window->RunUntil([&] { return window->Count(ui_notification::kInitFinished) == 1; }));
        KXMakeDMG::KXShareInstance().setKXDelegate([this](const KXEdiProgress& p) { progress.push_back(p); });
    }
    ~Source() {
        KXMakeDMG::KXShareInstance().WaitForJob();
        KXMakeDMG::KXShareInstance().setKXDelegate(nullptr);
        kxread::SetChunkReader({});
    }
    int Start(const fs::path& image, int makeRaw = 0) {
        return KXMakeDMG::KXShareInstance().KXStart(tree.Node("sdb").string(), image.string(), 0, -1, makeRaw);
    }
    // Waits for the job's last progress; its code.
    int Finish() {
        KXMakeDMG::KXShareInstance().WaitForJob();
        EXPECT_TRUE(window->RunUntil([&] { return !KXMakeDMG::KXShareInstance().IsBusy(); }));
        window->Pump();
        return progress.empty() ? 1 : progress.back().code;
    }

    FakeKernelTree tree;
    std::string bytes;
    std::unique_ptr<FakeWindowSide> window;
    std::vector<KXEdiProgress> progress;
};

template <class T>
T At(const std::string& file, size_t offset) {
    T v{};
    std::memcpy(&v, file.data() + offset, sizeof v);
    return v;
}

}  // namespace

TEST(MakeEdi, TheLayoutOfAnEdiImageOf512ByteSectors) {
    TempDir dir;
    Source source(dir, 2 * 8192 + 1, 512);
    std::atomic<u64> asked{0}, end{0};
    kxread::SetChunkReader([&](int fd, void* buffer, size_t length, std::int64_t offset) {
        asked += length;
        u64 last = end.load();
        while (u64(offset) + length > last && !end.compare_exchange_weak(last, u64(offset) + length)) {
        }
        return platform::disks::ReadOnce(fd, buffer, length, offset);
    });
    const time_t before = time(nullptr);
    ASSERT_EQ(source.Start(dir / "copy.edi"), 0);
    ASSERT_EQ(source.Finish(), 0);
    EXPECT_EQ(asked.load(), source.bytes.size()) << "each sector asked for once: the last read asks for one sector";
    EXPECT_EQ(end.load(), source.bytes.size());

    const std::string file = testsupport::ReadFile(dir / "copy.edi");
    ASSERT_EQ(file.size(), 1536 + source.bytes.size());
    EXPECT_EQ(file.substr(0, 4), std::string("edi\0", 4));
    EXPECT_EQ(At<u32>(file, 4), 1192u);
    EXPECT_EQ(At<u64>(file, 8), 512u);
    EXPECT_EQ(At<u64>(file, 16), 16385u);
    EXPECT_EQ(At<u64>(file, 24), 1536u);
    EXPECT_EQ(At<u64>(file, 32), file.size()) << "the end offset, written at the finish";
    EXPECT_STREQ(file.data() + 40, "Brelvox Edi Source");
    EXPECT_EQ(std::string(file.data() + 168), (dir / "copy.edi").string());
    EXPECT_GE(At<u64>(file, 1192), u64(before));
    EXPECT_LE(At<u64>(file, 1192), u64(time(nullptr)));
    EXPECT_EQ(file.substr(1200, 336), std::string(336, '\0'));
    EXPECT_TRUE(file.compare(1536, std::string::npos, source.bytes) == 0) << "the data from 1536, as read";

    ASSERT_FALSE(source.progress.empty());
    EXPECT_EQ(source.progress.back().doneSectors, 16385u);
    EXPECT_EQ(source.progress.back().totalSectors, 16385u);
}

// 4096-byte sectors put the data at 4096; the engine's EDI reader gives every sector back.
TEST(MakeEdi, FourKibSectorsAndTheRoundTripThroughTheEngine) {
    TempDir dir;
    Source source(dir, 2100, 4096);
    ASSERT_EQ(source.Start(dir / "copy.edi"), 0);
    ASSERT_EQ(source.Finish(), 0);
    const std::string file = testsupport::ReadFile(dir / "copy.edi");
    EXPECT_EQ(At<u64>(file, 8 + 16), 4096u);
    EXPECT_EQ(file.size(), 4096 + source.bytes.size());

    std::unique_ptr<IStorageDevice> device(CreateEdiDevice((dir / "copy.edi").c_str()));
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->GetSectorSize(), 4096u);
    ASSERT_EQ(device->GetTotalSectors(), 2100);
    std::string back(source.bytes.size(), '\0');
    ASSERT_GT(device->ReadSector(back.data(), 0, 2100), 0);
    EXPECT_TRUE(back == source.bytes);
}

TEST(MakeEdi, ARawCopyIsTheSourceByteForByte) {
    TempDir dir;
    Source source(dir, 2 * 8192 + 1, 512);
    ASSERT_EQ(source.Start(dir / "copy.img", 1), 0);
    ASSERT_EQ(source.Finish(), 0);
    EXPECT_TRUE(testsupport::ReadFile(dir / "copy.img") == source.bytes);
}

// A copy that does not end whole leaves no file: stopped, a failed read, a short read in the middle, a
// write the file system refuses.
TEST(MakeEdi, AFailedCopyEndsWithItsCodeAndNoFile) {
    struct Case {
        const char* what;
        std::function<platform::disks::ReadFunction()> reader;
        int code;
    };
    const std::vector<Case> cases = {
        {"stopped after the first chunk",
         [] {
             return [](int fd, void* b, size_t n, std::int64_t off) {
                 KXMakeDMG::KXShareInstance().KXSetState(2);
                 return platform::disks::ReadOnce(fd, b, n, off);
             };
         },
         edi_code::kStopped},
        {"a read error in the second chunk",
         [] {
             return [](int fd, void* b, size_t n, std::int64_t off) -> ssize_t {
                 if (off > 0) return -1;
                 return platform::disks::ReadOnce(fd, b, n, off);
             };
         },
         edi_code::kRead},
        {"a short read in the middle of the device",
         [] {
             return [](int fd, void* b, size_t n, std::int64_t off) {
                 return platform::disks::ReadOnce(fd, b, off == 0 ? n / 2 : n, off);
             };
         },
         edi_code::kRead},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Source source(dir, 3 * 8192, 512);
        kxread::SetChunkReader(c.reader());
        ASSERT_EQ(source.Start(dir / "copy.edi"), 0);
        EXPECT_EQ(source.Finish(), c.code);
        EXPECT_FALSE(fs::exists(dir / "copy.edi"));
    }

    // The file system refuses to grow the file past 1 MiB.
    TempDir dir;
    Source source(dir, 3 * 8192, 512);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1 << 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ASSERT_EQ(source.Start(dir / "copy.edi"), 0);
    const int code = source.Finish();
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(code, edi_code::kWrite);
    EXPECT_FALSE(fs::exists(dir / "copy.edi"));
}

// A paused copy holds its place; a second start is refused meanwhile; resumed, it ends with the same
// bytes as an uninterrupted copy.
TEST(MakeEdi, PauseHoldsAndASecondStartIsRefused) {
    TempDir dir;
    Source source(dir, 3 * 8192, 512);
    std::atomic<u64> asked{0};
    kxread::SetChunkReader([&](int fd, void* b, size_t n, std::int64_t off) {
        if (off == 0) KXMakeDMG::KXShareInstance().KXSetState(1);
        asked += n;
        return platform::disks::ReadOnce(fd, b, n, off);
    });
    ASSERT_EQ(source.Start(dir / "copy.img", 1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(asked.load(), 8192u * 512) << "paused after its first chunk";
    EXPECT_TRUE(KXMakeDMG::KXShareInstance().IsBusy());
    EXPECT_EQ(source.Start(dir / "other.img", 1), edi_code::kBadArgument);
    EXPECT_FALSE(fs::exists(dir / "other.img"));
    KXMakeDMG::KXShareInstance().KXSetState(0);
    ASSERT_EQ(source.Finish(), 0);
    EXPECT_EQ(asked.load(), source.bytes.size());
    EXPECT_TRUE(testsupport::ReadFile(dir / "copy.img") == source.bytes);
}

TEST(MakeEdi, StartsThatCannotRun) {
    TempDir dir;
    Source source(dir, 2 * 8192, 512);
    KXMakeDMG& maker = KXMakeDMG::KXShareInstance();
    EXPECT_EQ(maker.KXStart("", (dir / "a.edi").string(), 0, -1, 0), edi_code::kBadArgument);
    EXPECT_EQ(maker.KXStart(source.tree.Node("sdb").string(), "", 0, -1, 0), edi_code::kBadArgument);
    EXPECT_EQ(maker.KXStart(source.tree.Node("sdb").string(), (dir / "a.edi").string(), 5, -1, 0),
              edi_code::kBadArgument);
    EXPECT_EQ(maker.KXStart((dir / "missing").string(), (dir / "a.edi").string(), 0, -1, 0), edi_code::kOpenSource);
    EXPECT_EQ(maker.KXStart(source.tree.Node("sdb").string(), (dir / "no folder" / "a.edi").string(), 0, -1, 0),
              edi_code::kCreate);
    EXPECT_EQ(maker.KXStart(source.tree.Node("sdb").string(), "/" + std::string(1100, 'a'), 0, -1, 0),
              edi_code::kBadArgument);
    // The image is never written over what it copies (the disk's node here, or a link to it).
    fs::create_symlink(source.tree.Node("sdb"), dir / "link.edi");
    for (const fs::path& image : {source.tree.Node("sdb"), dir / "link.edi"})
        EXPECT_EQ(maker.KXStart(source.tree.Node("sdb").string(), image.string(), 0, -1, 0), edi_code::kCreate) << image;
    EXPECT_TRUE(testsupport::ReadFile(source.tree.Node("sdb")) == source.bytes) << "the source is unchanged";
    EXPECT_FALSE(maker.IsBusy());
    EXPECT_EQ(maker.KXGetEdiInfo(nullptr), -1);
    EXPECT_EQ(maker.KXWriteDMgHEader2(-1), edi_code::kBadArgument);
    EXPECT_EQ(maker.KXWriteDMGHeader(nullptr), edi_code::kBadArgument);
    EXPECT_EQ(maker.KXGetRsfInfo(nullptr), 0);
    EXPECT_EQ(maker.KXCheckRsfInfo(nullptr), 0);
}
