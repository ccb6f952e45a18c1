#include "support/DiskReadHook.h"

#include <unistd.h>

#include <cerrno>

#include "engine/StorageDevice/KXReadAsyncData.h"

namespace testsupport {

namespace fs = std::filesystem;

namespace {

// The file an open descriptor reads, as the kernel names it.
fs::path PathOf(int fd) {
    std::error_code error;
    return fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
}

bool IsBelow(const fs::path& path, const fs::path& root) {
    const auto [end, at] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return end == root.end();
}

}  // namespace

DiskReadHook::DiskReadHook(fs::path root, FakeClock& clock) : m_root(fs::weakly_canonical(root)), m_clock(clock) {
    kxread::SetChunkReader([this](int fd, void* buffer, size_t length, std::int64_t offset) {
        return Read(fd, buffer, length, offset);
    });
}

DiskReadHook::~DiskReadHook() {
    StopHolding();
    kxread::SetChunkReader({});
}

void DiskReadHook::HoldReads(std::chrono::milliseconds hold) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holding = true;
    m_hold = hold;
}

void DiskReadHook::StopHolding() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = false;
        ++m_generation;
    }
    m_clock.Wake();
}

void DiskReadHook::FailSectors(const std::string& node, std::uint64_t first, std::uint64_t count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures.push_back({node, first * 512, (first + count) * 512});
}

size_t DiskReadHook::HeldNow() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_held;
}

size_t DiskReadHook::ReadsSeen() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_seen;
}

size_t DiskReadHook::ReadsFailed() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failed;
}

ssize_t DiskReadHook::Read(int fd, void* buffer, size_t length, std::int64_t offset) {
    const fs::path path = PathOf(fd);
    if (IsBelow(path, m_root)) {
        std::uint64_t generation = 0;
        bool hold = false;
        FakeClock::TimePoint until{};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_seen;
            for (const Failure& f : m_failures) {
                const auto begin = std::uint64_t(offset);
                if (path.filename() == f.node && begin < f.endByte && begin + length > f.firstByte) {
                    ++m_failed;
                    errno = EIO;
                    return -1;
                }
            }
            hold = m_holding;
            generation = m_generation;
            // The deadline is taken before the read counts as held: a test that sees it held and
            // moves the clock at once must not move it under a deadline not yet set.
            if (hold) {
                until = m_clock.Now() + m_hold;
                ++m_held;
            }
        }
        if (hold) {
            m_clock.WaitUntil(until, [this, generation] { return m_generation != generation; });
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_held;
        }
    }
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

}  // namespace testsupport
