#include "bridge/Device/KXUIDeviceData.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

#include "engine/Common/ResultCode.h"
#include "engine/EnumDevice/EnumDeviceEx.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/ImageDeviceFactory.h"

namespace {

using Shared = std::shared_lock<std::shared_mutex>;
using Alone = std::unique_lock<std::shared_mutex>;

// The partition types that are no user volume: EFI System (C12A7328-F81F-11D2-BA4B-00A0C93EC93B) and
// Apple Boot (426F6F74-0000-11AA-AA11-00306543ECAC), in the GPT's on-disk byte order.
constexpr u8 kEfiSystemGuid[16] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                   0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
constexpr u8 kAppleBootGuid[16] = {0x74, 0x6F, 0x6F, 0x42, 0x00, 0x00, 0xAA, 0x11,
                                   0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC};

// A text field of a fixed-size record, never read past the field.
template <size_t N>
std::string Field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

u64 Capacity(i64 sectorSize, i64 totalSectors) {
    u64 bytes = 0;
    if (sectorSize <= 0 || totalSectors <= 0 || __builtin_mul_overflow(u64(sectorSize), u64(totalSectors), &bytes))
        return 0;
    return bytes;
}

std::vector<IStorageDevice*> ListDisks(IEnumDeviceEx& enumerator) {
    int count = 0;
    if (result::IsFailure(enumerator.EnumDiskDevice(nullptr, count)) || count <= 0) return {};
    std::vector<IStorageDevice*> disks(size_t(count), nullptr);
    if (result::IsFailure(enumerator.EnumDiskDevice(disks.data(), count))) return {};
    disks.resize(size_t(std::clamp(count, 0, int(disks.size()))));
    std::erase(disks, nullptr);
    return disks;
}

// Nothing when the count cannot be had (the disk then gets no entry).
std::optional<std::vector<IStorageDevice*>> ListVolumes(IEnumDeviceEx& enumerator, IStorageDevice* disk) {
    int count = 0;
    if (result::IsFailure(enumerator.EnumVolumeDevice(disk, nullptr, count)) || count < 0) return std::nullopt;
    std::vector<IStorageDevice*> volumes(size_t(count), nullptr);
    if (count == 0) return volumes;
    if (result::IsFailure(enumerator.EnumVolumeDevice(disk, volumes.data(), count))) return std::vector<IStorageDevice*>{};
    volumes.resize(size_t(std::clamp(count, 0, int(volumes.size()))));
    std::erase(volumes, nullptr);
    return volumes;
}

CCollectDiskDeviceInfoStruct* DiskRecordOf(IStorageDevice* device) {
    auto* data = device ? dynamic_cast<IDiskDeviceData*>(device->GetPrivateData()) : nullptr;
    return data ? data->GetDiskInfo() : nullptr;
}

CCollectedVolumeDeviceInfoStruct* VolumeRecordOf(IStorageDevice* device) {
    auto* data = device ? dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData()) : nullptr;
    return data ? data->GetVolumeInfo() : nullptr;
}

CEDIDeviceInfoStruct* EdiBlockOf(IStorageDevice* device) {
    auto* data = device ? dynamic_cast<IEDIDeviceData*>(device->GetPrivateData()) : nullptr;
    return data ? data->GetEDIInfo() : nullptr;
}

CDMGDeviceInfoStruct* DmgRecordOf(IStorageDevice* device) {
    auto* data = device ? dynamic_cast<IDmgDeviceData*>(device->GetPrivateData()) : nullptr;
    return data ? data->GetDMGInfo() : nullptr;
}

// A row never shows an empty name: a disk or volume without one is named by its device path.
void NameByDevicePath(_DiskVolumeData& record) {
    if (!record.name.empty() || record.bsdName.empty()) return;
    record.name = record.bsdName.front() == '/' ? record.bsdName : "/dev/" + record.bsdName;
}

}  // namespace

KXUIDeviceData& KXUIDeviceData::instance() {
    static KXUIDeviceData model;
    return model;
}

KXUIDeviceData::KXUIDeviceData(Config config) : m_config(std::move(config)) {}

KXUIDeviceData::~KXUIDeviceData() {
    Alone hold(m_lock);
    m_volumes.clear();
    m_disks.clear();
}

void KXUIDeviceData::Configure(Config config) {
    Alone hold(m_lock);
    m_config = std::move(config);
    if (m_enumeration) m_retired.push_back(std::move(m_enumeration));
    m_ediImages.clear();
    m_dmgImages.clear();
    m_disks.clear();
    m_volumes.clear();
    m_retired.clear();
    m_state = kNotInitialised;
}

