// Reader of NTFS files stored compressed: the data runs are cut into compression units of 16
// clusters; a unit is stored raw, sparse (all zeros) or as LZNT1 chunks followed by a sparse tail.
// Output goes to a file or into a caller's buffer.
#pragma once

#include <vector>

#include "engine/DataRecovery/FileReader.h"

class IDataRunList;
class IProgress;

enum COMPRESS_UNIT_TYPE : i32 {
    NONECOMPRESSED_UNIT = 0,
    COMPRESSED_UNIT = 1,
    SPARSE_UNIT = 2,
};

// One piece of a compression unit.
struct tagCompressDataRun {
    i64 s64LCN;  // first cluster; -1 for a sparse piece
    i32 length;  // clusters
    i32 eType;   // COMPRESS_UNIT_TYPE
};

// Cuts runs into the pieces of 16-cluster units, in file order. Only the units that hold the first
// maxClusters clusters are produced, so a run length from disk cannot make the list endless.
std::vector<tagCompressDataRun> ReGroupCompressDataRunList(IDataRunList* runs, u64 maxClusters);

class CCompressFileReader : public CFileReader {
public:
    static constexpr u32 kUnitClusters = 16;
    static constexpr size_t kUnitBufferBytes = 64 * 1024;

    CCompressFileReader() = default;
    ~CCompressFileReader() override;

    // Memory mode: decompresses the start of the file into buffer, at most capacity bytes. False for
    // a null buffer or no run list. The count written is GetWrittenCount().
    bool Recovery(char* buffer, int capacity, IProgress* sink);
    // File mode: writes the whole file to path (created or emptied; never through a link, see
    // destination::OpenForCopy). A resident file writes nothing and sets resident. False when the file
    // cannot be opened or written (a full disk included), or there is no run list.
    bool Recovery(const char* path, IProgress* sink, bool& resident);
    // File mode into fd, an empty file open for writing that stays the caller's; as above.
    bool Recovery(int fd, IProgress* sink, bool& resident);
    // Decompresses length bytes of runs into the output mode selected last; 1.
    u32 DeCompressFile(IDataRunList* runs, i64 length);
    // Decompressed bytes [offset, offset + length) of the file; the count placed (0 past the end).
    // Only the units up to offset + length are decompressed.
    virtual u32 ReadData(i64 offset, char* buffer, u32 length);

    // The decompressed content, like ReadData above, for a compressed non-resident file.
    u32 ReadData(i64 offset, char* buffer, u32 length, int* error) override;
    IFileReader* Clone() override;
    void Release() override { delete this; }
    bool WritesWholeFile() const override { return true; }
    bool WriteWholeFile(int fd, IProgress* sink, bool& resident) override { return Recovery(fd, sink, resident); }

    u32 GetWrittenCount() const { return m_written; }

private:
    void RecoverCompressFile(const std::vector<tagCompressDataRun>& pieces, i64 wanted);
    i64 RecoverCompressFileUnCompressUnit(const tagCompressDataRun& piece, i64 wanted);
    i64 RecoverCompressFileSparseUnit(const tagCompressDataRun& piece, i64 wanted);
    i64 RecoverCompressFileCompressUnit(const std::vector<tagCompressDataRun>& pieces, size_t& index, i64 wanted);
    // Reads clusters into out, at most capacity bytes (zeros where the device refuses).
    void ReadClusters(i64 lcn, i64 clusters, u8* out, size_t capacity);
    // Hands bytes to the output: the first m_skip bytes are dropped, then the buffer or the file.
    void Emit(const u8* data, size_t length);
    void EmitZeros(size_t length);

    // The file of file mode (not owned); -1 otherwise.
    int m_fd = -1;
    IProgress* m_sink = nullptr;
    u8* m_memory = nullptr;
    i32 m_capacity = 0;
    u32 m_memoryMode = 0;
    u32 m_written = 0;
    // Bytes of output still to drop before anything is kept (ReadData at an offset).
    u64 m_skip = 0;
    bool m_writeFailed = false;
    i64 m_fileWritten = 0;
};
