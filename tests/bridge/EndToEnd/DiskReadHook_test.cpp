// The read hook of the fake kernel tree's disks: reads through the engine's read path fail where a
// sector range fails and wait, without sleeping, until the fake clock moves; reads of other files and
// of other nodes pass untouched.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "engine/FATLib/FatTestSupport.h"
#include "engine/StorageDevice/KXReadAsyncData.h"
#include "support/DiskReadHook.h"
#include "support/FakeClock.h"
#include "support/TempDir.h"
#include "support/UsbStick.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::DiskReadHook;
using testsupport::FakeClock;
using testsupport::TempDir;
using testsupport::UsbStick;

class Descriptor {
public:
    explicit Descriptor(const fs::path& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// Waits (real time, bounded) for another thread to get somewhere.
template <class Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 60000 && !condition(); ++i) std::this_thread::sleep_for(1ms);
    return condition();
}

struct Stick {
    TempDir dir;
    UsbStick stick{dir / "kernel", fattest::Image("mbr-fat16"), UsbStick::Partition{.start = 2048, .sectors = 36864}};
    std::string bytes = testsupport::ReadFile(stick.tree.Node("sdb1"));
};

std::string Read(int fd, i64 offset, i64 length, i64* result) {
    std::string out(size_t(length), '\xAA');
    *result = KXReadAsyncData(out.data(), fd, offset, length);
    return out;
}

TEST(DiskReadHook, ReadsTouchingAFailingRangeFailAndTheRestPass) {
    Stick s;
    FakeClock clock;
    DiskReadHook hook(s.dir / "kernel", clock);
    hook.FailSectors("sdb1", 4, 2);
    Descriptor partition(s.stick.tree.Node("sdb1"));
    Descriptor disk(s.stick.tree.Node("sdb"));
    TempDir other;
    testsupport::WriteFile(other / "plain.bin", s.bytes.substr(0, 8192));
    Descriptor outside(other / "plain.bin");
    struct Case {
        int fd;
        i64 offset;
        i64 length;
        bool fails;
    };
    const Case cases[] = {
        {partition.fd(), 0, 4096, true},           // sectors 0-7 hold 4 and 5
        {partition.fd(), 5 * 512, 512, true},      // sector 5 alone
        {partition.fd(), 6 * 512, 1024, false},    // sectors 6-7: after the range
        {partition.fd(), 0, 4 * 512, false},       // sectors 0-3: before it
        {disk.fd(), 0, 4096, false},               // the same sectors of another node
        {outside.fd(), 0, 4096, false},            // a file outside the tree
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.fd) + " at " + std::to_string(c.offset));
        i64 result = -1;
        const std::string got = Read(c.fd, c.offset, c.length, &result);
        EXPECT_EQ(result, c.fails ? 0 : c.length);
        if (!c.fails) {
            const std::string& source = c.fd == disk.fd() ? testsupport::ReadFile(s.stick.tree.Node("sdb")) : s.bytes;
            EXPECT_EQ(got, source.substr(size_t(c.offset), size_t(c.length)));
        }
    }
    EXPECT_EQ(hook.ReadsSeen(), 5u) << "the file outside the tree is not the hook's";
    EXPECT_EQ(hook.ReadsFailed(), 2u);
}

TEST(DiskReadHook, AHeldReadWaitsUntilTheClockMovesAndStopHoldingLetsItGo) {
    Stick s;
    FakeClock clock;
    DiskReadHook hook(s.dir / "kernel", clock);
    Descriptor partition(s.stick.tree.Node("sdb1"));
    hook.HoldReads(500ms);
    std::atomic<i64> result{-1};
    std::string got;
    std::thread reader([&] {
        i64 r = 0;
        got = Read(partition.fd(), 1024, 2048, &r);
        result = r;
    });
    ASSERT_TRUE(Eventually([&] { return hook.HeldNow() == 1; }));
    clock.Advance(499ms);
    EXPECT_EQ(hook.HeldNow(), 1u);
    EXPECT_EQ(result.load(), -1);
    clock.Advance(1ms);
    reader.join();
    EXPECT_EQ(result.load(), 2048);
    EXPECT_EQ(got, s.bytes.substr(1024, 2048));
    EXPECT_EQ(hook.HeldNow(), 0u);

    // Held without end, the read goes on once holding stops; the clock never moved.
    hook.HoldReads(24h);
    std::thread second([&] {
        i64 r = 0;
        Read(partition.fd(), 0, 512, &r);
        result = r;
    });
    ASSERT_TRUE(Eventually([&] { return hook.HeldNow() == 1; }));
    hook.StopHolding();
    second.join();
    EXPECT_EQ(result.load(), 512);
}

TEST(DiskReadHook, GoingItGivesTheReadPathBack) {
    Stick s;
    Descriptor partition(s.stick.tree.Node("sdb1"));
    {
        FakeClock clock;
        DiskReadHook hook(s.dir / "kernel", clock);
        hook.FailSectors("sdb1", 0, 1);
    }
    i64 result = -1;
    EXPECT_EQ(Read(partition.fd(), 0, 512, &result), s.bytes.substr(0, 512));
    EXPECT_EQ(result, 512);
}

}  // namespace