bool KXUIDeviceData::BeginInit() {
    int expected = m_state.load();
    do {
        if (expected == kInitialising) return false;
    } while (!m_state.compare_exchange_weak(expected, kInitialising));
    return true;
}

std::unique_ptr<KXUIDeviceData::Enumeration> KXUIDeviceData::Enumerate() {
    EnumeratorFactory factory;
    brelvox::disks::KernelRoots roots;
    {
        Shared hold(m_lock);
        factory = m_config.enumerator;
        roots = m_config.roots;
    }
    auto enumeration = std::make_unique<Enumeration>();
    enumeration->enumerator = factory ? factory() : std::make_unique<CEnumDeviceEx>(roots);
    if (!enumeration->enumerator || result::IsFailure(enumeration->enumerator->Init())) return nullptr;
    IEnumDeviceEx& enumerator = *enumeration->enumerator;
    enumeration->disks = ListDisks(enumerator);
    for (IStorageDevice* disk : enumeration->disks) {
        if (auto volumes = ListVolumes(enumerator, disk)) enumeration->volumes[disk] = std::move(*volumes);
    }
    return enumeration;
}

bool KXUIDeviceData::InitDeviceInfo() {
    m_state = kInitialising;
    // Enumerated apart (it reads every device): lookups go on meanwhile.
    std::unique_ptr<Enumeration> enumeration = Enumerate();
    Alone hold(m_lock);
    if (m_enumeration) m_retired.push_back(std::move(m_enumeration));
    m_enumeration = std::move(enumeration);
    RebuildMapsLocked();
    // A failed enumeration lists no disk, and the page must not wait for ever: back to state 0.
    const bool enumerated = m_enumeration != nullptr;
    m_state = enumerated ? kReady : kNotInitialised;
    return enumerated;
}

void KXUIDeviceData::Clear() {
    if (m_state.load() != kReady) return;
    Alone hold(m_lock);
    if (m_enumeration) m_retired.push_back(std::move(m_enumeration));
    m_disks.clear();
    m_volumes.clear();
}

int KXUIDeviceData::GetInitState() {
    return m_state.load();
}

void KXUIDeviceData::ReleaseRetired() {
    std::vector<std::unique_ptr<Enumeration>> retired;
    {
        Alone hold(m_lock);
        retired.swap(m_retired);
    }
    // Each enumeration frees its devices when it ends (outside the lock: closing devices takes time).
}

size_t KXUIDeviceData::RetiredCount() {
    Shared hold(m_lock);
    return m_retired.size();
}

void KXUIDeviceData::RebuildMapsLocked() {
    m_disks.clear();
    m_volumes.clear();
    if (m_enumeration) {
        m_disks = m_enumeration->disks;
        m_volumes = m_enumeration->volumes;
    }
    // Opened images are numbered after the enumerated disks, EDI images first, each in order of opening.
    for (auto& image : m_ediImages) m_disks.push_back(image.get());
    for (auto& image : m_dmgImages) m_disks.push_back(image.get());
}

// --- Lookups ---

IStorageDevice* KXUIDeviceData::DiskByIndexLocked(i32 index) const {
    if (index < 0 || size_t(index) >= m_disks.size()) return nullptr;
    return m_disks[size_t(index)];
}

IStorageDevice* KXUIDeviceData::VolumeByIndexLocked(IStorageDevice* disk, i32 index) const {
    if (!disk || index < 0) return nullptr;
    const auto entry = m_volumes.find(disk);
    if (entry == m_volumes.end() || size_t(index) >= entry->second.size()) return nullptr;
    return entry->second[size_t(index)];
}

i32 KXUIDeviceData::DiskIndexLocked(IStorageDevice* device) const {
    if (!device) return -1;
    const auto found = std::find(m_disks.begin(), m_disks.end(), device);
    return found == m_disks.end() ? -1 : i32(found - m_disks.begin());
}

IStorageDevice* KXUIDeviceData::DiskOfVolumeLocked(IStorageDevice* device) const {
    if (!device) return nullptr;
    if (EdiBlockOf(device) || DmgRecordOf(device)) return device;
    for (IStorageDevice* disk : m_disks) {
        const auto entry = m_volumes.find(disk);
        if (entry == m_volumes.end()) continue;
        if (std::find(entry->second.begin(), entry->second.end(), device) != entry->second.end()) return disk;
    }
    return nullptr;
}

