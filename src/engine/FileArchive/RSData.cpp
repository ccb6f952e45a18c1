#include "engine/FileArchive/RSData.h"

#include <algorithm>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/FileArchive/CRC.h"

namespace {

constexpr u64 kMaxOffset32 = 0xFFFFFFFFull;

// The file header (u32 fields little-endian).
namespace header_layout {
constexpr size_t kSignature = 0;  // 16 bytes
constexpr size_t kVersion = 16;
constexpr size_t kCrc = 20;
constexpr size_t kStatus = 24;
constexpr size_t kDescriptionLength = 28;
constexpr size_t kDescription = 32;  // kRSMaxDescription bytes
}  // namespace header_layout

// A frame header: the frame magic, the frame's tag and its data size (u32 LE).
namespace frame_layout {
constexpr size_t kMagic = 0;  // 16 bytes
constexpr size_t kTag = 16;   // 16 bytes
constexpr size_t kSize = 32;
}  // namespace frame_layout

constexpr size_t kSignSize = sizeof(tagGUIDSIGN::bytes);

bool HeaderCrcMatches(u8 (&bytes)[kRSHeaderSize], u32& recomputed) {
    ByteWriter writer(bytes, kRSHeaderSize);
    const u32 stored = ByteReader(bytes, kRSHeaderSize).Le32(header_layout::kCrc).value_or(0);
    writer.Le32(header_layout::kCrc, 0);
    recomputed = CCRC::RunCRC16(bytes, kRSHeaderSize, CCRC::kHeaderPolynomial);
    writer.Le32(header_layout::kCrc, stored);
    return stored == recomputed;
}

}  // namespace

void FILEHEADER::Serialize(u8 (&out)[kRSHeaderSize]) const {
    using namespace header_layout;
    ByteWriter writer(out, kRSHeaderSize);
    writer.Bytes(kSignature, signature.bytes, kSignSize);
    writer.Le32(kVersion, version);
    writer.Le32(kCrc, crc);
    writer.Le32(kStatus, status);
    writer.Le32(kDescriptionLength, descriptionLength);
    writer.Bytes(kDescription, description, kRSMaxDescription);
}

FILEHEADER FILEHEADER::Parse(const u8 (&in)[kRSHeaderSize]) {
    using namespace header_layout;
    const ByteReader reader(in, kRSHeaderSize);
    FILEHEADER h;
    reader.CopyTo(kSignature, h.signature.bytes, kSignSize);
    h.version = reader.Le32(kVersion).value_or(0);
    h.crc = reader.Le32(kCrc).value_or(0);
    h.status = reader.Le32(kStatus).value_or(0);
    h.descriptionLength = reader.Le32(kDescriptionLength).value_or(0);
    reader.CopyTo(kDescription, h.description, kRSMaxDescription);
    return h;
}

CRSData::CRSData(RSMode mode) : m_mode(mode) {}

void CRSData::SetError(u32 code) {
    m_error = code;
}

void CRSData::ThrowPending() {
    if (m_error == RS_ERROR_NONE) return;
    const u32 code = m_error;
    m_error = RS_ERROR_NONE;  // the object stays usable after the throw
    throw CRSException(code);
}

template <class Result, class Body>
Result CRSData::InMode(RSMode mode, Result fallback, Body body) {
    Result result = fallback;
    if (m_mode != mode) {
        SetError(RS_ERROR_WRONG_MODE);
    } else {
        result = body();
    }
    ThrowPending();
    return result;
}

void CRSData::ClearFrame() {
    m_frame = FrameHeader{};
    m_frameStart = -1;
    m_readOffset = 0;
}

bool CRSData::StartRS(const char* path, int create) {
    if (!path || !*path) return false;
    ClearFrame();
    m_error = RS_ERROR_NONE;
    if (m_mode == RS_MODE_READ) {
        m_file.Open(path, CStdFile::ModeRead);
    } else if (m_mode == RS_MODE_WRITE) {
        m_file.Open(path, create ? CStdFile::ModeCreateTruncate : CStdFile::ModeReadWriteAppend);
    }
    return m_file.IsOpen();
}

bool CRSData::EndRS() {
    ClearFrame();
    return m_file.Close();
}

bool CRSData::ReadHeaderBytes(u8 (&bytes)[kRSHeaderSize], size_t& got) {
    std::memset(bytes, 0, sizeof bytes);
    got = 0;
    const ssize_t n = m_file.Read(bytes, kRSHeaderSize);
    if (n > 0) got = static_cast<size_t>(n);
    return got == kRSHeaderSize;
}

