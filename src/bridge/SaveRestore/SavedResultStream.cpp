#include "bridge/SaveRestore/SavedResultStream.h"

#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/Common/CatchExeception.h"

namespace saved_result {

namespace {
constexpr size_t kFlushBytes = 1 << 20;
}

CSavedResultError::CSavedResultError(u32 code, std::string field, i64 offset)
    : CRSException(code), m_field(std::move(field)), m_offset(offset) {
    CatchExeception::Instance()->WriteLog("saved scan result refused (code %u): %s at file offset %lld\n", code,
                                          m_field.c_str(), static_cast<long long>(offset));
}

void SavedFrameReader::Fail(const char* field, i64 offset) const { throw CSavedResultError(m_code, field, offset); }

void SavedFrameReader::Read(void* out, size_t n, const char* field) {
    const i64 at = Position();
    if (at < 0 || n > Left()) Fail(field, at);
    try {
        m_archive.ReadCurFrameExact(out, static_cast<u32>(n));
    } catch (const CRSException& e) {
        if (e.GetErrorcode() == RS_ERROR_SHORT_READ) Fail(field, at);
        throw;
    }
}

u16 SavedFrameReader::U16(const char* field) {
    u8 b[2];
    Read(b, sizeof b, field);
    return ByteReader(b, sizeof b).Le16(0).value_or(0);
}

u32 SavedFrameReader::U32(const char* field) {
    u8 b[4];
    Read(b, sizeof b, field);
    return ByteReader(b, sizeof b).Le32(0).value_or(0);
}

u64 SavedFrameReader::U64(const char* field) {
    u8 b[8];
    Read(b, sizeof b, field);
    return ByteReader(b, sizeof b).Le64(0).value_or(0);
}

void SavedFrameWriter::U16(u16 v) {
    u8 b[2];
    ByteWriter(b, sizeof b).Le16(0, v);
    Bytes(b, sizeof b);
}

void SavedFrameWriter::U32(u32 v) {
    u8 b[4];
    ByteWriter(b, sizeof b).Le32(0, v);
    Bytes(b, sizeof b);
}

void SavedFrameWriter::U64(u64 v) {
    u8 b[8];
    ByteWriter(b, sizeof b).Le64(0, v);
    Bytes(b, sizeof b);
}

void SavedFrameWriter::Bytes(const void* data, size_t n) {
    if (n == 0) return;
    const auto* p = static_cast<const u8*>(data);
    m_pending.insert(m_pending.end(), p, p + n);
    FlushWhenFull();
}

void SavedFrameWriter::FlushWhenFull() {
    if (m_pending.size() >= kFlushBytes) Flush();
}

void SavedFrameWriter::Flush() {
    if (m_pending.empty()) return;
    // The archive refuses a frame that would outgrow its 32-bit size itself (error 9).
    if (m_pending.size() > 0xFFFFFFFFu) throw CRSException(RS_ERROR_TOO_LARGE);
    const bool written = m_archive.WriteCurFrame(m_pending.data(), static_cast<u32>(m_pending.size()));
    m_pending.clear();
    // A false answer without an exception means an earlier failure is pending: never report it as written.
    if (!written) throw CRSException(RS_ERROR_WRITE);
}

}  // namespace saved_result
