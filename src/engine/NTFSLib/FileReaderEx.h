// Reads a found file's content by byte offset through its run list, cluster by cluster.
#pragma once

#include <vector>

#include "engine/Common/Types.h"

class CFileNode;
class CSearchedPartitionInfo;
class IStorageDevice;

class CFileReaderEx {
public:
    CFileReaderEx() = default;
    ~CFileReaderEx() { Close(); }
    CFileReaderEx(const CFileReaderEx&) = delete;
    CFileReaderEx& operator=(const CFileReaderEx&) = delete;

    // 0 for a null device or node, a zero or absurd cluster size, a size of 0 or a node without runs.
    int Open(IStorageDevice* device, CFileNode* node, i64 cluster0Sector, int sectorsPerCluster);
    // Takes the cluster-0 sector and sectors per cluster from the record.
    int Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* partition);
    // 0 at or past the end; the length is clipped to the file. Sparse runs read as zeros.
    int Read(i64 offset, u8* buffer, int length, int& done);
    int ReadResidentData(i64 offset, u8* buffer, int length, int& done);
    void Close();

    // Clusters above this are refused: a hostile record must not make us allocate gigabytes.
    static constexpr u32 kMaxClusterSize = 32u << 20;

private:
    IStorageDevice* m_device = nullptr;
    CFileNode* m_node = nullptr;
    u32 m_clusterSize = 0;
    u32 m_sectorsPerCluster = 0;
    i64 m_fileSize = 0;
    i64 m_cluster0Sector = 0;
    std::vector<u8> m_buffer;
};
