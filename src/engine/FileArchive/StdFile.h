// A thin POSIX file wrapper. Writes are complete or reported as failed: a short write counts as a
// failure. New files get mode 0666 less the process umask.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "engine/Common/Types.h"

class CStdFile {
public:
    enum OpenMode {
        ModeRead = 0,             // read only
        ModeReadWrite = 1,        // read-write, created when missing
        ModeReadWriteCreate = 2,  // the same
        ModeCreateTruncate = 3,   // read-write, created when missing, truncated
        ModeReadWriteAppend = 4,  // read-write, created when missing, kept as it is
    };

    // Replaces the system write for tests (a failing, short or swallowing write); null restores it.
    using WriteFunction = ssize_t (*)(int fd, const void* data, size_t length);
    static void SetWriteFunctionForTesting(WriteFunction function);

    CStdFile() = default;
    CStdFile(const char* path, int mode);
    ~CStdFile();
    CStdFile(const CStdFile&) = delete;
    CStdFile& operator=(const CStdFile&) = delete;

    bool Open(const char* path, int mode);
    // Closes the descriptor; false when the system reports an error on close.
    bool Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Reads up to length bytes (more than one system read when needed); the count read, 0 at the end
    // or when closed, -1 when the first read fails.
    ssize_t Read(void* buffer, size_t length);
    // Writes all bytes; false when closed, on an error, or when fewer bytes could be written.
    bool Write(const void* data, size_t length);

    // Positions from the start; true when the new position is above 0 (kept for its callers).
    bool Seek(i64 offset);
    // Positions from the start; true on success, also for offset 0.
    bool SetPosition(i64 offset);
    bool SeekToBegin() { return SetPosition(0); }
    // Positions at the end; the new offset, -1 on failure.
    i64 SeekToEnd();
    // The current offset, 0 when closed.
    i64 GetPosition() const;
    bool GetPosistion(i64* position) const;
    // The length of the open file (else of the path it opened); false when it cannot be asked.
    bool GetFileLength(i64* length) const;

    // Reads bytes until a line feed is stored, size bytes are stored or the file ends; the buffer
    // needs size + 1 bytes. Stores a terminating 0 unless nothing was read. The count stored.
    int ReadLine(char* buffer, int size);
    // Writes the bytes and then a carriage return and line feed; false when the bytes already end
    // with them (nothing more is appended) or a write fails; a length of 0 gives true.
    bool WriteLine(const char* buffer, int length);
    void Flush() {}

    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};
