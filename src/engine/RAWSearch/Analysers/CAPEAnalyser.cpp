#include <algorithm>

#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace ape_layout;

namespace BruteForce {

namespace {
constexpr u32 kHeaderPresent = 1u << 31;
constexpr u32 kIsHeader = 1u << 29;

u64 RoundDown(u64 value, u64 alignment) { return alignment == 0 ? value : value / alignment * alignment; }
u64 RoundUp(u64 value, u64 alignment) { return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment; }

bool ValidFooter(const ByteReader& footer) {
    return footer.Equals(0, "APETAGEX") && footer.Le32(kItemCount).value_or(~0u) <= kMaxItems &&
           footer.Le32(kTagSize).value_or(~0u) <= kMaxTagSize;
}
}  // namespace

CAPEAnalyser::CAPEAnalyser() : IRawFileAnalyser(RAW_TYPE_APE) {}

int CAPEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !ByteReader(sector, 4).Equals(0, "MAC ")) return 0;
    info.m_type = RAW_TYPE_APE;
    return 1;
}

CRawFileInfo* CAPEAnalyser::CreateRawFileInfo() { return new CAPERawFileInfo(); }

u64 CAPERawFileInfo::tagSize(const ByteReader& footer) {
    if (!ValidFooter(footer)) return 0;
    const u32 flags = footer.Le32(kTagFlags).value_or(0);
    if ((flags & kHeaderPresent) != 0 && (flags & kIsHeader) != 0) return u64{*footer.Le32(kTagSize)} + kFooter;
    return kFooter;
}

int CAPERawFileInfo::Tail(const StreamWindow& w, const unsigned char*, int, u32 zeroTail) {
    const u64 seen = static_cast<u64>(w.SectorEnd());
    // The tag's footer, sought backwards from the sector's end.
    for (i64 at = w.SectorEnd() - static_cast<i64>(kFooter); at >= std::max<i64>(w.Begin(), w.SectorStart() - 32); --at) {
        const std::optional<ByteReader> footer = w.Bytes(at, kFooter);
        if (!footer || !ValidFooter(*footer)) continue;
        if (m_version < kDescriptorVersion) return EndUnnamed(std::min<u64>(static_cast<u64>(at) + kFooter, kLimit));
        const u32 flags = *footer->Le32(kTagFlags);
        const u64 tag = u64{*footer->Le32(kTagSize)} + ((flags & kHeaderPresent) != 0 ? kFooter : 0);
        return EndUnnamed(std::min<u64>(RoundDown(m_descriptorSize + tag, m_alignment) + m_alignment, kLimit));
    }
    return EndUnnamed(std::min<u64>(RoundUp(seen - std::min<u64>(zeroTail, seen), m_alignment) + m_alignment, kLimit));
}

int CAPERawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const WindowSource source(w);
    const u64 seen = static_cast<u64>(w.SectorEnd());
    if (!m_headRead) {
        const std::optional<ByteReader> head = source.Bytes(0, kDescriptor);
        if (!head) return EndUnnamed(0);
        m_version = *head->Le16(kVersion);
        if (m_version < kMinVersion || m_version > kMaxVersion) return EndUnnamed(0);
        if (m_version >= kDescriptorVersion) {
            // The descriptor: the size once the header after it is held.
            m_descriptorBytes = *head->Le32(kDescriptorBytes);
            const std::optional<ByteReader> header = source.Bytes(m_descriptorBytes, kHeaderRead);
            if (!header) return source.Awaits(m_descriptorBytes) ? RAW_SIZE_CONTINUE : EndUnnamed(0);
            const u16 channels = *header->Le16(kChannels);
            if (channels != 1 && channels != 2) return EndUnnamed(0);
            m_alignment = u64{*header->Le16(kBitsPerSample)} / 8 * channels;
            m_descriptorSize = m_descriptorBytes + u64{*head->Le32(kHeaderBytes)} + *head->Le32(kSeekTableBytes) +
                               *head->Le32(kHeaderDataBytes) + *head->Le32(kFrameDataBytes) +
                               (u64{*head->Le32(kFrameDataBytes + 4)} << 32) + *head->Le32(kTerminatingBytes);
            m_headRead = true;
            if (seen < m_descriptorSize) return EndUnnamed(std::min(m_descriptorSize, kLimit));
        } else {
            // The old header: the seek table, whose largest entry is where the last frame begins.
            const u16 flags = *head->Le16(kOldFlags);
            const u16 channels = *head->Le16(kOldChannels);
            if (channels != 1 && channels != 2) return EndUnnamed(0);
            m_alignment = ((flags & 1) != 0 ? 8u : (flags & 8) != 0 ? 3u : 2u) * channels;
            const u64 table = kOldSeekTable + ((flags & 4) != 0 ? 4 : 0) + ((flags & 16) != 0 ? 4 : 0) +
                              (*head->Le32(kOldWavBytes) != 0 ? kWavHeaderSkip : 0);
            const std::optional<ByteReader> first = source.Bytes(table - 4, 8);
            if (!first) return source.Awaits(table - 4) ? RAW_SIZE_CONTINUE : EndUnnamed(0);
            const u32 entry = *first->Le32(4);
            if (entry == 0 || entry > kMaxSeekEntry) return EndUnnamed(0);
            const u64 count = (flags & 16) != 0 ? *first->Le32(0) : *head->Le32(kOldTotalFrames);
            m_tableEnd = m_version >= kOldTableVersion ? entry : table + 4 * count;
            m_tableAt = table;
            m_headRead = true;
        }
    }
    if (m_version < kDescriptorVersion) {
        while (!m_tableDone && m_tableAt + 4 <= m_tableEnd && m_tableAt < seen) {
            const std::optional<ByteReader> entry = source.Bytes(m_tableAt, 4);
            if (!entry && source.Awaits(m_tableAt)) break;
            const u32 value = entry ? *entry->Le32(0) : 0;
            if (value == 0 || value > kMaxSeekEntry) {
                m_tableDone = true;
                break;
            }
            m_lastFrame = std::max<u64>(m_lastFrame, value);
            m_tableAt += 4;
        }
        if (m_tableAt + 4 > m_tableEnd) m_tableDone = true;
        if (!m_tableDone || seen < m_lastFrame || ctx.trailingZeroBytes == 0) {
            // Until the tail shows, the size follows the data seen.
            if (ctx.trailingZeroBytes == 0) m_size = std::min(seen, kLimit);
            return RAW_SIZE_CONTINUE;
        }
    } else if (ctx.trailingZeroBytes == 0) {
        return RAW_SIZE_CONTINUE;
    }
    return Tail(w, sector, n, ctx.trailingZeroBytes);
}

}  // namespace BruteForce

IRawFileAnalyser* CreateCAPEAnalyser() { return new BruteForce::CAPEAnalyser(); }
