#include "fuzz/support/FuzzDevice.h"

#include <algorithm>
#include <cstring>

#include "engine/Common/ResultCode.h"
#include "engine/DeviceRecords/IDeviceData.h"

namespace fuzz {

namespace {

IStorageDeviceData* VolumeRecord(u32 fileSystemType, u32 sectorSize, i64 totalSectors) {
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = fileSystemType;
    record->sectorSize = sectorSize;
    record->totalSectors = totalSectors;
    return CreateVolumeDeviceData(record);
}

}  // namespace

InputDevice::~InputDevice() { delete m_data; }

void InputDevice::SetPrivateData(IStorageDeviceData* data) {
    if (data == m_data) return;
    delete m_data;
    m_data = data;
}

int InputDevice::ReadSector(void* buffer, i64 firstSector, i64 sectorCount) {
    m_lastError = 0;
    if (buffer == nullptr || firstSector < 0 || sectorCount <= 0 || firstSector > m_totalSectors - sectorCount) {
        m_lastError = result::Make(result::kModuleStorage, 1, result::kKindBadArgument);
        return 0;
    }
    FillSectors(static_cast<u8*>(buffer), firstSector, sectorCount);
    return 1;
}

void InputDevice::SetVolumeRecord(u32 fileSystemType) {
    SetPrivateData(VolumeRecord(fileSystemType, m_sectorSize, m_totalSectors));
}

void InputDevice::SetDiskRecord() {
    auto* record = new CCollectDiskDeviceInfoStruct{};
    record->sectorSize = m_sectorSize;
    record->totalSectors = m_totalSectors;
    SetPrivateData(CreateDiskDeviceData(record));
}

FuzzDevice::FuzzDevice(const uint8_t* image, size_t size, u32 sectorSize, i64 totalSectors, u32 type)
    : InputDevice(sectorSize, totalSectors, type),
      m_image(image),
      m_size(image != nullptr ? size : 0),
      m_imageSectors((m_size + sectorSize - 1) / sectorSize) {
    m_totalSectors = std::max<i64>(totalSectors, static_cast<i64>(m_imageSectors));
}

void FuzzDevice::FillSectors(u8* out, i64 firstSector, i64 sectorCount) {
    for (i64 k = 0; k < sectorCount; ++k, out += m_sectorSize) {
        std::memset(out, 0, m_sectorSize);
        if (m_imageSectors == 0) continue;
        const size_t at = static_cast<size_t>(static_cast<u64>(firstSector + k) % m_imageSectors) * m_sectorSize;
        std::memcpy(out, m_image + at, std::min<size_t>(m_sectorSize, m_size - at));
    }
}

PiecesDevice::PiecesDevice(std::vector<Piece> pieces, u32 sectorSize, i64 totalSectors, u32 type)
    : InputDevice(sectorSize, totalSectors, type), m_pieces(std::move(pieces)) {}

void PiecesDevice::FillSectors(u8* out, i64 firstSector, i64 sectorCount) {
    const u64 from = static_cast<u64>(firstSector) * m_sectorSize;
    const u64 length = static_cast<u64>(sectorCount) * m_sectorSize;
    std::memset(out, 0, length);
    for (const Piece& p : m_pieces) {
        const u64 begin = std::max(from, p.offset);
        const u64 end = std::min(from + length, p.offset + p.size);
        if (begin < end) std::memcpy(out + (begin - from), p.data + (begin - p.offset), end - begin);
    }
}

bool ReadDeviceHeader(const uint8_t* data, size_t size, DeviceInput& out) {
    if (size < kDeviceHeaderBytes) return false;
    out.sectorSize = (data[0] & 1) != 0 ? 4096 : 512;
    out.totalSectors = i64{1} << (data[1] % 21);
    out.image = data + kDeviceHeaderBytes;
    out.imageSize = size - kDeviceHeaderBytes;
    return true;
}

}  // namespace fuzz
