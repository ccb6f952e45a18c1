#include "engine/NTFSLib/CompressFileReader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "engine/Common/IProgress.h"
#include "engine/DataRecovery/DestinationFile.h"
#include "engine/DataRecovery/RecoveryLog.h"
#include "engine/NTFSLib/Lznt1.h"
#include "engine/Utility/IDataRunList.h"

namespace {

tagCompressDataRun Piece(i64 start, i64 taken, i64 length, i32 type) {
    return tagCompressDataRun{start < 0 ? -1 : start + taken, static_cast<i32>(length), type};
}

}  // namespace

std::vector<tagCompressDataRun> ReGroupCompressDataRunList(IDataRunList* runs, u64 maxClusters) {
    std::vector<tagCompressDataRun> out;
    if (!runs) return out;
    const u64 unit = CCompressFileReader::kUnitClusters;
    std::vector<tagCompressDataRun> pending;
    u64 need = unit;
    u64 done = 0;  // clusters of the units already complete
    for (DataRun* run = runs->GetFirst(); run && done < maxClusters; run = runs->GetNext()) {
        const i64 start = run->start;
        u64 left = run->length;
        while (left >= need && done < maxClusters) {
            const i32 type = start >= 0 ? NONECOMPRESSED_UNIT : (pending.empty() ? SPARSE_UNIT : COMPRESSED_UNIT);
            for (tagCompressDataRun& p : pending) {
                p.eType = type;
                out.push_back(p);
            }
            pending.clear();
            out.push_back(Piece(start, i64(run->length - left), i64(need), type));
            left -= need;
            need = unit;
            done += unit;
        }
        if (left > 0 && done < maxClusters) {
            pending.push_back(Piece(start, i64(run->length - left), i64(left), NONECOMPRESSED_UNIT));
            need -= left;
        }
    }
    if (done < maxClusters) {
        // The file's last, incomplete unit.
        for (tagCompressDataRun& p : pending) {
            p.eType = p.s64LCN == -1 ? COMPRESSED_UNIT : NONECOMPRESSED_UNIT;
            out.push_back(p);
        }
    }
    return out;
}

CCompressFileReader::~CCompressFileReader() = default;

void CCompressFileReader::Emit(const u8* data, size_t length) {
    if (m_skip) {
        const size_t drop = size_t(std::min<u64>(m_skip, length));
        m_skip -= drop;
        data += drop;
        length -= drop;
    }
    if (!length) return;
    if (m_memoryMode) {
        const size_t room = m_written < u32(m_capacity) ? u32(m_capacity) - m_written : 0;
        const size_t n = std::min(room, length);
        if (n) std::memcpy(m_memory + m_written, data, n);
        m_written += u32(n);
        return;
    }
    while (length && !m_writeFailed) {
        // At its own offset: the file is the caller's, whatever its descriptor's position.
        const ssize_t n = ::pwrite(m_fd, data, length, m_fileWritten);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            RecoveryLog("%s:%d write failed with %s\n", "Recovery", 1, std::strerror(errno));
            m_writeFailed = true;
            return;
        }
        data += n;
        length -= size_t(n);
        m_fileWritten += n;
    }
}

void CCompressFileReader::EmitZeros(size_t length) {
    static const u8 zeros[4096] = {};
    while (length) {
        const size_t n = std::min(length, sizeof zeros);
        Emit(zeros, n);
        length -= n;
    }
}

void CCompressFileReader::ReadClusters(i64 lcn, i64 clusters, u8* out, size_t capacity) {
    const size_t bytes = size_t(std::min<u64>(u64(clusters) * m_bytesPerCluster, capacity));
    i64 at = 0;
    if (!bytes) return;
    if (!ClusterToDeviceByte(lcn, at) || !ReadDeviceBytes(at, out, bytes)) {
        // An unreadable piece decompresses as zeros, like a bad back-reference.
        RecoveryLog("%s %d\r\n", "Read", 4);
        std::memset(out, 0, bytes);
    }
}

