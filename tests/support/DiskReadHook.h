// Reads of the disks of a fake kernel tree (a UsbStick's "sdb" and "sdb1"), taken in the engine's
// one read path (kxread::SetChunkReader, which every read of a device or image passes): a read can be
// held until the fake clock moves, or fail when it touches a range of sectors. Nothing sleeps: a held
// read waits on the clock. Reads of other files pass untouched.
//
// A held read blocks the engine's reader thread, whose chunk time-out (30 s of real time) still
// runs: move the clock well before that.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "support/FakeClock.h"

namespace testsupport {

class DiskReadHook {
public:
    // Takes the engine's read path for its lifetime (the plain read is back after it); root is the
    // fake tree's folder.
    DiskReadHook(std::filesystem::path root, FakeClock& clock);
    ~DiskReadHook();
    DiskReadHook(const DiskReadHook&) = delete;
    DiskReadHook& operator=(const DiskReadHook&) = delete;

    // From now on each read waits until the clock has moved by hold past the time it began.
    void HoldReads(std::chrono::milliseconds hold = std::chrono::milliseconds(1));
    // Reads go through again; the reads held now go on at once.
    void StopHolding();
    // Reads of the device node named node ("sdb1") that touch any of the 512-byte sectors
    // [first, first + count) fail with EIO (the whole read: the engine reads in chunks of up to 4 MiB).
    void FailSectors(const std::string& node, std::uint64_t first, std::uint64_t count);

    // Reads waiting now; reads of the tree's disks seen and failed so far.
    size_t HeldNow();
    size_t ReadsSeen();
    size_t ReadsFailed();

private:
    struct Failure {
        std::string node;
        std::uint64_t firstByte;
        std::uint64_t endByte;
    };
    ssize_t Read(int fd, void* buffer, size_t length, std::int64_t offset);

    std::filesystem::path m_root;
    FakeClock& m_clock;
    std::mutex m_mutex;
    bool m_holding = false;
    std::chrono::milliseconds m_hold{1};
    std::atomic<std::uint64_t> m_generation{0};  // grows at each StopHolding: the reads held before go
    size_t m_held = 0;
    size_t m_seen = 0;
    size_t m_failed = 0;
    std::vector<Failure> m_failures;
};

}  // namespace testsupport