i32 KXUIDeviceData::VolumeIndexLocked(IStorageDevice* disk, IStorageDevice* device) const {
    if (!disk || !device) return -1;
    const auto entry = m_volumes.find(disk);
    if (entry == m_volumes.end()) return -1;
    const auto found = std::find(entry->second.begin(), entry->second.end(), device);
    return found == entry->second.end() ? -1 : i32(found - entry->second.begin());
}

bool KXUIDeviceData::IsDiskLocked(IStorageDevice* device) const {
    if (!device) return false;
    const u32 type = device->GetType();
    if (type == STORAGE_DEVICE_EDI || type == STORAGE_DEVICE_DMG) return false;
    return m_volumes.count(device) != 0;
}

IStorageDevice* KXUIDeviceData::GetStorageByDiskVolumeIndex(i32 diskIndex, i32 volumeIndex) {
    Shared hold(m_lock);
    if (diskIndex == -1) return nullptr;
    IStorageDevice* disk = DiskByIndexLocked(diskIndex);
    if (volumeIndex == -1) return disk;
    return VolumeByIndexLocked(disk, volumeIndex);
}

IStorageDevice* KXUIDeviceData::GetDiskStorageByIndex(i32 index) {
    Shared hold(m_lock);
    return DiskByIndexLocked(index);
}

IStorageDevice* KXUIDeviceData::GetVolumeStorageByIndex(IStorageDevice* disk, i32 index) {
    Shared hold(m_lock);
    return VolumeByIndexLocked(disk, index);
}

i32 KXUIDeviceData::GetDiskIndexByStorage(IStorageDevice* device) {
    Shared hold(m_lock);
    return DiskIndexLocked(device);
}

IStorageDevice* KXUIDeviceData::GetDiskStorageByVolumeStorage(IStorageDevice* device) {
    Shared hold(m_lock);
    return DiskOfVolumeLocked(device);
}

i32 KXUIDeviceData::GetVolumeIndexByStorage(IStorageDevice* disk, IStorageDevice* device) {
    Shared hold(m_lock);
    return VolumeIndexLocked(disk, device);
}

bool KXUIDeviceData::GetDiskVolumeIndexByStorage(IStorageDevice* device, i32* diskIndex, i32* volumeIndex) {
    i32 disk = -1, volume = -1;
    bool found = false;
    {
        Shared hold(m_lock);
        if (const i32 index = DiskIndexLocked(device); index != -1) {
            disk = index;
            found = true;
        } else if (IStorageDevice* owner = DiskOfVolumeLocked(device)) {
            disk = DiskIndexLocked(owner);
            volume = VolumeIndexLocked(owner, device);
            found = true;
        }
    }
    if (diskIndex) *diskIndex = disk;
    if (volumeIndex) *volumeIndex = volume;
    return found;
}

bool KXUIDeviceData::IsDiskStorage(IStorageDevice* device) {
    Shared hold(m_lock);
    return IsDiskLocked(device);
}

void KXUIDeviceData::GetDiskVolumeStorage(IStorageDevice* disk, std::vector<IStorageDevice*>& list) {
    Shared hold(m_lock);
    const auto entry = m_volumes.find(disk);
    if (entry != m_volumes.end()) list = entry->second;
}

CCollectedVolumeDeviceInfoStruct* KXUIDeviceData::GetVolumeInfo(IStorageDevice* device) {
    if (!device) return nullptr;
    {
        Shared hold(m_lock);
        if (IsDiskLocked(device)) return nullptr;
    }
    return VolumeRecordOf(device);
}

bool KXUIDeviceData::IsVolumeStorageSupported(IStorageDevice* device) {
    return device && IsSupportVolume(GetVolumeInfo(device));
}

size_t KXUIDeviceData::DiskCount() {
    Shared hold(m_lock);
    return m_disks.size();
}

// --- Rows ---

void KXUIDeviceData::GetAllDeviceInfo(std::vector<_DiskVolumeData>& list) {
    Shared hold(m_lock);
    for (IStorageDevice* disk : m_disks) {
        _DiskVolumeData record;
        if (!DiskRecordLocked(disk, record)) continue;
        // USB disks and opened images only: internal disks and loop devices are not offered.
        if (!record.isUSB && !record.isEdi && !record.isAppleDmg) continue;
        VolumeRecordsLocked(disk, record.subVolumes);
        list.push_back(std::move(record));
    }
}

bool KXUIDeviceData::GetDiskDataByStorage(IStorageDevice* device, _DiskVolumeData& record) {
    Shared hold(m_lock);
    return DiskRecordLocked(device, record);
}

