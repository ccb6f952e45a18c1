// The two places a stream walk reads a found file from, behind one interface, so that the guessing
// record and the device analyser of a format share their walk: the search's window while the sectors
// pass (bytes beyond it are awaited: the walk continues at the next sector), or the device from the
// file's start sector (bytes that cannot be read end the walk).
#pragma once

#include <limits>
#include <optional>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

// What one step of a walk gives.
enum class WalkStep { Next, Wait, End };

class WindowSource {
public:
    explicit WindowSource(const StreamWindow& window) : m_window(window) {}
    std::optional<ByteReader> Bytes(u64 offset, u64 length) const {
        if (offset > static_cast<u64>(std::numeric_limits<i64>::max())) return std::nullopt;
        return m_window.Bytes(static_cast<i64>(offset), length);
    }
    // True when bytes at offset that could not be read come with a later sector.
    bool Awaits(u64 offset) const {
        return offset <= static_cast<u64>(std::numeric_limits<i64>::max()) && static_cast<i64>(offset) >= m_window.Begin();
    }
    // A step that could not read at offset waits for the next sector, or ends the file.
    WalkStep Missing(u64 offset) const { return Awaits(offset) ? WalkStep::Wait : WalkStep::End; }

private:
    const StreamWindow& m_window;
};

class DeviceSource {
public:
    static constexpr u64 kMaxRead = 1024;

    DeviceSource(IStorageDevice* device, long long startSector)
        : m_file(device, static_cast<unsigned long long>(startSector < 0 ? 0 : startSector)) {}
    // Up to kMaxRead bytes at offset; absent past the device, on a read failure or a stop request.
    std::optional<ByteReader> Bytes(u64 offset, u64 length) {
        if (length > kMaxRead) return std::nullopt;
        if (unsigned char* p = m_file.GetRawFileBuffer(offset); p != nullptr && m_file.Available(offset) >= length) {
            return ByteReader(p, static_cast<size_t>(length));
        }
        if (!m_file.CopyOut(offset, m_copy, length)) return std::nullopt;
        return ByteReader(m_copy, static_cast<size_t>(length));
    }
    bool Awaits(u64) const { return false; }
    WalkStep Missing(u64) const { return WalkStep::End; }
    u32 SectorSize() const { return m_file.GetSectorSize(); }
    RawFileBuffer& File() { return m_file; }

private:
    RawFileBuffer m_file;
    unsigned char m_copy[kMaxRead] = {};
};

// A guessing record of a stream format: its end, sized and named after its first and last sector,
// or dropped when no size was found.
class StreamRecord : public CRawFileInfo {
public:
    bool WhetherImplementGuess() override { return true; }

protected:
    int End(long long sectorNumber, u64 size) {
        m_ended = true;
        m_size = size;
        if (size != 0) SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
        return RAW_SIZE_FINISHED;
    }
    // The same end without a name (the file is named by its counter).
    int EndUnnamed(u64 size) {
        m_ended = true;
        m_size = size;
        return RAW_SIZE_FINISHED;
    }

    bool m_ended = false;
};
