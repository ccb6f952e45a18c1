// The device model of the windows: the disks that the engine's enumeration reports, their volumes,
// and the disk images the user opened. Disks are numbered from 0 (enumerated disks, then EDI images,
// then Apple images, in order of opening) and volumes by their position in their disk's list; the
// windows and the operations name a device by that pair and ask here for the device behind it.
//
// One lock guards the model: lookups share it, enumeration and image opening take it alone. An
// enumeration is built apart and swapped in; the enumeration it replaces is kept (retired) until
// ReleaseRetired, because the results of a finished scan still read its devices.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <shared_mutex>
#include <vector>

#include "bridge/Utilities/DiskVolumeData.h"
#include "engine/EnumDevice/IEnumDeviceEx.h"
#include "engine/DeviceRecords/ImageInfoStructs.h"
#include "platform/disks/KernelDisks.h"

struct CCollectDiskDeviceInfoStruct;
struct CCollectedVolumeDeviceInfoStruct;

class KXUIDeviceData {
public:
    using EnumeratorFactory = std::function<std::unique_ptr<IEnumDeviceEx>()>;
    struct Config {
        // Makes a fresh enumeration for each InitDeviceInfo; the kernel's view under roots when empty.
        EnumeratorFactory enumerator;
        // The kernel's view: mount points (the system volume is the one mounted at "/") and, for the
        // default enumerator and the same-device test, the devices.
        brelvox::disks::KernelRoots roots;
    };
    enum InitState : int { kNotInitialised = 0, kInitialising = 1, kReady = 2 };

    static KXUIDeviceData& instance();

    explicit KXUIDeviceData(Config config = {});
    ~KXUIDeviceData();
    KXUIDeviceData(const KXUIDeviceData&) = delete;
    KXUIDeviceData& operator=(const KXUIDeviceData&) = delete;

    // Takes a new configuration (tests): the enumeration is retired, the images closed, state 0.
    // Only while no scan or recovery uses the model.
    void Configure(Config config);
    const Config& GetConfig() const { return m_config; }

    // --- Enumeration ---
    // Moves the state to 1 unless it is 1 already (then false: an enumeration is under way).
    bool BeginInit();
    // Enumerates the devices. On success the maps are rebuilt and the state is 2; on failure no disk is
    // enumerated and the state goes back to 0 (opened images stay numbered). Answers success.
    bool InitDeviceInfo();
    // In state 2: the enumeration is retired and the maps emptied (the images stay). State stays 2.
    void Clear();
    int GetInitState();
    // Frees the enumerations replaced since the last call. Call only when nothing can still read a
    // device of theirs (the scan does it when it starts, after releasing the previous results).
    void ReleaseRetired();
    size_t RetiredCount();

    // --- Lookups (an index of -1 names no disk or no volume) ---
    IStorageDevice* GetStorageByDiskVolumeIndex(i32 diskIndex, i32 volumeIndex);
    IStorageDevice* GetDiskStorageByIndex(i32 index);
    IStorageDevice* GetVolumeStorageByIndex(IStorageDevice* disk, i32 index);
    i32 GetDiskIndexByStorage(IStorageDevice* device);
    // The disk of a volume; an image is its own disk.
    IStorageDevice* GetDiskStorageByVolumeStorage(IStorageDevice* device);
    i32 GetVolumeIndexByStorage(IStorageDevice* disk, IStorageDevice* device);
    bool GetDiskVolumeIndexByStorage(IStorageDevice* device, i32* diskIndex, i32* volumeIndex);
    // An enumerated disk (an image is not).
    bool IsDiskStorage(IStorageDevice* device);
    // Copies the disk's volumes into list (left alone when the disk has no entry).
    void GetDiskVolumeStorage(IStorageDevice* disk, std::vector<IStorageDevice*>& list);
    // The volume record of a volume; null for a disk, an image or a device without one.
    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo(IStorageDevice* device);
    bool IsVolumeStorageSupported(IStorageDevice* device);
    size_t DiskCount();

