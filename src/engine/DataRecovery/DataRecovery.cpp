#include "engine/DataRecovery/DataRecovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "engine/Common/IFileSystemSearchController.h"
#include "engine/Common/IProgress.h"
#include "engine/DataRecovery/DataRecoveryCodes.h"
#include "engine/DataRecovery/DestinationFile.h"
#include "engine/DataRecovery/FileReader.h"
#include "engine/DataRecovery/RecoveryLog.h"
#include "engine/StorageDevice/KXReadAsyncData.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/IDataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

namespace {

constexpr i64 kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 (the node time base) to 1970-01-01.
constexpr i64 kFiletimeToUnix = 11644473600LL;
constexpr u32 kJpegWindow = 65536;

// Node times are 100-ns ticks since 1601; 0 (or anything before) means none.
bool FiletimeToUnix(i64 filetime, i64& unixTime) {
    if (filetime <= 0) return false;
    unixTime = filetime / kTicksPerSecond - kFiletimeToUnix;
    return true;
}

// Writes all of data at offset; false on any failure (a full disk, a file-size limit, an I/O error).
bool WriteAllAt(int fd, const u8* data, size_t length, i64 offset) {
    while (length) {
        const ssize_t n = ::pwrite(fd, data, length, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= size_t(n);
        offset += n;
    }
    return true;
}

double SortKey(const CSearchedPartitionInfo* record) {
    return std::isnan(record->m_weight) ? -std::numeric_limits<double>::infinity() : record->m_weight;
}

// Owns one descriptor.
struct ScopedFd {
    explicit ScopedFd(int f) : fd(f) {}
    ~ScopedFd() { Reset(-1); }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    void Reset(int f) {
        if (fd >= 0) ::close(fd);
        fd = f;
    }
    int fd;
};

// The folder above the one open at fd, or -1 at the top of the file system. ".." is never a link.
int OpenParent(int fd) {
    const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat here {}, there {};
    if (up >= 0 && ::fstat(fd, &here) == 0 && ::fstat(up, &there) == 0 && here.st_dev == there.st_dev &&
        here.st_ino == there.st_ino) {
        ::close(up);
        return -1;
    }
    return up;
}

bool IsStrictlyBelow(const std::string& path, const std::string& root) {
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
           (root.empty() || root.back() == '/' || path[root.size()] == '/');
}

}  // namespace

IDataRecovery* CreateDataRecoveryObj() { return new (std::nothrow) CDataRecovery; }

CDataRecovery::~CDataRecovery() {
    std::lock_guard<std::mutex> hold(m_mutex);
    ReleaseReader();
    ClearPartitions();
}

void CDataRecovery::ClearPartitions() {
    for (CSearchedPartitionInfo* record : m_partitions) delete record;
    m_partitions.clear();
    m_partitionCount = 0;
}

void CDataRecovery::ReleaseReader() {
    if (m_reader) m_reader->Release();
    m_reader = nullptr;
}

bool CDataRecovery::EnsureBuffer(size_t chunk) {
    // The room past a full chunk lets the reader take a file's last partial sector in place. The buffer
    // is as large as the largest chunk asked for so far: a small file needs no 4 MiB cleared.
    const size_t need = std::min(chunk, size_t(m_bufferSize)) + kReadSpareBytes;
    if (m_buffer && m_bufferBytes >= need) return true;
    m_buffer.reset(new (std::nothrow) u8[need]());
    m_bufferBytes = m_buffer ? need : 0;
    return m_buffer != nullptr;
}

void CDataRecovery::ReleaseBuffer() {
    m_buffer.reset();
    m_bufferBytes = 0;
}

bool CDataRecovery::PartitionInfoCompare(const CSearchedPartitionInfo* a, const CSearchedPartitionInfo* b) {
    if (!a) return false;
    if (!b) return true;
    return SortKey(a) > SortKey(b);
}

u64 CDataRecovery::Initialize(IFileSystemSearchController* searcher, IStorageDevice* device) {
    if (!searcher || !device) return recoverycode::kNoSearcherOrDevice;
    ClearPartitions();
    m_partitions.assign(kInitialSlots, nullptr);
    int count = searcher->GetSearchedPartitionInfo(m_partitions.data(), kInitialSlots);
    if (count <= 0 || count > kInitialSlots) {
        // More records than slots (the searcher then answers 0): ask how many, grow and ask again.
        const int needed = searcher->GetSearchedPartitionInfo(nullptr, 0);
        if (needed <= 0) {
            ClearPartitions();
            return recoverycode::kNoPartition;
        }
        ClearPartitions();
        m_partitions.assign(size_t(needed), nullptr);
        count = searcher->GetSearchedPartitionInfo(m_partitions.data(), needed);
        if (count <= 0 || count > needed) {
            ClearPartitions();
            return recoverycode::kNoPartitionOnRequery;
        }
    }
    m_partitionCount = u32(count);
    m_device = device;
    ReleaseBuffer();
    if (m_partitionCount >= 2)
        std::stable_sort(m_partitions.begin(), m_partitions.begin() + count, PartitionInfoCompare);
    return result::kSuccess;
}

u64 CDataRecovery::Initialize(const std::vector<CSearchedPartitionInfo*>& records, IStorageDevice* device) {
    if (!device) return recoverycode::kNoDeviceForSaved;
    ClearPartitions();
    for (const CSearchedPartitionInfo* record : records)
        m_partitions.push_back(record ? new CSearchedPartitionInfo(*record) : nullptr);
    m_partitionCount = u32(m_partitions.size());
    m_device = device;
    ReleaseBuffer();
    return result::kSuccess;
}

IDataRecovery* CDataRecovery::Duplicate() {
    if (!m_device || m_partitionCount == 0) return nullptr;
    auto* copy = new (std::nothrow) CDataRecovery;
    if (!copy) return nullptr;
    const std::vector<CSearchedPartitionInfo*> records(m_partitions.begin(),
                                                       m_partitions.begin() + std::min<size_t>(m_partitionCount, m_partitions.size()));
    if (result::IsFailure(copy->Initialize(records, m_device))) {
        copy->Release();
        return nullptr;
    }
    return copy;
}

u32 CDataRecovery::GetUnreadableChunkCount() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_unreadableChunks;
}

