// The framed archive file (see IRSData.h). Misuse and I/O failures are thrown as CRSException.
#pragma once

#include <vector>

#include "engine/FileArchive/IRSData.h"
#include "engine/FileArchive/RSException.h"
#include "engine/FileArchive/StdFile.h"

class CRSData : public IRSData {
public:
    explicit CRSData(RSMode mode);
    ~CRSData() override = default;

    bool CheckFile() override;
    bool StartRS(const char* path, int create) override;
    bool EndRS() override;
    bool WriteFileHeader(const FILEHEADER& header) override;
    bool ReadFileHeader(FILEHEADER& header) override;
    FileStatus GetStatus() override;
    bool SetStatus(FileStatus status) override;
    bool SetFileDescription(const char* text) override;
    bool GetFileDescription(char* out, int size) override;
    bool OpenFrame(const tagGUIDSIGN& tag) override;
    bool CloseFrame() override;
    u32 GetFrameSize() override;
    bool ReadCurFrame(void* out, u32 size) override;
    bool WriteCurFrame(const void* data, u32 size) override;
    bool FlushBuffer() override;
    bool ReadCurFrameExact(void* out, u32 size) override;
    i64 GetFramePosition() override;
    u32 GetFrameBytesLeft() override;

    bool SearchFrame(const tagGUIDSIGN& tag);

private:
    struct FrameHeader {
        tagGUIDSIGN magic{};
        tagGUIDSIGN tag{};
        u32 size = 0;
    };

    bool HasFrame() const { return m_frameStart >= 0; }
    void ClearFrame();
    bool WriteFrameHeader();
    bool ReadFrameHeaderAt(i64 offset, FrameHeader& header);
    // Reads n frame bytes at the read offset, advancing it; false on a short read.
    bool ReadFrameBytes(void* out, u32 n);
    bool ReadHeaderBytes(u8 (&bytes)[kRSHeaderSize], size_t& got);
    void SetError(u32 code);
    void ThrowPending();
    // Runs body when the archive is in the given mode (else sets the wrong-mode error and keeps fallback),
    // then throws the error the call set, if any.
    template <class Result, class Body>
    Result InMode(RSMode mode, Result fallback, Body body);

    RSMode m_mode;
    CStdFile m_file;
    std::vector<u8> m_staging;  // frame data is written straight through; this stays empty in practice
    FrameHeader m_frame;
    i64 m_frameStart = -1;  // -1: no current frame
    u32 m_readOffset = 0;
    u32 m_error = RS_ERROR_NONE;
};
