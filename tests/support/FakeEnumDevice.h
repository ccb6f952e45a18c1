// An enumeration of in-memory devices for the device model and the operations: USB or internal disks
// with a partition scheme, volumes with file system, GUID, Apple type, mounted flag and device number,
// made afresh by each Init. Reads of every device made from one description share a control, so a
// test can slow them down or make them fail while a scan runs.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/EnumDevice/IEnumDeviceEx.h"

namespace testsupport {

// What the reads of a family of fake devices do.
struct FakeReadControl {
    std::atomic<int> delayMs{0};      // every read sleeps this long first
    std::atomic<bool> failAll{false};  // every read fails
    std::atomic<long> reads{0};
    // Reads whose range overlaps [failFrom, failTo) fail (sectors of the device read).
    std::atomic<long long> failFrom{-1};
    std::atomic<long long> failTo{-1};
};

// A device of fixed size whose sectors read as the given bytes, or as zeros past them (no memory is
// taken for a large, empty device).
class FakeDevice : public IStorageDevice {
public:
    FakeDevice(u32 type, i64 sectors, u32 sectorSize, std::shared_ptr<const std::vector<u8>> bytes,
               std::shared_ptr<FakeReadControl> control);
    ~FakeDevice() override;

    int Open(const char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override;
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return m_sectors; }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_data; }
    void SetPrivateData(IStorageDeviceData* data) override;
    u32 GetType() override { return m_type; }
    u64 GetLastError() override { return 0; }
    u32 IsPermitted() override { return m_permitted ? 1 : 0; }
    void SetPermitted(bool permitted) { m_permitted = permitted; }

private:
    u32 m_type;
    i64 m_sectors;
    u32 m_sectorSize;
    std::shared_ptr<const std::vector<u8>> m_bytes;
    std::shared_ptr<FakeReadControl> m_control;
    IStorageDeviceData* m_data = nullptr;
    bool m_permitted = true;
};

class FakeEnumDevice : public IEnumDeviceEx {
public:
    struct Volume {
        std::string name;  // the volume name ("" for an unlabelled volume)
        std::string kernelName;
        u32 fileSystem = 2;  // FAT32
        i64 sectors = 2048;
        bool mounted = false;
        dev_t number = 0;
        u8 typeGuid[16] = {};
        std::string content;  // Apple partition map type
        std::shared_ptr<const std::vector<u8>> bytes;
        u32 kind = 0;  // a record status other than 0 is refused by the model
        bool permitted = true;
    };
    struct Disk {
        std::string name;
        std::string kernelName;
        u32 bus = 4;     // USB
        u32 scheme = 1;  // MBR
        i64 sectors = 65536;
        u32 sectorSize = 512;
        dev_t number = 0;
        bool permitted = true;
        bool volumeCountFails = false;
        std::vector<Volume> volumes;
        std::shared_ptr<const std::vector<u8>> bytes;
    };

    // Each Init makes the devices of the descriptions anew; a non-zero code makes Init fail.
    explicit FakeEnumDevice(std::vector<Disk> disks, u64 initCode = 0,
                            std::shared_ptr<FakeReadControl> control = std::make_shared<FakeReadControl>());
    ~FakeEnumDevice() override;

    u64 Init() override;
    u64 Uninit() override;
    u64 EnumDiskDevice(IStorageDevice** array, int& count) override;
    u64 EnumPartitionDevice(IStorageDevice* disk, IStorageDevice** array, int& count) override;
    u64 EnumVolumeDevice(IStorageDevice* disk, IStorageDevice** array, int& count) override;

    // Every live fake enumeration (the model keeps retired ones until they are released).
    static int Alive();

private:
    struct Made {
        std::unique_ptr<FakeDevice> disk;
        std::vector<std::unique_ptr<FakeDevice>> volumes;
        bool volumeCountFails = false;
    };
    const Made* Find(IStorageDevice* disk) const;

    std::vector<Disk> m_disks;
    u64 m_initCode;
    std::shared_ptr<FakeReadControl> m_control;
    std::vector<Made> m_made;
};

// Configures the process's device model with fake enumerations of the descriptions.
std::function<std::unique_ptr<IEnumDeviceEx>()> FakeEnumeratorFactory(
    std::vector<FakeEnumDevice::Disk> disks, u64 initCode = 0,
    std::shared_ptr<FakeReadControl> control = std::make_shared<FakeReadControl>());

}  // namespace testsupport
