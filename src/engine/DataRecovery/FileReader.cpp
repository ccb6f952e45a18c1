#include "engine/DataRecovery/FileReader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "engine/DataRecovery/RecoveryLog.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/IDataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"

namespace {

// The largest device read asked for at once (the reads' own chunk size).
constexpr size_t kDirectBytes = size_t(4) << 20;
// Resident data lives inside a file record; never fetch more than this, whatever the cluster size says.
constexpr u32 kResidentLimit = u32(1) << 20;

// The file bytes a run list covers, INT64_MAX when that overflows.
i64 RunBytes(IDataRunList& runs, u64 bytesPerCluster) {
    u64 clusters = 0;
    for (DataRun* run = runs.GetFirst(); run; run = runs.GetNext()) {
        if (__builtin_add_overflow(clusters, run->length, &clusters)) return INT64_MAX;
    }
    u64 bytes = 0;
    if (__builtin_mul_overflow(clusters, bytesPerCluster, &bytes) || bytes > u64(INT64_MAX)) return INT64_MAX;
    return i64(bytes);
}

}  // namespace

int CFileReader::Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* partition) {
    if (!device || !node || !partition) {
        RecoveryLog("%s %d\r\n", "Open", 1);
        return 0;
    }
    const u64 bytesPerCluster = u64(partition->m_sectorsPerCluster) * partition->m_sectorSize;
    if (bytesPerCluster == 0 || bytesPerCluster > UINT32_MAX) {
        RecoveryLog("%s %d\r\n", "Open", 2);
        return 0;
    }
    const i64 size = node->GetFileSize();
    if (size <= 0) {
        RecoveryLog("%s %d\r\n", "Open", 3);
        return 0;
    }
    if (!node->GetDataRunList()) {
        RecoveryLog("%s %d\r\n", "Open", 4);
        return 0;
    }
    m_runs = node->GetDataRunList();
    m_device = device;
    m_node = node;
    m_sectorsPerCluster = partition->m_sectorsPerCluster;
    m_bytesPerCluster = static_cast<u32>(bytesPerCluster);
    m_dataSize = size;
    m_cluster0Sector = partition->m_cluster0Sector;
    m_runBytes = m_runs->IsResident() ? i64(kResidentLimit) : RunBytes(*m_runs, m_bytesPerCluster);
    i64 sectors = partition->m_totalSectors > 0 ? partition->m_totalSectors : device->GetTotalSectors();
    const i64 sectorSize = partition->m_totalSectors > 0 ? i64(partition->m_sectorSize) : i64(DeviceSectorSize());
    if (sectors < 0 || __builtin_mul_overflow(sectors, sectorSize, &m_volumeBytes)) m_volumeBytes = INT64_MAX;
    return 1;
}

u32 CFileReader::DeviceSectorSize() const {
    const u32 size = m_device ? m_device->GetSectorSize() : 0;
    return size ? size : 512;
}

bool CFileReader::ClusterToDeviceByte(i64 lcn, i64& byte) const {
    i64 sector = 0;
    if (lcn < 0 || __builtin_mul_overflow(lcn, i64(m_sectorsPerCluster), &sector)) return false;
    if (__builtin_add_overflow(sector, m_cluster0Sector, &sector) || sector < 0) return false;
    return !__builtin_mul_overflow(sector, i64(DeviceSectorSize()), &byte);
}

bool CFileReader::ReadDeviceBytes(i64 deviceByte, u8* out, size_t length) {
    const size_t sectorSize = DeviceSectorSize();
    std::vector<u8> bounce;
    // A sector only partly asked for (at either end of the range) goes through a bounce buffer.
    auto readPart = [&](i64 sector, size_t skip, u8* to, size_t bytes) {
        bounce.resize(sectorSize);
        if (!m_device->ReadSector(bounce.data(), sector, 1)) return false;
        std::memcpy(to, bounce.data() + skip, bytes);
        return true;
    };
    const size_t skip = size_t(deviceByte % i64(sectorSize));
    i64 sector = deviceByte / i64(sectorSize);
    if (skip != 0 && length > 0) {
        const size_t head = std::min(length, sectorSize - skip);
        if (!readPart(sector, skip, out, head)) return false;
        out += head;
        length -= head;
        ++sector;
    }
    // Whole sectors are read straight into the caller's memory, in slices that bound one request; a
    // last partial sector too when the caller's spare room takes the rest of it.
    const size_t tail = length % sectorSize;
    const bool tailInPlace = tail != 0 && sectorSize - tail <= m_spareBytes;
    size_t direct = length - tail + (tailInPlace ? sectorSize : 0);
    while (direct > 0) {
        const size_t sectors = std::max<size_t>(1, std::min(direct, kDirectBytes) / sectorSize);
        if (!m_device->ReadSector(out, sector, i64(sectors))) return false;
        out += sectors * sectorSize;
        direct -= sectors * sectorSize;
        sector += i64(sectors);
    }
    return tail == 0 || tailInPlace || readPart(sector, 0, out, tail);
}

