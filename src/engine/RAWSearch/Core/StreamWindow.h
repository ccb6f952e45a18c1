// The bytes of a found file that the search holds in memory while a guessing record sizes it: from
// the first sector of the search's double buffer (never before the file's first byte) to the end of
// the current block. A streaming record reads its structures through this window by file offset; a
// structure that lies partly outside it is absent, never read around.
#pragma once

#include <optional>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class StreamWindow {
public:
    // sector is the current sector (sectorNumber) in the search's buffer, startSector the file's first.
    StreamWindow(const unsigned char* sector, int sectorSize, long long sectorNumber, long long startSector,
                 const CRawFileInfo::SearchContext& ctx);

    i64 SectorSize() const { return m_sectorSize; }
    // File offset of the current sector's first byte (the bytes of the file before this sector).
    i64 SectorStart() const { return m_sectorStart; }
    i64 SectorEnd() const { return m_sectorStart + m_sectorSize; }
    // The index of the current sector within the file.
    i64 SectorIndex() const { return m_sectorSize > 0 ? m_sectorStart / m_sectorSize : 0; }
    // The file offsets held: [Begin(), End()).
    i64 Begin() const { return m_begin; }
    i64 End() const { return m_end; }

    bool Holds(i64 offset, u64 length) const {
        return offset >= m_begin && offset <= m_end && length <= static_cast<u64>(m_end - offset);
    }
    // [offset, offset + length) of the file, absent unless all of it is held.
    std::optional<ByteReader> Bytes(i64 offset, u64 length) const {
        if (!Holds(offset, length)) return std::nullopt;
        return ByteReader(At(offset), static_cast<size_t>(length));
    }
    // The held bytes from offset to the window's end; empty when offset is not held.
    ByteReader From(i64 offset) const {
        if (offset < m_begin || offset >= m_end) return ByteReader();
        return ByteReader(At(offset), static_cast<size_t>(m_end - offset));
    }
    // The current sector.
    ByteReader Sector() const { return ByteReader(m_sector, static_cast<size_t>(m_sectorSize)); }

private:
    const unsigned char* At(i64 offset) const { return m_sector + (offset - m_sectorStart); }

    const unsigned char* m_sector;
    i64 m_sectorSize;
    i64 m_sectorStart;
    i64 m_begin;
    i64 m_end;
};

// Zero bytes at the end of a sector in whole 32-bit words, at most 32 (as the search counts them).
u32 SectorZeroTail(const unsigned char* sector, u32 sectorSize);

// "start-current" followed by suffix: the name a streaming record gives its file from its first and
// its last sector.
std::string SectorSpanName(long long startSector, long long currentSector, const char* suffix);
