// Copies a whole disk or volume, sector by sector, into an image file of the product's own EDI format
// (or into a flat raw image), so that a failing device is read once and its copy scanned instead. The
// copy runs on a joinable worker; progress reaches the delegate on the main thread. One image is made
// at a time: a start while a copy runs is refused.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Common/Types.h"
#include "engine/DeviceRecords/ImageInfoStructs.h"

class IStorageDevice;
class Worker;

// What the delegate gets: the source's sectors, the sectors done, and the job's code (0 until the end).
struct KXEdiProgress {
    u64 totalSectors;
    u64 doneSectors;
    i32 code;
};

namespace edi_code {
inline constexpr int kOk = 0;
inline constexpr int kBadArgument = -2;  // a missing path, no device at the indexes, a copy already running
inline constexpr int kNoBuffer = -3;
inline constexpr int kStopped = -4;
inline constexpr int kOpenSource = -100;
inline constexpr int kRead = -101;  // a read failed, or gave fewer bytes than asked
inline constexpr int kCreate = -102;
inline constexpr int kWrite = -103;  // a write failed or was short
inline constexpr int kNoRecord = -104;  // no disk or volume record, or a sector size of 0
}  // namespace edi_code

class KXMakeDMG {
public:
    // Sectors per read of the source.
    static constexpr u64 kChunkSectors = 8192;
    // The smallest multiple of the sector size above the preamble and the block.
    static u64 DataOffsetFor(u64 sectorSize) { return (1200 / sectorSize + 1) * sectorSize; }

    static KXMakeDMG& KXShareInstance();
    KXMakeDMG();
    ~KXMakeDMG();
    KXMakeDMG(const KXMakeDMG&) = delete;
    KXMakeDMG& operator=(const KXMakeDMG&) = delete;

    // Starts copying the device at (disk, volume) of the device model, read through its node at
    // devicePath, into imagePath (makeRaw 1: the sectors only). 0 when the copy started; its end comes
    // through the delegate.
    int KXStart(const std::string& devicePath, const std::string& imagePath, int disk, int volume, int makeRaw);
    // Fills the information block from the device's disk or volume record; -1 without one.
    int KXGetEdiInfo(IStorageDevice* device);
    // Opens the source node read only and makes the read buffer.
    int KXOpenDevice(const std::string& devicePath);
    void KXCloseDevice();
    // Creates the image file and starts the copy job.
    int KXMakeEdiImp(const std::string& imagePath, int makeRaw);
    // The preamble, the block and the zero fill up to the data offset, at the descriptor's position.
    int KXWriteDMgHEader2(int fd);
    // The same through a C stream.
    int KXWriteDMGHeader(FILE* stream);
    // 0 runs, 1 pauses, 2 stops the copy.
    int KXSetState(int state);
    // Hands the progress of sectors done with code to the delegate on the main thread.
    void KXUpdatePrgoress(u64 doneSectors, int code);
    int KXGetRsfInfo(void*) { return 0; }
    int KXCheckRsfInfo(void*) { return 0; }

    void setKXDelegate(std::function<void(const KXEdiProgress&)> delegate);
    // True while a copy runs.
    bool IsBusy() const { return m_busy.load(); }
    // Waits for the copy job to return (at quitting, in tests).
    void WaitForJob();
    // The information block of the last start.
    CEDIDeviceInfoStruct Info() const;

private:
    // The preamble, the information block and the zero fill up to the data offset.
    std::vector<u8> HeaderBytes() const;
    void Job(int fd, int makeRaw, std::string imagePath);
    int WriteAll(int fd, const void* data, size_t length, off_t offset);

    mutable std::mutex m_mutex;
    CEDIDeviceInfoStruct m_info{};
    int m_device = -1;
    std::shared_ptr<u8[]> m_buffer;  // shared with a read that timed out
    size_t m_bufferBytes = 0;
    std::atomic<int> m_state{0};
    std::atomic<bool> m_busy{false};
    std::shared_ptr<Worker> m_worker;
    std::function<void(const KXEdiProgress&)> m_delegate;
};