void KXUIDeviceData::GetDiskVolumeInfo(IStorageDevice* disk, std::vector<_DiskVolumeData>& list) {
    Shared hold(m_lock);
    VolumeRecordsLocked(disk, list);
}

bool KXUIDeviceData::GetVolumeDataByStorage(IStorageDevice* device, _DiskVolumeData& record) {
    Shared hold(m_lock);
    return VolumeRecordLocked(device, record);
}

bool KXUIDeviceData::DiskRecordLocked(IStorageDevice* device, _DiskVolumeData& record) const {
    if (!device || !device->GetPrivateData()) return false;
    bool built = false;
    if (auto* disk = dynamic_cast<IDiskDeviceData*>(device->GetPrivateData())) {
        built = GetDiskDataByDiskInfo(disk->GetDiskInfo(), record);
        record.beCanOpen = device->IsPermitted() ? 1 : 0;
    } else if (CEDIDeviceInfoStruct* block = EdiBlockOf(device)) {
        built = GetDiskDataByEdiInfo(block, record);
    } else if (CDMGDeviceInfoStruct* info = DmgRecordOf(device)) {
        built = GetDiskDataByDmgInfo(info, record);
    } else {
        return false;
    }
    record.diskIndex = DiskIndexLocked(device);
    return built;
}

void KXUIDeviceData::VolumeRecordsLocked(IStorageDevice* disk, std::vector<_DiskVolumeData>& list) const {
    if (!disk) return;
    const auto entry = m_volumes.find(disk);
    if (entry == m_volumes.end()) return;
    for (IStorageDevice* volume : entry->second) {
        _DiskVolumeData record;
        record.beCanOpen = volume && volume->IsPermitted() ? 1 : 0;
        if (VolumeRecordLocked(volume, record)) list.push_back(std::move(record));
    }
}

bool KXUIDeviceData::VolumeRecordLocked(IStorageDevice* device, _DiskVolumeData& record) const {
    if (!device || !device->GetPrivateData()) return false;
    if (CCollectedVolumeDeviceInfoStruct* info = VolumeRecordOf(device)) {
        if (!GetVolumeDataByVolumeInfo(info, record)) return false;
        IStorageDevice* disk = DiskOfVolumeLocked(device);
        record.diskIndex = DiskIndexLocked(disk);
        record.volumeIndex = VolumeIndexLocked(disk, device);
        record.bsdName = Field(info->bsdName);
        NameByDevicePath(record);
        record.isSystemVolume = IsSystemVolume(*info) ? 1 : 0;
        return true;
    }
    bool built = false;
    if (CEDIDeviceInfoStruct* block = EdiBlockOf(device))
        built = GetDiskDataByEdiInfo(block, record);
    else if (CDMGDeviceInfoStruct* info = DmgRecordOf(device))
        built = GetDiskDataByDmgInfo(info, record);
    else
        return false;
    if (built) {
        record.diskIndex = DiskIndexLocked(device);
        record.volumeIndex = -1;
    }
    return built;
}

bool KXUIDeviceData::IsSystemVolume(const CCollectedVolumeDeviceInfoStruct& info) const {
    if (!info.mounted) return false;
    const dev_t number = dev_t(u32(info.deviceNumber));
    return brelvox::disks::KernelDisks(m_config.roots).MountPoint(major(number), minor(number)) == "/";
}

bool KXUIDeviceData::GetVolumeDataByVolumeInfo(const CCollectedVolumeDeviceInfoStruct* info, _DiskVolumeData& record) {
    if (!info || info->kind != 0 || !IsSupportVolume(info)) return false;
    record.name = Field(info->volumeName);
    record.capacity = Capacity(info->sectorSize, info->totalSectors);
    record.used = 0;
    record.fileSystem = i32(info->fileSystemType);
    return true;
}

bool KXUIDeviceData::GetDiskDataByDiskInfo(const CCollectDiskDeviceInfoStruct* info, _DiskVolumeData& record) {
    if (!info || info->kind != 0) return false;
    record.name = Field(info->name);
    record.capacity = Capacity(info->sectorSize, info->totalSectors);
    record.used = 0;
    record.bsdName = Field(info->bsdName);
    record.isDmg = info->busType == DISK_BUS_VIRTUAL ? 1 : 0;
    record.isUSB = info->busType == DISK_BUS_USB ? 1 : 0;
    record.isSSD = record.name.find("SSD") != std::string::npos ? 1 : 0;
    NameByDevicePath(record);
    return true;
}