i64 CCompressFileReader::RecoverCompressFileSparseUnit(const tagCompressDataRun& piece, i64 wanted) {
    const i64 bytes = std::min<i64>(i64(piece.length) * m_bytesPerCluster, wanted);
    EmitZeros(size_t(bytes));
    return bytes;
}

i64 CCompressFileReader::RecoverCompressFileUnCompressUnit(const tagCompressDataRun& piece, i64 wanted) {
    const i64 bytes = std::min<i64>(i64(piece.length) * m_bytesPerCluster, wanted);
    if (piece.s64LCN <= 0) {
        EmitZeros(size_t(bytes));  // no place on the device: keep the length, as zeros
        return bytes;
    }
    std::vector<u8> buffer(kUnitBufferBytes);
    for (i64 done = 0; done < bytes;) {
        const size_t slice = size_t(std::min<i64>(bytes - done, i64(buffer.size())));
        i64 at = 0;
        if (!ClusterToDeviceByte(piece.s64LCN, at) || at > INT64_MAX - done || !ReadDeviceBytes(at + done, buffer.data(), slice)) {
            RecoveryLog("%s %d\r\n", "Read", 5);
            std::memset(buffer.data(), 0, slice);
        }
        Emit(buffer.data(), slice);
        done += i64(slice);
    }
    return bytes;
}

i64 CCompressFileReader::RecoverCompressFileCompressUnit(const std::vector<tagCompressDataRun>& pieces, size_t& index,
                                                        i64 wanted) {
    std::vector<u8> input(kUnitBufferBytes, 0);
    size_t filled = 0;
    i64 unitClusters = 0;
    for (size_t j = index; j < pieces.size() && pieces[j].eType == COMPRESSED_UNIT && pieces[j].s64LCN != -1; ++j) {
        const size_t bytes = size_t(pieces[j].length) * m_bytesPerCluster;
        if (filled < input.size()) ReadClusters(pieces[j].s64LCN, pieces[j].length, input.data() + filled, input.size() - filled);
        filled = std::min(input.size(), filled + bytes);
        unitClusters += pieces[j].length;
        index = j;  // left on the last stored piece: the caller's next step lands on the sparse tail
    }
    for (size_t j = index + 1; j < pieces.size() && pieces[j].eType == COMPRESSED_UNIT && pieces[j].s64LCN == -1; ++j)
        unitClusters += pieces[j].length;

    std::vector<u8> output(kUnitBufferBytes);
    size_t produced = 0;
    if ((input[0] | input[1]) == 0) {
        produced = filled;  // the unit is stored as it stands
        std::memcpy(output.data(), input.data(), produced);
    } else {
        produced = lznt1::DecompressUnit(input.data(), filled, output.data(), output.size());
    }
    const i64 unitBytes = std::max<i64>(unitClusters * m_bytesPerCluster, i64(produced));
    const i64 total = std::min(unitBytes, wanted);
    const size_t fromData = size_t(std::min<i64>(i64(produced), total));
    Emit(output.data(), fromData);
    // A unit always stands for its whole size: short output (corrupt data) is padded so that later
    // units stay at their offsets.
    EmitZeros(size_t(total) - fromData);
    return total;
}

void CCompressFileReader::RecoverCompressFile(const std::vector<tagCompressDataRun>& pieces, i64 wanted) {
    _PROGRESS_INFO record = MakeProgressInfo(PROGRESS_RUNNING, u64(std::max<i64>(GetDataSize(), 0)), 0);
    for (size_t i = 0; i < pieces.size() && wanted > 0; ++i) {
        if (m_memoryMode && m_written >= u32(m_capacity)) break;
        if (m_writeFailed) break;
        const tagCompressDataRun& piece = pieces[i];
        i64 produced = 0;
        switch (piece.eType) {
            case SPARSE_UNIT:
                produced = RecoverCompressFileSparseUnit(piece, wanted);
                break;
            case COMPRESSED_UNIT:
                if (piece.s64LCN > 0) produced = RecoverCompressFileCompressUnit(pieces, i, wanted);
                break;
            default:
                produced = RecoverCompressFileUnCompressUnit(piece, wanted);
                break;
        }
        record.current += u64(produced);
        if (m_sink) m_sink->UpdateProgress(&record);
        wanted -= produced;
    }
}

