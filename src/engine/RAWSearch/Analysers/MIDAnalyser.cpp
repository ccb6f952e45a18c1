#include "engine/RAWSearch/Analysers/MIDAnalyser.h"

#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"

using namespace midi_layout;

namespace RawSpeed {

MIDAnalyser::MIDAnalyser() : IRawFileAnalyser(RAW_TYPE_MID), m_deviceAnalyser(std::make_unique<FileMIDAnalyser>()) {}

int MIDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !IsMidiHeader(ByteReader(sector, 512))) return 0;
    info.m_type = RAW_TYPE_MID;
    return 1;
}

CRawFileInfo* MIDAnalyser::CreateRawFileInfo() { return new MIDRawFileInfo(m_deviceAnalyser.get()); }

MIDRawFileInfo::MIDRawFileInfo(IRawFileAnalyser* deviceAnalyser) : m_deviceAnalyser(deviceAnalyser) {
    m_type = RAW_TYPE_MID;
}

int MIDRawFileInfo::End(long long sectorNumber, u64 size) {
    m_ended = true;
    m_size = size;
    SetRawFileName(SectorSpanName(m_startSector, sectorNumber, "_"));
    return RAW_SIZE_FINISHED;
}

int MIDRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    if (m_walked == 0) {
        m_walked = kFirstChunk;
        m_tracks = w.Sector().Be16(kTracks).value_or(0);
    }
    // The chunks whose header starts in this sector (or in an earlier one whose header ran past the
    // block at the last call). Past the limit the file ends with the offset reached.
    while (m_walked < static_cast<u64>(w.SectorEnd()) && m_walked < kGuessLimit) {
        const std::optional<ByteReader> header = w.Bytes(static_cast<i64>(m_walked), kChunkHeader);
        if (!header && static_cast<i64>(m_walked) >= w.Begin()) return RAW_SIZE_CONTINUE;
        const std::optional<u64> length = header ? MidiTrackChunkLength(*header) : std::nullopt;
        if (!length) return End(s, m_walked);
        m_walked += *length;
        // The header counts the tracks: the last one ends the file, whatever follows it.
        if (++m_tracksWalked == m_tracks) return End(s, m_walked);
    }
    if (m_walked >= kGuessLimit) return End(s, m_walked);
    return RAW_SIZE_CONTINUE;
}

void MIDRawFileInfo::WillBeRemove(unsigned char*, long long) { m_analyser = m_deviceAnalyser; }

}  // namespace RawSpeed

IRawFileAnalyser* CreateMIDAnalyser() { return new RawSpeed::MIDAnalyser(); }
