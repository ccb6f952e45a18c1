// Field-level reading and writing of a saved scan result's frames. The reader reads exact byte counts
// and refuses a field that runs past its frame, naming the field and its file offset; the writer
// composes the little-endian fields in memory and hands them to the archive in large pieces.
#pragma once

#include <string>
#include <vector>

#include "engine/Common/Types.h"
#include "engine/FileArchive/IRSData.h"
#include "engine/FileArchive/RSException.h"

namespace saved_result {

// A refused saved result: the load's error code, the field and the file offset where it lies. Every
// one is logged when it is made.
class CSavedResultError : public CRSException {
public:
    CSavedResultError(u32 code, std::string field, i64 offset);
    const std::string& Field() const { return m_field; }
    i64 Offset() const { return m_offset; }

private:
    std::string m_field;
    i64 m_offset;
};

class SavedFrameReader {
public:
    // code: the error code of a refusal in this frame.
    SavedFrameReader(IRSData& archive, u32 code) : m_archive(archive), m_code(code) {}

    // Exactly n bytes, or CSavedResultError naming the field when fewer are left in the frame.
    void Read(void* out, size_t n, const char* field);
    u16 U16(const char* field);
    u32 U32(const char* field);
    u64 U64(const char* field);
    i32 I32(const char* field) { return static_cast<i32>(U32(field)); }
    i64 I64(const char* field) { return static_cast<i64>(U64(field)); }

    // Bytes left in the frame; the file offset of the next byte.
    u64 Left() { return m_archive.GetFrameBytesLeft(); }
    i64 Position() { return m_archive.GetFramePosition(); }
    // Refuses the file for the field that starts at the given file offset.
    [[noreturn]] void Fail(const char* field, i64 offset) const;

private:
    IRSData& m_archive;
    u32 m_code;
};

class SavedFrameWriter {
public:
    explicit SavedFrameWriter(IRSData& archive) : m_archive(archive) {}
    // Whatever is still pending is not written: call Flush before closing the frame.
    ~SavedFrameWriter() = default;

    void U16(u16 v);
    void U32(u32 v);
    void U64(u64 v);
    void I32(i32 v) { U32(static_cast<u32>(v)); }
    void I64(i64 v) { U64(static_cast<u64>(v)); }
    void Bytes(const void* data, size_t n);
    // Hands the pending bytes to the archive; a failed write throws the archive's error (6).
    void Flush();

private:
    void FlushWhenFull();

    IRSData& m_archive;
    std::vector<u8> m_pending;
};

}  // namespace saved_result