bool CRSData::CheckFile() {
    if (!m_file.IsOpen()) return false;
    u8 bytes[kRSHeaderSize];
    size_t got;
    if (!ReadHeaderBytes(bytes, got)) return false;
    const FILEHEADER h = FILEHEADER::Parse(bytes);
    return h.signature == _frSignPub && h.status >= 1 && h.status <= 4;
}

bool CRSData::WriteFileHeader(const FILEHEADER& header) {
    if (m_mode != RS_MODE_WRITE || !m_file.SetPosition(0)) return false;
    FILEHEADER h = header;
    h.version = kRSVersion;
    h.crc = 0;
    u8 bytes[kRSHeaderSize];
    h.Serialize(bytes);
    ByteWriter(bytes, kRSHeaderSize)
        .Le32(header_layout::kCrc, CCRC::RunCRC16(bytes, kRSHeaderSize, CCRC::kHeaderPolynomial));
    return m_file.Write(bytes, kRSHeaderSize);
}

bool CRSData::ReadFileHeader(FILEHEADER& header) {
    if (!m_file.SetPosition(0)) return false;
    u8 bytes[kRSHeaderSize];
    size_t got;
    const bool whole = ReadHeaderBytes(bytes, got);
    header = FILEHEADER::Parse(bytes);
    if (!whole) return false;
    u32 recomputed;
    const bool crcOk = HeaderCrcMatches(bytes, recomputed);
    header.crc = recomputed;
    // The signature is checked too: a foreign file with a self-consistent CRC is not ours.
    return crcOk && header.version == kRSVersion && header.signature == _frSignPub;
}

FileStatus CRSData::GetStatus() {
    return InMode(RS_MODE_READ, FileStatus{0}, [&] {
        FILEHEADER h;
        const bool ok = ReadFileHeader(h);
        if (ok && h.status >= 5) SetError(RS_ERROR_HEADER_RANGE);
        return h.status;
    });
}

bool CRSData::SetStatus(FileStatus status) {
    return InMode(RS_MODE_WRITE, false, [&] {
        FILEHEADER h;
        if (!ReadFileHeader(h)) h = FILEHEADER{};
        h.status = status;
        return WriteFileHeader(h);
    });
}

bool CRSData::SetFileDescription(const char* text) {
    return InMode(RS_MODE_WRITE, false, [&] {
        FILEHEADER h;
        if (!ReadFileHeader(h)) return false;
        const size_t length = text ? std::min<size_t>(std::strlen(text), kRSMaxDescription) : 0;
        std::memset(h.description, 0, sizeof h.description);
        if (length) std::memcpy(h.description, text, length);
        h.descriptionLength = static_cast<u32>(length);
        return WriteFileHeader(h);
    });
}

bool CRSData::GetFileDescription(char* out, int size) {
    if (!out || size < 1) return false;
    return InMode(RS_MODE_READ, false, [&] {
        FILEHEADER h;
        if (!ReadFileHeader(h)) return false;
        if (h.descriptionLength > kRSMaxDescription) {
            SetError(RS_ERROR_HEADER_RANGE);
            return false;
        }
        const size_t n = std::min<size_t>(h.descriptionLength, static_cast<size_t>(size) - 1);
        std::memcpy(out, h.description, n);
        out[n] = '\0';
        return true;
    });
}

bool CRSData::WriteFrameHeader() {
    u8 bytes[kRSFrameHeaderSize];
    ByteWriter writer(bytes, sizeof bytes);
    writer.Bytes(frame_layout::kMagic, m_frame.magic.bytes, kSignSize);
    writer.Bytes(frame_layout::kTag, m_frame.tag.bytes, kSignSize);
    writer.Le32(frame_layout::kSize, m_frame.size);
    return m_file.SetPosition(m_frameStart) && m_file.Write(bytes, sizeof bytes);
}

bool CRSData::ReadFrameHeaderAt(i64 offset, FrameHeader& header) {
    u8 bytes[kRSFrameHeaderSize];
    if (!m_file.SetPosition(offset) || m_file.Read(bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes)) {
        return false;
    }
    const ByteReader reader(bytes, sizeof bytes);
    reader.CopyTo(frame_layout::kMagic, header.magic.bytes, kSignSize);
    reader.CopyTo(frame_layout::kTag, header.tag.bytes, kSignSize);
    header.size = reader.Le32(frame_layout::kSize).value_or(0);
    return true;
}

bool CRSData::OpenFrame(const tagGUIDSIGN& tag) {
    CloseFrame();
    bool result = false;
    if (m_mode == RS_MODE_WRITE) {
        const i64 end = m_file.SeekToEnd();
        if (end < 0) {
            SetError(RS_ERROR_WRITE);
        } else if (static_cast<u64>(end) > kMaxOffset32) {
            // Frame offsets are 32-bit: a frame past 4 GiB could never be found again.
            SetError(RS_ERROR_TOO_LARGE);
        } else {
            m_frame = FrameHeader{_frSignPub, tag, 0};
            m_frameStart = end;
            m_readOffset = 0;
            result = WriteFrameHeader();
            if (!result) {
                ClearFrame();
                SetError(RS_ERROR_WRITE);
            }
        }
    } else {
        result = SearchFrame(tag);
    }
    ThrowPending();
    return result;
}

