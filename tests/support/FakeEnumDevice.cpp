#include "support/FakeEnumDevice.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/Common/ResultCode.h"

namespace testsupport {

namespace {

std::atomic<int> g_alive{0};

constexpr u64 kNotInitialised = result::Make(0x03, 0x0001, 1);
constexpr u64 kUnknownDisk = result::Make(0x03, 0x0002, 5);
constexpr u64 kTooSmall = result::Make(0x03, 0x0003, 9);

template <size_t N>
void Copy(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

u64 CopyOut(const std::vector<IStorageDevice*>& devices, IStorageDevice** array, int& count) {
    if (!array) {
        count = int(devices.size());
        return 0;
    }
    if (count < int(devices.size())) return kTooSmall;
    std::copy(devices.begin(), devices.end(), array);
    count = int(devices.size());
    return 0;
}

}  // namespace

FakeDevice::FakeDevice(u32 type, i64 sectors, u32 sectorSize, std::shared_ptr<const std::vector<u8>> bytes,
                       std::shared_ptr<FakeReadControl> control)
    : m_type(type), m_sectors(sectors), m_sectorSize(sectorSize), m_bytes(std::move(bytes)), m_control(std::move(control)) {}

FakeDevice::~FakeDevice() {
    delete m_data;
}

void FakeDevice::SetPrivateData(IStorageDeviceData* data) {
    delete m_data;
    m_data = data;
}

int FakeDevice::ReadSector(void* buffer, i64 firstSector, i64 sectorCount) {
    if (!buffer || firstSector < 0 || sectorCount < 0 || firstSector + sectorCount > m_sectors) return 0;
    if (m_control) {
        m_control->reads.fetch_add(1);
        if (const int delay = m_control->delayMs.load(); delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        if (m_control->failAll.load()) return 0;
        const long long from = m_control->failFrom.load(), to = m_control->failTo.load();
        if (from >= 0 && firstSector < to && firstSector + sectorCount > from) return 0;
    }
    const size_t offset = size_t(firstSector) * m_sectorSize;
    const size_t length = size_t(sectorCount) * m_sectorSize;
    auto* out = static_cast<u8*>(buffer);
    std::memset(out, 0, length);
    if (m_bytes && offset < m_bytes->size())
        std::memcpy(out, m_bytes->data() + offset, std::min(length, m_bytes->size() - offset));
    return 1;
}

FakeEnumDevice::FakeEnumDevice(std::vector<Disk> disks, u64 initCode, std::shared_ptr<FakeReadControl> control)
    : m_disks(std::move(disks)), m_initCode(initCode), m_control(std::move(control)) {
    g_alive.fetch_add(1);
}

FakeEnumDevice::~FakeEnumDevice() {
    Uninit();
    g_alive.fetch_sub(1);
}

int FakeEnumDevice::Alive() {
    return g_alive.load();
}

u64 FakeEnumDevice::Init() {
    Uninit();
    if (m_initCode) return m_initCode;
    for (const Disk& shape : m_disks) {
        Made made;
        made.volumeCountFails = shape.volumeCountFails;
        made.disk = std::make_unique<FakeDevice>(STORAGE_DEVICE_DISK, shape.sectors, shape.sectorSize, shape.bytes, m_control);
        made.disk->SetPermitted(shape.permitted);
        auto* record = new CCollectDiskDeviceInfoStruct{};
        record->busType = shape.bus;
        record->partitionScheme = shape.scheme;
        Copy(record->name, shape.name);
        Copy(record->bsdName, shape.kernelName);
        record->sectorSize = shape.sectorSize;
        record->totalSectors = shape.sectors;
        record->deviceNumber = i32(shape.number);
        made.disk->SetPrivateData(CreateDiskDeviceData(record));
        for (const Volume& v : shape.volumes) {
            auto volume =
                std::make_unique<FakeDevice>(STORAGE_DEVICE_VOLUME, v.sectors, shape.sectorSize, v.bytes, m_control);
            volume->SetPermitted(v.permitted);
            auto* info = new CCollectedVolumeDeviceInfoStruct{};
            info->kind = v.kind;
            info->fileSystemType = v.fileSystem;
            Copy(info->label, v.name);
            Copy(info->volumeName, v.name);
            Copy(info->bsdName, v.kernelName);
            info->sectorSize = shape.sectorSize;
            info->totalSectors = v.sectors;
            info->deviceNumber = i32(v.number);
            info->parentDisk = made.disk.get();
            std::memcpy(info->typeGuid, v.typeGuid, 16);
            Copy(info->content, v.content);
            info->mounted = v.mounted ? 1 : 0;
            volume->SetPrivateData(CreateVolumeDeviceData(info));
            made.volumes.push_back(std::move(volume));
        }
        m_made.push_back(std::move(made));
    }
    return 0;
}

u64 FakeEnumDevice::Uninit() {
    // Volumes name their disk: they go first.
    for (Made& made : m_made) made.volumes.clear();
    m_made.clear();
    return 0;
}

const FakeEnumDevice::Made* FakeEnumDevice::Find(IStorageDevice* disk) const {
    for (const Made& made : m_made)
        if (made.disk.get() == disk) return &made;
    return nullptr;
}

u64 FakeEnumDevice::EnumDiskDevice(IStorageDevice** array, int& count) {
    if (m_made.empty() && m_initCode) return kNotInitialised;
    std::vector<IStorageDevice*> disks;
    for (const Made& made : m_made) disks.push_back(made.disk.get());
    return CopyOut(disks, array, count);
}

u64 FakeEnumDevice::EnumPartitionDevice(IStorageDevice* disk, IStorageDevice** array, int& count) {
    return EnumVolumeDevice(disk, array, count);
}

u64 FakeEnumDevice::EnumVolumeDevice(IStorageDevice* disk, IStorageDevice** array, int& count) {
    const Made* made = Find(disk);
    if (!made || made->volumeCountFails) return kUnknownDisk;
    std::vector<IStorageDevice*> volumes;
    for (const auto& v : made->volumes) volumes.push_back(v.get());
    return CopyOut(volumes, array, count);
}

std::function<std::unique_ptr<IEnumDeviceEx>()> FakeEnumeratorFactory(std::vector<FakeEnumDevice::Disk> disks,
                                                                      u64 initCode,
                                                                      std::shared_ptr<FakeReadControl> control) {
    return [disks = std::move(disks), initCode, control]() -> std::unique_ptr<IEnumDeviceEx> {
        return std::make_unique<FakeEnumDevice>(disks, initCode, control);
    };
}

}  // namespace testsupport
