#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace mxf_layout;

namespace RawSpeed {

MxfAnalyser::MxfAnalyser() : IRawFileAnalyser(RAW_TYPE_MXF) {}

int MxfAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader head(sector, 512);
    if (!head.Equals(0, kPartitionKey, sizeof(kPartitionKey)) || head.Be16(kMajorVersion) != 1 ||
        *head.Be16(kMinorVersion) > kMaxMinorVersion) {
        return 0;
    }
    // A file starts with its header partition, whose offset is 0: a body or footer partition further on
    // in a file is a part of it.
    if (*head.Be32(kThisPartition) != 0) return 0;
    info.m_type = RAW_TYPE_MXF;
    return 1;
}

CRawFileInfo* MxfAnalyser::CreateRawFileInfo() { return new MxfRawFileInfo(); }

std::optional<u64> MxfAnalyser::PacketBytes(const ByteReader& packet) {
    if (!packet.Equals(0, kKeyPrefix, sizeof(kKeyPrefix))) return std::nullopt;
    const std::optional<u8> first = packet.U8(kLength);
    if (!first) return std::nullopt;
    // The length in BER: one byte below 0x80, else 0x80 + the count of big-endian bytes that follow.
    if (*first < 0x80) return kKeyBytes + 1 + *first;
    const u8 count = *first & 0x7F;
    if (count == 0 || count > 8) return std::nullopt;
    const std::optional<u64> length = packet.BeN(kLength + 1, count);
    if (!length) return std::nullopt;
    // A length past the limit stands for any such length: the file is dropped either way.
    if (*length > kLimit) return kLimit + 1;
    return kKeyBytes + 1 + count + *length;
}

int MxfRawFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const WindowSource source(w);
    for (int packets = 0; m_walked < static_cast<u64>(w.SectorEnd());) {
        // The key, the length's first byte and at most 8 length bytes.
        const std::optional<ByteReader> packet = source.Bytes(m_walked, kKeyBytes + 9);
        if (!packet) return source.Awaits(m_walked) ? RAW_SIZE_CONTINUE : End(s, m_walked);
        const std::optional<u64> bytes = MxfAnalyser::PacketBytes(*packet);
        if (!bytes) return End(s, m_walked);
        m_walked += *bytes;
        // A file that grows past the limit is dropped.
        if (m_walked > kLimit) return End(s, 0);
        if (++packets > kPacketsPerCall) return End(s, m_walked);
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateMxfAnalyser() { return new RawSpeed::MxfAnalyser(); }