bool KXUIDeviceData::GetDiskDataByEdiInfo(const CEDIDeviceInfoStruct* block, _DiskVolumeData& record) {
    if (!block) return false;
    record.name = Field(block->name);
    record.bsdName = Field(block->path);
    record.capacity = Capacity(i64(block->sectorSize), i64(block->totalSectors));
    record.used = 0;
    record.isDmg = 0;
    record.isAppleDmg = 0;
    record.isSSD = 0;
    record.isEdi = 1;
    record.ediInfo = block;
    record.ediInfoSize = kEdiInfoBlockSize;
    NameByDevicePath(record);
    return true;
}

bool KXUIDeviceData::GetDiskDataByDmgInfo(const CDMGDeviceInfoStruct* info, _DiskVolumeData& record) {
    if (!info) return false;
    record.name = Field(info->name);
    record.bsdName = Field(info->path);
    // An image whose sectors claim more than the file holds shows what the file holds.
    record.capacity = std::min<u64>(Capacity(i64(info->sectorSize), i64(info->totalSectors)), info->fileLength);
    record.used = 0;
    record.isDmg = 0;
    record.isAppleDmg = 1;
    record.isSSD = 0;
    record.isEdi = 0;
    record.dmgInfo = info;
    record.dmgInfoSize = kDmgInfoSize;
    NameByDevicePath(record);
    return true;
}

bool KXUIDeviceData::IsSupportVolume(const CCollectedVolumeDeviceInfoStruct* info) {
    if (!info) return false;
    const CCollectDiskDeviceInfoStruct* disk = DiskRecordOf(info->parentDisk);
    if (!disk) return true;
    switch (disk->partitionScheme) {
        case brelvox::disks::kSchemeMBR:
            return true;
        case brelvox::disks::kSchemeAPM: {
            const std::string content = Field(info->content);
            return content != "Apple_partition_map" && content != "Apple_Free";
        }
        case brelvox::disks::kSchemeGPT:
            return std::memcmp(info->typeGuid, kEfiSystemGuid, 16) != 0 &&
                   std::memcmp(info->typeGuid, kAppleBootGuid, 16) != 0;
        default:
            return true;
    }
}

// --- Images ---

bool KXUIDeviceData::EdiImageOpenLocked(IStorageDevice* device) const {
    const CEDIDeviceInfoStruct* block = EdiBlockOf(device);
    if (!block) return false;
    for (IStorageDevice* disk : m_disks) {
        const CEDIDeviceInfoStruct* other = EdiBlockOf(disk);
        if (other && other->fileSize == block->fileSize && other->sectorSize == block->sectorSize &&
            other->totalSectors == block->totalSectors && other->dataOffset == block->dataOffset &&
            other->creationTime == block->creationTime && Field(other->name) == Field(block->name))
            return true;
    }
    return false;
}

bool KXUIDeviceData::DmgImageOpenLocked(IStorageDevice* device) const {
    const CDMGDeviceInfoStruct* info = DmgRecordOf(device);
    if (!info) return false;
    for (IStorageDevice* disk : m_disks) {
        const CDMGDeviceInfoStruct* other = DmgRecordOf(disk);
        if (other && Field(other->path) == Field(info->path)) return true;
    }
    return false;
}

bool KXUIDeviceData::KXOpenEdiFileImp(const char* path) {
    if (!path) return false;
    std::unique_ptr<IStorageDevice> device(CreateEdiDevice(path));
    if (!device) return false;
    Alone hold(m_lock);
    if (EdiImageOpenLocked(device.get())) return true;  // the same image: its one entry stays
    m_ediImages.push_back(std::move(device));
    RebuildMapsLocked();
    return true;
}

bool KXUIDeviceData::KXOpenDmgFileImp(const char* path, const CDMGDeviceInfoStruct& info) {
    if (!path) return false;
    CDMGDeviceInfoStruct copy = info;
    std::unique_ptr<IStorageDevice> device(CreateDmgDevice(path, &copy));
    if (!device) return false;
    Alone hold(m_lock);
    if (DmgImageOpenLocked(device.get())) return true;
    m_dmgImages.push_back(std::move(device));
    RebuildMapsLocked();
    return true;
}

IStorageDevice* KXUIDeviceData::GetStorageByEdiInfo(void* block, int size, const char* path) {
    return CreateEdiDeviceByEdiInfo(block, size, path);
}

IStorageDevice* KXUIDeviceData::GetStorageByDmgInfo(void* info, int size, const char* path) {
    return CreateDmgDeviceByDmgInfo(info, size, path);
}