    // --- Rows of the device page ---
    // One record per USB disk, with its supported volumes as children, and one per opened image, in
    // index order. Internal disks and loop devices are left out.
    void GetAllDeviceInfo(std::vector<_DiskVolumeData>& list);
    bool GetDiskDataByStorage(IStorageDevice* device, _DiskVolumeData& record);
    void GetDiskVolumeInfo(IStorageDevice* disk, std::vector<_DiskVolumeData>& list);
    bool GetVolumeDataByStorage(IStorageDevice* device, _DiskVolumeData& record);

    // Record builders over the engine's information records.
    static bool GetVolumeDataByVolumeInfo(const CCollectedVolumeDeviceInfoStruct* info, _DiskVolumeData& record);
    static bool GetDiskDataByDiskInfo(const CCollectDiskDeviceInfoStruct* info, _DiskVolumeData& record);
    static bool GetDiskDataByEdiInfo(const CEDIDeviceInfoStruct* block, _DiskVolumeData& record);
    static bool GetDiskDataByDmgInfo(const CDMGDeviceInfoStruct* info, _DiskVolumeData& record);
    // False for the EFI system and Apple boot partitions of GUID disks and for the map and free-space
    // entries of Apple partition maps.
    static bool IsSupportVolume(const CCollectedVolumeDeviceInfoStruct* info);

    // --- Opened images ---
    // Opens the EDI image at path and numbers it after the disks. The same image opened again keeps
    // its one entry; both answer true. False when it cannot be opened.
    bool KXOpenEdiFileImp(const char* path);
    // The same for a flat or UDIF image with its record (read by the image parser).
    bool KXOpenDmgFileImp(const char* path, const CDMGDeviceInfoStruct& info);
    // The devices of a saved result's image records, opened anew; null when they cannot be.
    IStorageDevice* GetStorageByEdiInfo(void* block, int size, const char* path);
    IStorageDevice* GetStorageByDmgInfo(void* info, int size, const char* path);

private:
    struct Enumeration {
        std::unique_ptr<IEnumDeviceEx> enumerator;
        std::vector<IStorageDevice*> disks;
        std::map<IStorageDevice*, std::vector<IStorageDevice*>> volumes;
    };

    std::unique_ptr<Enumeration> Enumerate();
    void RebuildMapsLocked();
    IStorageDevice* DiskByIndexLocked(i32 index) const;
    IStorageDevice* VolumeByIndexLocked(IStorageDevice* disk, i32 index) const;
    i32 DiskIndexLocked(IStorageDevice* device) const;
    IStorageDevice* DiskOfVolumeLocked(IStorageDevice* device) const;
    i32 VolumeIndexLocked(IStorageDevice* disk, IStorageDevice* device) const;
    bool IsDiskLocked(IStorageDevice* device) const;
    bool DiskRecordLocked(IStorageDevice* device, _DiskVolumeData& record) const;
    bool VolumeRecordLocked(IStorageDevice* device, _DiskVolumeData& record) const;
    void VolumeRecordsLocked(IStorageDevice* disk, std::vector<_DiskVolumeData>& list) const;
    bool IsSystemVolume(const CCollectedVolumeDeviceInfoStruct& info) const;
    bool EdiImageOpenLocked(IStorageDevice* device) const;
    bool DmgImageOpenLocked(IStorageDevice* device) const;

    Config m_config;
    std::shared_mutex m_lock;
    std::atomic<int> m_state{kNotInitialised};
    std::unique_ptr<Enumeration> m_enumeration;
    std::vector<std::unique_ptr<Enumeration>> m_retired;
    std::vector<std::unique_ptr<IStorageDevice>> m_ediImages;
    std::vector<std::unique_ptr<IStorageDevice>> m_dmgImages;
    // The disk map: index -> device.
    std::vector<IStorageDevice*> m_disks;
    // The volume map: disk -> its volumes in the enumeration's order.
    std::map<IStorageDevice*, std::vector<IStorageDevice*>> m_volumes;
};
