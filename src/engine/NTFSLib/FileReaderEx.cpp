#include "engine/NTFSLib/FileReaderEx.h"

#include <algorithm>
#include <cstring>

#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSLib/ResidentDataStream.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/Utility/SearchedPartitionInfo.h"

int CFileReaderEx::Open(IStorageDevice* device, CFileNode* node, i64 cluster0Sector, int sectorsPerCluster) {
    Close();
    if (!device || !node || sectorsPerCluster <= 0 || cluster0Sector < 0) return 0;
    const u64 clusterSize = static_cast<u64>(device->GetSectorSize()) * static_cast<u64>(sectorsPerCluster);
    if (clusterSize == 0 || clusterSize > kMaxClusterSize) return 0;
    if (node->GetFileSize() <= 0 || !node->GetDataRunList()) return 0;
    m_buffer.assign(static_cast<size_t>(clusterSize), 0);
    m_device = device;
    m_node = node;
    m_clusterSize = static_cast<u32>(clusterSize);
    m_sectorsPerCluster = static_cast<u32>(sectorsPerCluster);
    m_fileSize = node->GetFileSize();
    m_cluster0Sector = cluster0Sector;
    return 1;
}

int CFileReaderEx::Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* partition) {
    if (!partition) return 0;
    return Open(device, node, partition->m_cluster0Sector, static_cast<int>(partition->m_sectorsPerCluster));
}

void CFileReaderEx::Close() {
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    m_device = nullptr;
    m_node = nullptr;
}

int CFileReaderEx::Read(i64 offset, u8* buffer, int length, int& done) {
    done = 0;
    if (!m_node || !buffer || length < 0 || offset < 0 || offset >= m_fileSize) return 0;
    i64 left = std::min<i64>(length, m_fileSize - offset);
    IDataRunList* runs = m_node->GetDataRunList();
    if (!runs) return 0;
    if (runs->IsResident()) return ReadResidentData(offset, buffer, static_cast<int>(left), done);

    const i64 clusterSize = m_clusterSize;
    i64 runFirstVcn = 0;
    for (DataRun* run = runs->GetFirst(); run && left > 0; run = runs->GetNext()) {
        if (run->length > static_cast<u64>(INT64_MAX - runFirstVcn)) return 0;
        const i64 runEndVcn = runFirstVcn + static_cast<i64>(run->length);
        i64 cluster = offset / clusterSize;
        while (left > 0 && cluster >= runFirstVcn && cluster < runEndVcn) {
            const i64 within = offset % clusterSize;
            const i64 take = std::min(clusterSize - within, left);
            if (run->start < 0) {
                // A sparse run has no place on the device: its content is zeros.
                std::memset(buffer + done, 0, static_cast<size_t>(take));
            } else {
                const i64 lcn = run->start + (cluster - runFirstVcn);
                i64 sector = 0;
                if (__builtin_mul_overflow(lcn, static_cast<i64>(m_sectorsPerCluster), &sector) ||
                    __builtin_add_overflow(sector, m_cluster0Sector, &sector))
                    return 0;
                if (!m_device->ReadSector(m_buffer.data(), sector, m_sectorsPerCluster)) return 0;
                std::memcpy(buffer + done, m_buffer.data() + within, static_cast<size_t>(take));
            }
            done += static_cast<int>(take);
            offset += take;
            left -= take;
            ++cluster;
        }
        runFirstVcn = runEndVcn;
    }
    return 1;
}

int CFileReaderEx::ReadResidentData(i64 offset, u8* buffer, int length, int& done) {
    done = 0;
    auto* node = dynamic_cast<CNTFSFileNode*>(m_node);
    if (!node || !m_device || !buffer || length < 0 || offset < 0) return 0;
    std::vector<u8> stream(std::min<size_t>(8 * static_cast<size_t>(m_clusterSize), 1u << 20), 0);
    i64 streamLength = 0;
    if (!GetResidentDataRunsStream(*node, *m_device, &streamLength, stream.data(), static_cast<u32>(stream.size())))
        return 0;
    streamLength = std::min<i64>(streamLength, static_cast<i64>(stream.size()));
    if (streamLength <= offset) return 0;
    const i64 take = std::min<i64>(streamLength - offset, length);
    std::memcpy(buffer, stream.data() + offset, static_cast<size_t>(take));
    done = static_cast<int>(take);
    return 1;
}