int CFileReader::Read(i64 offset, u8* buffer, int length, int& got, int* error) {
    got = 0;
    if (!buffer || length < 0 || offset < 0 || offset >= m_dataSize) {
        RecoveryLog("%s %d\r\n", "Read", 1);
        return 0;
    }
    if (!m_runs || !m_device) {
        RecoveryLog("%s %d\r\n", "Read", 2);
        return 0;
    }
    const i64 want = std::min<i64>(length, m_dataSize - offset);
    if (m_runs->IsResident()) return ReadResidentData(offset, buffer, u32(want), got);

    const i64 end = offset + want;
    i64 runStart = 0;  // file byte at which the current run begins
    for (DataRun* run = m_runs->GetFirst(); run && offset + got < end; run = m_runs->GetNext()) {
        // A run length from disk may be absurd: cap its byte span at what an i64 can hold.
        const u64 maxClusters = u64(INT64_MAX - runStart) / m_bytesPerCluster;
        const i64 runBytes = run->length > maxClusters ? INT64_MAX - runStart : i64(run->length * m_bytesPerCluster);
        const i64 runEnd = runStart + runBytes;
        const i64 pos = offset + got;
        if (pos >= runStart && pos < runEnd) {
            const i64 take = std::min(runEnd, end) - pos;
            const i64 within = pos - runStart;
            i64 base = 0;
            if (run->start < 0) {
                std::memset(buffer + got, 0, size_t(take));  // no place on the device: zeros
            } else if (!ClusterToDeviceByte(run->start, base) || base > INT64_MAX - within ||
                       !ReadDeviceBytes(base + within, buffer + got, size_t(take))) {
                RecoveryLog("%s %d\r\n", "Read", 3);
                if (error) *error = -1;
                got = 0;
                return 0;
            }
            got += int(take);
        }
        if (runEnd == INT64_MAX) break;
        runStart = runEnd;
    }
    return 1;
}

int CFileReader::FetchResidentStream(u8* buffer, u32 capacity, i64* length) {
    if (!m_node || !m_device || !buffer || !length) return 0;
    return m_node->ReadResidentData(*m_device, buffer, capacity, length);
}

int CFileReader::ReadResidentData(i64 offset, u8* buffer, u32 length, int& got) {
    got = 0;
    if (!buffer || offset < 0) return 0;
    const u32 capacity = u32(std::min<u64>(u64(m_bytesPerCluster) * 8, kResidentLimit));
    std::vector<u8> stream(capacity ? capacity : 1);
    i64 streamLength = 0;
    if (!FetchResidentStream(stream.data(), capacity, &streamLength)) return 0;
    streamLength = std::min<i64>(streamLength, capacity);
    if (streamLength <= offset) return 0;
    const i64 take = std::min<i64>(streamLength - offset, std::min<u64>(length, INT_MAX));
    std::memcpy(buffer, stream.data() + offset, size_t(take));
    got = int(take);
    return 1;
}

u32 CFileReader::ReadData(i64 offset, char* buffer, u32 length, int* error) {
    int got = 0;
    const int asked = int(std::min<u32>(length, INT_MAX));
    if (!Read(offset, reinterpret_cast<u8*>(buffer), asked, got, error)) return 0;
    return u32(got);
}

void CFileReader::CopyFieldsFrom(const CFileReader& other) {
    m_runs = other.m_runs;
    m_device = other.m_device;
    m_node = other.m_node;
    m_bytesPerCluster = other.m_bytesPerCluster;
    m_sectorsPerCluster = other.m_sectorsPerCluster;
    m_dataSize = other.m_dataSize;
    m_cluster0Sector = other.m_cluster0Sector;
    m_runBytes = other.m_runBytes;
    m_volumeBytes = other.m_volumeBytes;
}

IFileReader* CFileReader::Clone() {
    auto* copy = new (std::nothrow) CFileReader;
    if (copy) copy->CopyFieldsFrom(*this);
    return copy;
}

i64 CFileReader::GetDataSize() const { return m_node ? m_node->GetFileSize() : 0; }

i64 CFileReader::GetReadableSize() const {
    const i64 size = GetDataSize();
    return size > m_runBytes && size > m_volumeBytes ? m_runBytes : size;
}

u32 CFileReader::IsCompressFile() { return m_node ? m_node->IsCompressed() : 0; }

void CFileReader::Close() {
    m_device = nullptr;
    m_node = nullptr;
}
