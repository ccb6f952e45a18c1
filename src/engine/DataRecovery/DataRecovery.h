// The data-recovery object: picks the partition record a node belongs to, opens a reader on the node
// and copies its data to a destination file in 4 MiB chunks with progress, then sets the times of the
// file and of the folders above it. The destination is a file the caller created (RecoverToFile) or
// a path opened without following a link at it (RecoverTo).
#pragma once

#include <sys/types.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/DataRecovery/IDataRecovery.h"

class CFileNode;
class CSearchedPartitionInfo;
struct DataRun;

class CDataRecovery : public IDataRecovery {
public:
    static constexpr i32 kBufferSize = 4 * 1024 * 1024;
    // Room past the copy buffer's chunk for whole-sector reads (a sector's size at most).
    static constexpr size_t kReadSpareBytes = 64 * 1024;
    static constexpr int kInitialSlots = 256;
    // Without a caller to pause for, a chunk that cannot be written is tried this many times.
    static constexpr int kWriteTriesWithoutSink = 3;

    CDataRecovery() = default;
    ~CDataRecovery() override;
    CDataRecovery(const CDataRecovery&) = delete;
    CDataRecovery& operator=(const CDataRecovery&) = delete;

    u64 Initialize(IFileSystemSearchController* searcher, IStorageDevice* device) override;
    // From the records of a loaded scan result (they stay the caller's; each is copied).
    u64 Initialize(const std::vector<CSearchedPartitionInfo*>& records, IStorageDevice* device);
    IFileReader* SetRecoverNode(IFileNode* node) override;
    u64 RecoverTo(const char* path, IProgress* sink, int size) override;
    u64 RecoverToFile(int fd, int folderFd, const char* name, IProgress* sink, int size) override;
    u32 ReadSmallJPG(char* out, u32 outSize) override;
    void Release() override { delete this; }
    // The partition records never change after Initialize: they are copied without waiting for a
    // copy that this object may be running on another thread.
    IDataRecovery* Duplicate() override;

    // Folder times are never set on this folder or above it (the recovery's destination).
    void SetDestinationRoot(const char* root);
    // Chunks of the last RecoverTo that the reader could not deliver in full: their ranges were written
    // as zeros and the copy still succeeded, so a caller that must not call such a copy clean asks here.
    u32 GetUnreadableChunkCount();

    const std::vector<CSearchedPartitionInfo*>& GetSearchedPartition() const { return m_partitions; }
    u32 GetPartitionCount() const { return m_partitionCount; }
    CSearchedPartitionInfo* GetNodePartition(CFileNode* node);
    static bool IsMetaDataInRange(const CSearchedPartitionInfo* record, CFileNode* node);
    static bool IsDataRunListInRange(const CSearchedPartitionInfo* record, CFileNode* node);
    static bool IsDataRunInRange(const DataRun& run, const CSearchedPartitionInfo* record);
    static bool IsClusterSuit(u32 sectorsPerCluster, CFileNode* node);
    // Highest weight first; set records before null ones.
    static bool PartitionInfoCompare(const CSearchedPartitionInfo* a, const CSearchedPartitionInfo* b);
    // Sets the modification and access times of path to a Unix time (whole seconds); 0 on success.
    // Linux keeps a file's birth time to itself: it cannot be set.
    static int ChangeFileCreateTs(const char* path, std::time_t time);
    // The same for the open file fd.
    static int ChangeFileCreateTs(int fd, std::time_t time);

private:
    void ClearPartitions();
    void ReleaseReader();
    // A copy buffer that takes chunk bytes (at most m_bufferSize) and the spare room past them.
    bool EnsureBuffer(size_t chunk);
    void ReleaseBuffer();
    // True when the current reader writes the whole (NTFS compressed) file itself.
    bool WritesWholeFile();
    // Writes the current node into fd (name for log lines) and, on success, sets the file's time.
    u64 CopyInto(int fd, const char* name, IProgress* sink, int size);
    u64 CopyPlain(int fd, const char* name, IProgress* sink, int size);
    u64 CreateEmptyDestination(const char* path);
    void SetFileTime(int fd);
    // The folders above the file: by cutting its path, or through "..", from the folder open at fd.
    void SetFolderTimes(const char* path);
    void SetFolderTimes(int folderFd);

    i32 m_bufferSize = kBufferSize;
    // Device reads fill it directly; a read that timed out may still write into it, so it is then
    // left to that read and a new one is taken.
    std::shared_ptr<u8[]> m_buffer;
    size_t m_bufferBytes = 0;
    IFileReader* m_reader = nullptr;
    std::vector<CSearchedPartitionInfo*> m_partitions;
    u32 m_partitionCount = 0;
    IStorageDevice* m_device = nullptr;
    u32 m_compressedNtfs = 0;
    // The node's creation time as Unix seconds; meaningful when m_hasNodeTime.
    i64 m_nodeTime = 0;
    bool m_hasNodeTime = false;
    IFileNode* m_node = nullptr;
    u32 m_unreadableChunks = 0;
    std::string m_destinationRoot;
    // The destination root's device and inode, once it could be looked at.
    bool m_rootKnown = false;
    dev_t m_rootDevice = 0;
    ino_t m_rootInode = 0;
    std::mutex m_mutex;
};
