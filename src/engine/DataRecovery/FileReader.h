// Reads a found file's data through its data runs, or from its NTFS file record when the data is
// resident. Every read delivers exactly the bytes asked for from the exact offset, at any alignment;
// runs without a place on the device (sparse) read as zeros.
#pragma once

#include <cstddef>

#include "engine/DataRecovery/IFileReader.h"

class CFileNode;
class IDataRunList;
class IStorageDevice;
class CSearchedPartitionInfo;

class CFileReader : public IFileReader {
public:
    CFileReader() = default;
    ~CFileReader() override = default;

    // Non-zero on success; fails for a null argument, a zero cluster size, a zero data size or a node
    // without a run list.
    int Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* partition) override;
    // Reads from offset, length cut at the data size; got receives the bytes delivered (fewer when the
    // runs cover less than the size). Fails at or past the size, without runs, or when the device
    // refuses a read (then *error = -1).
    int Read(i64 offset, u8* buffer, int length, int& got, int* error);
    int ReadResidentData(i64 offset, u8* buffer, u32 length, int& got);

    u32 ReadData(i64 offset, char* buffer, u32 length, int* error) override;
    IFileReader* Clone() override;
    i64 GetDataSize() const override;
    // A recorded size above both the bytes the runs cover and the volume's size is cut to the runs.
    i64 GetReadableSize() const override;
    u32 IsCompressFile() override;
    void Release() override { delete this; }
    void Close();

    // The caller's buffers have this many bytes of room past every read: a last sector only partly
    // asked for is then read into them in place rather than through a second, bounced read. The bytes
    // past the ones read are left undefined. Clones start without room.
    void SetSpareBytes(size_t bytes) { m_spareBytes = bytes; }

    IStorageDevice* GetDevice() const { return m_device; }
    CFileNode* GetNode() const { return m_node; }
    u32 GetBytesPerCluster() const { return m_bytesPerCluster; }
    u32 GetSectorsPerCluster() const { return m_sectorsPerCluster; }
    i64 GetCluster0Sector() const { return m_cluster0Sector; }

protected:
    // Fetches the data the node keeps in its metadata (CFileNode::ReadResidentData) into buffer (at
    // most capacity bytes); non-zero with *length set on success.
    virtual int FetchResidentStream(u8* buffer, u32 capacity, i64* length);
    // Reads the device bytes [deviceByte, deviceByte + length) into out through whole sectors.
    bool ReadDeviceBytes(i64 deviceByte, u8* out, size_t length);
    // The device byte at which file cluster `lcn` begins; false on overflow.
    bool ClusterToDeviceByte(i64 lcn, i64& byte) const;
    u32 DeviceSectorSize() const;
    void CopyFieldsFrom(const CFileReader& other);

    IDataRunList* m_runs = nullptr;
    IStorageDevice* m_device = nullptr;
    CFileNode* m_node = nullptr;
    u32 m_bytesPerCluster = 0;
    u32 m_sectorsPerCluster = 0;
    i64 m_dataSize = 0;
    i64 m_cluster0Sector = 0;
    i64 m_runBytes = 0;     // the file bytes the runs cover (sparse ones included)
    i64 m_volumeBytes = 0;  // the size of the volume the runs lie in
    size_t m_spareBytes = 0;
};