u32 CCompressFileReader::DeCompressFile(IDataRunList* runs, i64 length) {
    if (!runs || length <= 0 || !m_bytesPerCluster) return 1;
    const u64 clusters = (u64(length) + m_bytesPerCluster - 1) / m_bytesPerCluster;
    RecoverCompressFile(ReGroupCompressDataRunList(runs, clusters), length);
    return 1;
}

bool CCompressFileReader::Recovery(char* buffer, int capacity, IProgress* sink) {
    if (!buffer || !m_runs) return false;
    m_sink = sink;
    m_memory = reinterpret_cast<u8*>(buffer);
    m_capacity = std::max(capacity, 0);
    m_memoryMode = 1;
    m_written = 0;  // each call fills its buffer from the start
    m_skip = 0;
    if (m_runs->IsResident()) {
        int got = 0;
        if (ReadResidentData(0, m_memory, u32(m_capacity), got)) m_written = u32(got);
        return true;
    }
    DeCompressFile(m_runs, std::min<i64>(m_capacity, GetDataSize()));
    return true;
}

bool CCompressFileReader::Recovery(const char* path, IProgress* sink, bool& resident) {
    if (!path || !m_runs) return false;
    const int fd = destination::OpenForCopy(path);
    if (fd < 0) {
        RecoveryLog("%s:%d open[%s] failed with %s\n", "Recovery", 2, path, std::strerror(errno));
        return false;
    }
    const bool written = Recovery(fd, sink, resident);
    return ::close(fd) == 0 && written;
}

bool CCompressFileReader::Recovery(int fd, IProgress* sink, bool& resident) {
    if (fd < 0 || !m_runs) return false;
    m_fd = fd;
    m_sink = sink;
    m_memoryMode = 0;
    m_skip = 0;
    m_writeFailed = false;
    m_fileWritten = 0;
    if (m_runs->IsResident()) {
        resident = true;
        m_fd = -1;
        return true;
    }
    resident = false;
    const i64 size = GetDataSize();
    DeCompressFile(m_runs, size);
    // Runs that cover less than the size leave the rest as zeros, at the file's full length.
    if (!m_writeFailed && m_fileWritten < size && ::ftruncate(m_fd, size) != 0) m_writeFailed = true;
    m_fd = -1;
    return !m_writeFailed;
}

u32 CCompressFileReader::ReadData(i64 offset, char* buffer, u32 length) {
    const i64 size = GetDataSize();
    if (!buffer || offset < 0 || size <= offset) return 0;
    const i64 want = std::min<i64>(length, size - offset);
    if (!m_runs) {
        int got = 0;
        return CFileReader::Read(offset, reinterpret_cast<u8*>(buffer), int(std::min<i64>(want, INT32_MAX)), got, nullptr)
                   ? u32(got)
                   : 0;
    }
    m_sink = nullptr;
    m_memory = reinterpret_cast<u8*>(buffer);
    m_capacity = i32(std::min<i64>(want, INT32_MAX));
    m_memoryMode = 1;
    m_written = 0;
    m_skip = u64(offset);
    DeCompressFile(m_runs, offset + want);
    m_skip = 0;
    return m_written;
}

u32 CCompressFileReader::ReadData(i64 offset, char* buffer, u32 length, int* error) {
    if (!m_runs || m_runs->IsResident()) return CFileReader::ReadData(offset, buffer, length, error);
    return ReadData(offset, buffer, length);
}

IFileReader* CCompressFileReader::Clone() {
    auto* copy = new (std::nothrow) CCompressFileReader;
    if (!copy) return nullptr;
    copy->CopyFieldsFrom(*this);
    copy->m_sink = m_sink;
    copy->m_memory = m_memory;
    copy->m_capacity = m_capacity;
    copy->m_memoryMode = m_memoryMode;
    copy->m_written = m_written;
    return copy;
}