void CDataRecovery::SetDestinationRoot(const char* root) {
    m_destinationRoot = root ? root : "";
    while (m_destinationRoot.size() > 1 && m_destinationRoot.back() == '/') m_destinationRoot.pop_back();
    struct stat st {};
    m_rootKnown = !m_destinationRoot.empty() && ::stat(m_destinationRoot.c_str(), &st) == 0;
    m_rootDevice = m_rootKnown ? st.st_dev : 0;
    m_rootInode = m_rootKnown ? st.st_ino : 0;
}

bool CDataRecovery::IsMetaDataInRange(const CSearchedPartitionInfo* record, CFileNode* node) {
    const i64 meta = node->GetMetadataStartPosition();
    const i64 start = record->m_partitionStartSector;
    return start < meta && meta - start < record->m_totalSectors;
}

bool CDataRecovery::IsDataRunInRange(const DataRun& run, const CSearchedPartitionInfo* record) {
    if (run.start < 0) return true;  // a sparse run lies nowhere on the device
    const i64 spc = record->m_sectorsPerCluster;
    i64 first = 0, clusters = 0, last = 0, end = 0;
    if (run.length > u64(std::numeric_limits<i64>::max())) return false;
    if (__builtin_mul_overflow(run.start, spc, &first) || __builtin_add_overflow(first, record->m_cluster0Sector, &first))
        return false;
    if (__builtin_add_overflow(run.start, i64(run.length), &clusters) || __builtin_mul_overflow(clusters, spc, &last) ||
        __builtin_add_overflow(last, record->m_cluster0Sector - 1, &last))
        return false;
    if (__builtin_add_overflow(record->m_partitionStartSector, record->m_totalSectors, &end)) return false;
    return first >= record->m_partitionStartSector && last <= end;
}