bool CRSData::SearchFrame(const tagGUIDSIGN& tag) {
    ClearFrame();
    i64 length = 0;
    if (!m_file.GetFileLength(&length)) length = 0;
    // Every step moves forward by at least the header size, so the walk ends at the file's end.
    i64 offset = static_cast<i64>(kRSHeaderSize);
    FrameHeader header;
    while (ReadFrameHeaderAt(offset, header)) {
        const i64 dataStart = offset + static_cast<i64>(kRSFrameHeaderSize);
        if (header.magic == _frSignPub && header.tag == tag) {
            if (dataStart + static_cast<i64>(header.size) > length) {
                // The frame claims more bytes than the file holds: truncated or corrupt.
                SetError(RS_ERROR_SHORT_READ);
                return false;
            }
            m_frame = header;
            m_frameStart = offset;
            m_readOffset = 0;
            return true;
        }
        offset = dataStart + static_cast<i64>(header.size);
    }
    SetError(RS_ERROR_NO_SUCH_FRAME);
    return false;
}

bool CRSData::CloseFrame() {
    if (HasFrame() && m_mode == RS_MODE_WRITE) {
        FlushBuffer();
        if (!WriteFrameHeader()) SetError(RS_ERROR_WRITE);
    }
    ClearFrame();
    ThrowPending();
    return true;
}

u32 CRSData::GetFrameSize() {
    if (!HasFrame()) SetError(RS_ERROR_NO_FRAME);
    ThrowPending();
    return m_frame.size;
}

bool CRSData::ReadFrameBytes(void* out, u32 n) {
    if (n == 0) return true;
    if (!out) return false;
    const i64 at = m_frameStart + static_cast<i64>(kRSFrameHeaderSize) + m_readOffset;
    if (!m_file.SetPosition(at)) return false;
    const ssize_t got = m_file.Read(out, n);
    if (got > 0) m_readOffset += static_cast<u32>(got);
    return got == static_cast<ssize_t>(n);
}

bool CRSData::ReadCurFrame(void* out, u32 size) {
    return InMode(RS_MODE_READ, true, [&] {
        if (!HasFrame()) {
            SetError(RS_ERROR_NO_FRAME);
        } else if (!ReadFrameBytes(out, std::min(size, m_frame.size - m_readOffset))) {
            SetError(RS_ERROR_SHORT_READ);
        }
        return true;
    });
}

bool CRSData::ReadCurFrameExact(void* out, u32 size) {
    return InMode(RS_MODE_READ, true, [&] {
        if (!HasFrame()) {
            SetError(RS_ERROR_NO_FRAME);
        } else if (size > m_frame.size - m_readOffset || !ReadFrameBytes(out, size)) {
            SetError(RS_ERROR_SHORT_READ);
        }
        return true;
    });
}

i64 CRSData::GetFramePosition() {
    if (!HasFrame()) return -1;
    return m_frameStart + static_cast<i64>(kRSFrameHeaderSize) + m_readOffset;
}

u32 CRSData::GetFrameBytesLeft() {
    if (!HasFrame() || m_mode != RS_MODE_READ || m_readOffset > m_frame.size) return 0;
    return m_frame.size - m_readOffset;
}

bool CRSData::WriteCurFrame(const void* data, u32 size) {
    if (m_error != RS_ERROR_NONE) return false;
    return InMode(RS_MODE_WRITE, false, [&] {
        if (!HasFrame()) {
            SetError(RS_ERROR_NO_FRAME);
            return false;
        }
        if (static_cast<u64>(m_frame.size) + size > kMaxOffset32) {
            // The size field is 32-bit: refuse before writing rather than wrap.
            SetError(RS_ERROR_TOO_LARGE);
            return false;
        }
        const i64 at = m_frameStart + static_cast<i64>(kRSFrameHeaderSize) + m_frame.size;
        if (!m_file.SetPosition(at) || !m_file.Write(data, size)) {
            SetError(RS_ERROR_WRITE);
            return false;
        }
        m_frame.size += size;
        return true;
    });
}

bool CRSData::FlushBuffer() {
    if (m_staging.empty()) return true;
    const bool ok = m_file.Write(m_staging.data(), m_staging.size());
    m_staging.clear();
    if (!ok) SetError(RS_ERROR_WRITE);
    return ok;
}
