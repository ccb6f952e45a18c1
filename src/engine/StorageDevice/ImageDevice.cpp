#include "engine/StorageDevice/ImageDevice.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>

#include "engine/EnumDevice/IDeviceData.h"
#include "engine/StorageDevice/KXReadAsyncData.h"
#include "engine/StorageDevice/SectorMath.h"
#include "platform/disks/BlockDevice.h"

using storage_codes::kImage;

CImageDevice::CImageDevice(const char* path) : m_imagePath(path ? path : "") {}

CImageDevice::~CImageDevice() {
    Close();
    delete m_privateData;
}

int CImageDevice::Open(const char* /*path*/) {
    m_lastError = 0;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    int fd = platform::disks::OpenReadOnly(m_imagePath.c_str());
    if (fd < 0) {
        if (errno != ENOENT) std::printf("open failed:%d\n", errno);
        m_lastError = kImage.open;
        return 0;
    }
    m_fd = fd;
    m_sectorSize = 512;
    return 1;
}

int CImageDevice::Close() {
    if (m_fd < 0) return 0;
    ::close(m_fd);
    m_fd = -1;
    return 1;
}

int CImageDevice::ReadSector(void* buffer, i64 firstSector, i64 sectorCount) {
    m_lastError = 0;
    i64 offset = 0;
    i64 length = 0;
    if (!buffer || firstSector < 0 || sectorCount <= 0 || !m_geometryValid ||
        !sector_math::ByteRange(firstSector, sectorCount, m_sectorSize, m_dataOffset, &offset, &length)) {
        m_lastError = kImage.badArgument;
        return 0;
    }
    if (KXReadAsyncData(buffer, m_fd, offset, length) > 0) return 1;
    m_lastError = kImage.read;
    return 0;
}

int CImageDevice::IOCtl(u64 /*code*/, void* /*data*/) {
    m_lastError = kImage.ioctl;
    return 0;
}

void CImageDevice::SetPrivateData(IStorageDeviceData* data) {
    if (data != m_privateData) delete m_privateData;
    m_privateData = data;
    u64 sectorSize = 0;
    u64 totalSectors = 0;
    u64 dataOffset = 0;
    if (!data || !ReadRecordGeometry(data, &sectorSize, &totalSectors, &dataOffset)) return;
    constexpr u64 kMax = static_cast<u64>(std::numeric_limits<i64>::max());
    m_geometryValid = sector_math::IsValidSectorSize(sectorSize) && totalSectors <= kMax && dataOffset <= kMax;
    struct stat st {};
    if (m_geometryValid && m_fd >= 0 && fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode))
        m_geometryValid = dataOffset <= static_cast<u64>(st.st_size);
    if (!m_geometryValid) {
        m_totalSectors = 0;
        return;
    }
    m_sectorSize = static_cast<u32>(sectorSize);
    m_totalSectors = static_cast<i64>(totalSectors);
    m_dataOffset = static_cast<i64>(dataOffset);
}

namespace {

// The record of an image's data holder, with the codes of a missing holder, kind or record.
template <class Holder, class Record, Record* (Holder::*Get)()>
Record* RecordOf(IStorageDeviceData* data, u64* lastError) {
    *lastError = 0;
    if (!data) {
        *lastError = kImage.noPrivateData;
        return nullptr;
    }
    auto* holder = dynamic_cast<Holder*>(data);
    if (!holder) {
        *lastError = kImage.wrongDataKind;
        return nullptr;
    }
    Record* record = (holder->*Get)();
    if (!record) *lastError = kImage.noRecord;
    return record;
}

}  // namespace

CEDIDeviceInfoStruct* CEdiDevice::GetEDIInfo() {
    return RecordOf<IEDIDeviceData, CEDIDeviceInfoStruct, &IEDIDeviceData::GetEDIInfo>(m_privateData, &m_lastError);
}

bool CEdiDevice::ReadRecordGeometry(IStorageDeviceData* data, u64* sectorSize, u64* totalSectors, u64* dataOffset) {
    auto* holder = dynamic_cast<IEDIDeviceData*>(data);
    const CEDIDeviceInfoStruct* record = holder ? holder->GetEDIInfo() : nullptr;
    if (!record) return false;
    *sectorSize = record->sectorSize;
    *totalSectors = record->totalSectors;
    *dataOffset = record->dataOffset;
    return true;
}

CDMGDeviceInfoStruct* CDmgDevice::GetDMGInfo() {
    return RecordOf<IDmgDeviceData, CDMGDeviceInfoStruct, &IDmgDeviceData::GetDMGInfo>(m_privateData, &m_lastError);
}

bool CDmgDevice::ReadRecordGeometry(IStorageDeviceData* data, u64* sectorSize, u64* totalSectors, u64* dataOffset) {
    auto* holder = dynamic_cast<IDmgDeviceData*>(data);
    const CDMGDeviceInfoStruct* record = holder ? holder->GetDMGInfo() : nullptr;
    if (!record) return false;
    *sectorSize = record->sectorSize;
    *totalSectors = record->totalSectors;
    *dataOffset = record->dataOffset;
    return true;
}