bool CDataRecovery::IsDataRunListInRange(const CSearchedPartitionInfo* record, CFileNode* node) {
    IDataRunList* runs = node->GetDataRunList();
    if (!runs) return false;
    for (DataRun* run = runs->GetFirst(); run; run = runs->GetNext()) {
        if (!IsDataRunInRange(*run, record)) return false;
    }
    return true;
}

bool CDataRecovery::IsClusterSuit(u32 sectorsPerCluster, CFileNode* node) {
    if (sectorsPerCluster % 2) return false;
    IDataRunList* runs = node->GetDataRunList();
    if (!runs) return true;
    u64 clusters = 0;
    for (DataRun* run = runs->GetFirst(); run; run = runs->GetNext()) {
        if (__builtin_add_overflow(clusters, run->length, &clusters)) clusters = std::numeric_limits<u64>::max();
    }
    if (clusters < 2) return true;
    const i64 size = node->GetFileSize();
    if (size <= 0) return false;
    // Bytes per cluster estimated from the size, in sectors of 512, rounded up.
    const u64 perCluster = (u64(size) + clusters - 1) / clusters;
    const u64 r = (perCluster + 511) / 512;
    for (u64 p = 2; p <= (u64(1) << 24); p *= 2) {
        if (p / 2 < r && r <= p) return sectorsPerCluster == p;
    }
    return false;
}

CSearchedPartitionInfo* CDataRecovery::GetNodePartition(CFileNode* node) {
    if (!node) return nullptr;
    if (m_partitionCount <= 1) return m_partitions.empty() ? nullptr : m_partitions[0];
    const u16 index = node->GetBelongedPartition();
    for (u32 i = 0; i < m_partitionCount; ++i) {
        if (m_partitions[i] && u16(m_partitions[i]->m_partitionIndex) == index) return m_partitions[i];
    }
    if (node->GetDataRunList()) {
        for (u32 i = 0; i < m_partitionCount; ++i) {
            CSearchedPartitionInfo* record = m_partitions[i];
            if (!record || !IsMetaDataInRange(record, node) || !IsDataRunListInRange(record, node)) continue;
            if (IsClusterSuit(record->m_sectorsPerCluster, node)) return record;
        }
    }
    return m_partitions[0];
}

IFileReader* CDataRecovery::SetRecoverNode(IFileNode* node) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_compressedNtfs = 0;
    auto fail = [this](int place) -> IFileReader* {
        RecoveryLog("%s %d\r\n", "SetRecoverNode", place);
        ReleaseReader();
        m_node = nullptr;
        m_hasNodeTime = false;
        return nullptr;
    };
    if (!node || node->IsDirectory()) return fail(1);
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    CSearchedPartitionInfo* record = m_partitionCount ? GetNodePartition(fileNode) : nullptr;
    if (!record) return fail(2);
    if (!fileNode) return fail(3);

    IFileReader* reader = nullptr;
    if (fileNode->IsCompressed()) {
        reader = fileNode->CreateCompressFileReader(record->m_privateData);
        if (!reader) return fail(4);
        // Readers of other file systems come ready from their node; an NTFS reader is opened on the
        // device, and one that decompresses whole files is driven through WriteWholeFile.
        if (record->m_fileSystemType == FILE_SYSTEM_NTFS) {
            if (!reader->Open(m_device, fileNode, record)) {
                reader->Release();
                return fail(5);
            }
            m_compressedNtfs = reader->WritesWholeFile() ? 1 : 0;
        }
    } else {
        auto* plain = new (std::nothrow) CFileReader;
        if (!plain) return fail(6);
        if (!plain->Open(m_device, fileNode, record)) {
            plain->Release();
            return fail(7);
        }
        // Only this object's own reads use the reader's room: the clone handed out has none.
        plain->SetSpareBytes(kReadSpareBytes);
        reader = plain;
    }
    ReleaseReader();
    m_reader = reader;
    m_node = node;
    m_hasNodeTime = FiletimeToUnix(node->GetCreationTime(), m_nodeTime);
    return m_reader->Clone();
}

