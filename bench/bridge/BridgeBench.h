// Shared by the operations-layer benchmarks: the FAT32 benchmark image as the machine's one USB disk,
// the windows' main thread as a pumped queue, and the image made once per folder.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "platform/foundation/MainThreadQueue.h"
#include "platform/foundation/NotificationCenter.h"

namespace bridgebench {

namespace fs = std::filesystem;

// The image as the machine's one USB disk holding one FAT32 volume.
class ImageEnumerator : public IEnumDeviceEx {
public:
    explicit ImageEnumerator(std::string image) : m_image(std::move(image)) {}
    ~ImageEnumerator() override { Uninit(); }

    u64 Init() override {
        m_disk.reset(CreateDiskDevice(m_image.c_str()));
        m_volume.reset(CreateVolumeDevice(m_image.c_str()));
        if (!m_disk || !m_volume || !m_disk->Open(m_image.c_str()) || !m_volume->Open(m_image.c_str()))
            return 0x0103000000000001ULL;
        auto* disk = new CCollectDiskDeviceInfoStruct{};
        disk->busType = DISK_BUS_USB;
        std::snprintf(disk->name, sizeof disk->name, "Benchmark Stick");
        std::snprintf(disk->bsdName, sizeof disk->bsdName, "bench");
        disk->sectorSize = m_disk->GetSectorSize();
        disk->totalSectors = m_disk->GetTotalSectors();
        m_disk->SetPrivateData(CreateDiskDeviceData(disk));
        auto* volume = new CCollectedVolumeDeviceInfoStruct{};
        volume->fileSystemType = FILE_SYSTEM_FAT32;
        std::snprintf(volume->volumeName, sizeof volume->volumeName, "BENCH");
        std::snprintf(volume->bsdName, sizeof volume->bsdName, "bench1");
        volume->sectorSize = m_volume->GetSectorSize();
        volume->totalSectors = m_volume->GetTotalSectors();
        volume->parentDisk = m_disk.get();
        volume->partitionNumber = -1;
        m_volume->SetPrivateData(CreateVolumeDeviceData(volume));
        return 0;
    }
    u64 Uninit() override {
        m_volume.reset();
        m_disk.reset();
        return 0;
    }
    u64 EnumDiskDevice(IStorageDevice** array, int& count) override { return Copy(m_disk.get(), array, count); }
    u64 EnumPartitionDevice(IStorageDevice* disk, IStorageDevice** array, int& count) override {
        return EnumVolumeDevice(disk, array, count);
    }
    u64 EnumVolumeDevice(IStorageDevice* disk, IStorageDevice** array, int& count) override {
        return disk == m_disk.get() ? Copy(m_volume.get(), array, count) : 0x0103000000000005ULL;
    }

private:
    static u64 Copy(IStorageDevice* device, IStorageDevice** array, int& count) {
        if (!array) {
            count = device ? 1 : 0;
            return 0;
        }
        if (device && count >= 1) array[0] = device;
        count = device ? 1 : 0;
        return 0;
    }
    std::string m_image;
    std::unique_ptr<IStorageDevice> m_disk;
    std::unique_ptr<IStorageDevice> m_volume;
};

// The main thread of the windows: its queue, pumped while the workers run.
struct MainThread {
    MainThread() {
        centre.SetMainThreadQueue(&queue);
        KXUIPublic::SetNotificationCenter(&centre);
        centre.AddObserver(this, "NormalScranValue", nullptr, [this](const auto&) { ++refreshes; });
        centre.AddObserver(this, "DoRecovery", nullptr, [this](const auto&) { ++recoveryPosts; });
    }
    ~MainThread() {
        centre.RemoveObserver(this);
        KXUIPublic::SetNotificationCenter(nullptr);
    }
    template <class Done>
    void RunUntil(Done done) {
        while (!done()) {
            queue.Pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        queue.Pump();
    }
    brelvox::foundation::PumpedMainThreadQueue queue;
    brelvox::foundation::NotificationCenter centre;
    int refreshes = 0;
    int recoveryPosts = 0;
};

inline std::string MakeImage(const fs::path& folder, int files) {
    const std::string image = (folder / ("fat32-bench-" + std::to_string(files) + ".img")).string();
    if (fs::exists(image)) return image;
    fs::create_directories(folder);
    std::printf("making %s (%d files)...\n", image.c_str(), files);
    const std::string make = std::string(BRELVOX_BENCH_FAT_DIR) + "/make-image.sh '" + image + "' " + std::to_string(files);
    return std::system(make.c_str()) == 0 ? image : std::string();
}

}  // namespace bridgebench