int CDataRecovery::ChangeFileCreateTs(const char* path, std::time_t time) {
    if (!path) return -1;
    const timespec times[2] = {{time, 0}, {time, 0}};  // access, modification
    return ::utimensat(AT_FDCWD, path, times, 0);
}

int CDataRecovery::ChangeFileCreateTs(int fd, std::time_t time) {
    const timespec times[2] = {{time, 0}, {time, 0}};  // access, modification
    return ::futimens(fd, times);
}

void CDataRecovery::SetFileTime(int fd) {
    // A character device named as the destination (/dev/null) keeps its own times.
    struct stat st {};
    if (m_hasNodeTime && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ChangeFileCreateTs(fd, std::time_t(m_nodeTime));
}

void CDataRecovery::SetFolderTimes(const char* path) {
    std::string folder = path;
    // The walk stops below a tree's synthetic root (a node without a parent) and never reaches the
    // destination root or above it, whatever the path's depth.
    CFileNode* parent = m_node ? m_node->GetParent() : nullptr;
    for (; parent && parent->GetParent(); parent = parent->GetParent()) {
        const size_t cut = folder.rfind('/');
        if (cut == std::string::npos || cut == 0) break;
        folder.resize(cut);
        if (!m_destinationRoot.empty() && !IsStrictlyBelow(folder, m_destinationRoot)) break;
        i64 when = 0;
        if (FiletimeToUnix(parent->GetCreationTime(), when)) ChangeFileCreateTs(folder.c_str(), std::time_t(when));
    }
}

void CDataRecovery::SetFolderTimes(int folderFd) {
    if (folderFd < 0 || !m_node) return;
    // One entry per folder above the file, below the tree's synthetic root: the time it gets, if any.
    std::vector<std::optional<i64>> times;
    for (CFileNode* parent = m_node->GetParent(); parent && parent->GetParent(); parent = parent->GetParent()) {
        i64 when = 0;
        times.push_back(FiletimeToUnix(parent->GetCreationTime(), when) ? std::optional<i64>(when) : std::nullopt);
    }
    // Nothing to set (found files sit in folders without times): the walk up is not made.
    if (std::none_of(times.begin(), times.end(), [](const std::optional<i64>& time) { return time.has_value(); }))
        return;
    if (!m_rootKnown && !m_destinationRoot.empty()) SetDestinationRoot(std::string(m_destinationRoot).c_str());
    size_t levels = times.size();
    if (m_rootKnown) {
        // Only folders strictly below the destination root take times: count how far below it this one lies.
        size_t below = 0;
        bool reached = false;
        for (ScopedFd at(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0)); at.fd >= 0; at.Reset(OpenParent(at.fd))) {
            struct stat st {};
            if (::fstat(at.fd, &st) != 0) break;
            if (st.st_dev == m_rootDevice && st.st_ino == m_rootInode) {
                reached = true;
                break;
            }
            ++below;
        }
        if (!reached) return;
        levels = std::min(levels, below);
    }
    size_t level = 0;
    for (ScopedFd at(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0)); at.fd >= 0 && level < levels; ++level) {
        if (times[level]) ChangeFileCreateTs(at.fd, std::time_t(*times[level]));
        if (level + 1 < levels) at.Reset(OpenParent(at.fd));
    }
}

u64 CDataRecovery::CreateEmptyDestination(const char* path) {
    const int fd = destination::OpenForCopy(path);
    if (fd < 0) {
        RecoveryLog("%s %d\r\n", "RecoverTo", 2);
        return recoverycode::kCannotCreateEmpty;
    }
    ::close(fd);
    return recoverycode::kCreatedEmpty;
}

u64 CDataRecovery::CopyPlain(int fd, const char* name, IProgress* sink, int size) {
    i64 total = size > 0 ? i64(size) : std::max<i64>(m_reader->GetDataSize(), 0);
    if (size <= 0 && m_reader->GetReadableSize() < total) {
        // A recorded size that no extent and no volume can hold (a damaged record): the copy takes what
        // the extents hold and the file counts as partly unreadable, instead of walking the size.
        const i64 readable = std::max<i64>(m_reader->GetReadableSize(), 0);
        RecoveryLog("%s:%d read[%s]: its recorded size %lld is larger than its extents and its volume; %lld bytes "
                    "copied\n",
                    "RecoverTo", 9, name, static_cast<long long>(total), static_cast<long long>(readable));
        total = readable;
        ++m_unreadableChunks;
    }
    if (!EnsureBuffer(size_t(std::min<i64>(total, m_bufferSize)))) {
        RecoveryLog("%s %d\r\n", "RecoverTo", 5);
        return recoverycode::kCannotOpenDestination;
    }
    _PROGRESS_INFO record = MakeProgressInfo(PROGRESS_RUNNING, u64(total), 0);
    i64 current = 0;
    int failedTries = 0;
    bool stopped = false;
    u64 code = result::kSuccess;
    // Unreadable chunks are logged once per file: the first with its reason, the count at the end.
    u32 unreadableLogged = 0;
    while (current < total) {
        if (sink && !sink->Continued()) {
            stopped = true;
            break;
        }
        const u32 chunk = u32(std::min<i64>(total - current, m_bufferSize));
        if (!EnsureBuffer(chunk)) {
            code = recoverycode::kCannotOpenDestination;
            break;
        }
        record.errorCode = 0;
        // errno is cleared first: a reader that fails without a system error (a range past the end of an
        // image) must not be logged with whatever an earlier call left there.
        errno = 0;
        u32 got = 0;
        {
            // Device reads go straight into the buffer, without the copy through the reads' shared one.
            const kxread::DirectTarget direct(m_buffer, m_bufferBytes);
            got = std::min(m_reader->ReadData(current, reinterpret_cast<char*>(m_buffer.get()), chunk, nullptr), chunk);
            if (direct.Abandoned()) {
                // A read that timed out may still write into the buffer: none of this chunk is used (the
                // range stays zeros, as for any unreadable one) and the buffer is left to that read.
                got = 0;
                ReleaseBuffer();
            }
        }
        const int readError = errno;
        if (got < chunk) ++m_unreadableChunks;
        if (got == 0) {
            // Unreadable: the range stays zeros (the file gets its full length at the end).
            if (unreadableLogged++ == 0)
                RecoveryLog("%s:%d read[%s] failed with %s\n", "RecoverTo", 6, name,
                            readError ? std::strerror(readError) : "no data for the range");
        } else if (!WriteAllAt(fd, m_buffer.get(), got, current)) {
            RecoveryLog("%s:%d write[%s] failed with %s\n", "RecoverTo", 7, name, std::strerror(errno));
            record.errorCode = i64(recoverycode::kWriteWait);
            if (!sink && ++failedTries >= kWriteTriesWithoutSink) {
                code = recoverycode::kWriteGaveUp;
                break;
            }
            // The caller pauses on this record; Continued() then waits for resume or stop, and the same
            // chunk is written again at its own offset.
            if (sink) sink->UpdateProgress(&record);
            continue;
        }
        failedTries = 0;
        current += chunk;
        record.current = u64(current);
        if (sink) sink->UpdateProgress(&record);
    }
    if (unreadableLogged > 1)
        RecoveryLog("%s:%d read[%s]: %u chunks of %u bytes unreadable in all\n", "RecoverTo", 6, name, unreadableLogged,
                    unsigned(m_bufferSize));
    struct stat st {};
    const bool plainFile = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // The file gets its full length (an unreadable last chunk was not written); one that has it already
    // is left alone.
    if (code == result::kSuccess && !stopped && plainFile && st.st_size != total && ::ftruncate(fd, total) != 0)
        code = recoverycode::kCannotFinishDestination;
    if (result::IsFailure(code)) {
        RecoveryLog("%s %d\r\n", "RecoverTo", 8);
        return code;
    }
    SetFileTime(fd);
    return result::kSuccess;
}

bool CDataRecovery::WritesWholeFile() {
    return m_reader && m_compressedNtfs && m_reader->IsCompressFile() && m_reader->WritesWholeFile();
}

u64 CDataRecovery::CopyInto(int fd, const char* name, IProgress* sink, int size) {
    if (WritesWholeFile()) {
        bool resident = false;
        if (!m_reader->WriteWholeFile(fd, sink, resident)) {
            RecoveryLog("%s %d\r\n", "RecoverTo", 4);
            return recoverycode::kDecompressFailed;
        }
        if (!resident) {
            SetFileTime(fd);
            return result::kSuccess;
        }
    }
    return CopyPlain(fd, name, sink, size);
}

u64 CDataRecovery::RecoverTo(const char* path, IProgress* sink, int size) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_unreadableChunks = 0;
    _PROGRESS_INFO start = MakeProgressInfo(PROGRESS_RUNNING, 0, 0);
    if (sink) sink->UpdateProgress(&start);
    if (!path) {
        RecoveryLog("%s %d\r\n", "RecoverTo", 1);
        return recoverycode::kNullPath;
    }
    if (!m_reader) return CreateEmptyDestination(path);
    if (size != 0 && WritesWholeFile()) {
        RecoveryLog("%s %d\r\n", "RecoverTo", 3);
        return recoverycode::kSizeForCompressed;
    }
    const int fd = destination::OpenForCopy(path);
    if (fd < 0) {
        const bool whole = WritesWholeFile();
        RecoveryLog("%s %d\r\n", "RecoverTo", whole ? 4 : 5);
        return whole ? recoverycode::kDecompressFailed : recoverycode::kCannotOpenDestination;
    }
    u64 code = CopyInto(fd, path, sink, size);
    if (::close(fd) != 0 && code == result::kSuccess) code = recoverycode::kCannotFinishDestination;
    if (code == result::kSuccess) SetFolderTimes(path);
    return code;
}

u64 CDataRecovery::RecoverToFile(int fd, int folderFd, const char* name, IProgress* sink, int size) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_unreadableChunks = 0;
    _PROGRESS_INFO start = MakeProgressInfo(PROGRESS_RUNNING, 0, 0);
    if (sink) sink->UpdateProgress(&start);
    if (fd < 0) {
        RecoveryLog("%s %d\r\n", "RecoverTo", 1);
        return recoverycode::kNullPath;
    }
    // The caller's file is new and empty: without a reader it stays so.
    if (!m_reader) return recoverycode::kCreatedEmpty;
    if (size != 0 && WritesWholeFile()) {
        RecoveryLog("%s %d\r\n", "RecoverTo", 3);
        return recoverycode::kSizeForCompressed;
    }
    const u64 code = CopyInto(fd, name ? name : "", sink, size);
    if (code == result::kSuccess) SetFolderTimes(folderFd);
    return code;
}

u32 CDataRecovery::ReadSmallJPG(char* out, u32 outSize) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (!out || outSize < kJpegWindow || !m_reader || m_reader->GetDataSize() < i64(kJpegWindow)) return 0;
    if (!EnsureBuffer(kJpegWindow)) return 0;
    u8* buffer = m_buffer.get();
    // Zeroed first: a short read must not leave the previous file's bytes in the window.
    std::memset(buffer, 0, kJpegWindow);
    // Every reader, the compressed ones included, delivers the decompressed start through ReadData.
    if (m_reader->ReadData(0, reinterpret_cast<char*>(buffer), kJpegWindow, nullptr) == 0) return 0;
    i64 start = -1, end = -1;
    for (u32 i = 4; i < kJpegWindow - 4; ++i) {
        if (start < 0) {
            if (buffer[i] == 0xFF && buffer[i + 1] == 0xD8 && buffer[i + 2] == 0xFF) {
                start = i;
                i += 2000;
            }
        } else if (buffer[i] == 0xFF && buffer[i + 1] == 0xD9) {
            end = i + 4;
            break;
        }
    }
    if (start < 0 || end < 0) return 0;
    const i64 length = end - start;
    if (length < 1 || length > 65535) return 0;
    std::memcpy(out, buffer + start, size_t(length));
    return u32(length);
}
