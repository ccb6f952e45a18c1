#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace m2ts_layout;

namespace BruteForce {

namespace {
bool FirstPacketFlags(u8 b) {
    for (u8 v : kSecondBytes) {
        if (b == v) return true;
    }
    return false;
}

bool AllFF(const ByteReader& head, size_t at) {
    for (size_t i = 0; i < 8; ++i) {
        if (head.U8(at + i) != 0xFF) return false;
    }
    return true;
}

// A packet's sync byte at sync with the given flags byte, the next packet's sync byte at next, and
// no stuffing of 0xFF at the two places given.
bool PacketPair(const ByteReader& head, size_t sync, size_t next, size_t stuffing1, size_t stuffing2) {
    return head.U8(sync) == kSync && FirstPacketFlags(head.U8(sync + 1).value_or(0)) && head.U8(next) == kSync &&
           !AllFF(head, stuffing1) && !AllFF(head, stuffing2);
}
}  // namespace

CM2TSAnalyser::CM2TSAnalyser() : IRawFileAnalyser(RAW_TYPE_M2TS) {}

bool CM2TSAnalyser::isSourcePacket(const ByteReader& head) { return PacketPair(head, 4, 196, 8, 200); }

bool CM2TSAnalyser::JudeM2TSHeader(const ByteReader& head) { return PacketPair(head, 0, 188, 8, 196); }

int CM2TSAnalyser::GetRequiredBits(RequiredBits* tests) const {
    tests[0] = {0, 0xFF, kSync};
    tests[1] = {4, 0xFF, kSync};
    return 2;
}

int CM2TSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    // A packet of the stream being followed starts no new stream.
    if (sector == nullptr || m_followed) return 0;
    const ByteReader head(sector, 512);
    if (isSourcePacket(head)) {
        m_packetSize = kSourcePacket;
    } else if (JudeM2TSHeader(head)) {
        m_packetSize = kPacket;
    } else {
        return 0;
    }
    m_followed = true;
    info.m_type = RAW_TYPE_M2TS;
    return 1;
}

CRawFileInfo* CM2TSAnalyser::CreateRawFileInfo() { return new CM2TSFileInfo(this, m_packetSize); }

CM2TSFileInfo::CM2TSFileInfo(CM2TSAnalyser* owner, u64 packetSize) : m_owner(owner), m_packetSize(packetSize) {
    m_type = RAW_TYPE_M2TS;
}

int CM2TSFileInfo::Finish(u64 size) {
    m_owner->FileEnded();
    // Streams this short are dropped.
    return EndUnnamed(size < kMinSize ? 0 : size);
}

void CM2TSFileInfo::WillBeRemove(unsigned char*, long long) { m_owner->FileEnded(); }

int CM2TSFileInfo::CalcRawSize(unsigned char* sector, int n, long long s, SearchContext& ctx) {
    if (m_ended) return RAW_SIZE_FINISHED;
    if (sector == nullptr || n <= 0 || s < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow w(sector, n, s, m_startSector, ctx);
    const WindowSource source(w);
    const u64 sync = m_packetSize == kSourcePacket ? 4 : 0;
    while (m_packets * m_packetSize < static_cast<u64>(w.SectorEnd())) {
        const u64 at = m_packets * m_packetSize;
        if (at >= kCap) return Finish(at);
        const std::optional<ByteReader> byte = source.Bytes(at + sync, 1);
        if (!byte) {
            if (source.Awaits(at + sync)) return RAW_SIZE_CONTINUE;
            return Finish(at);
        }
        if (byte->U8(0) != kSync) return Finish(at);
        ++m_packets;
    }
    return RAW_SIZE_CONTINUE;
}

}  // namespace BruteForce

IRawFileAnalyser* CreateCM2TSAnalyser() { return new BruteForce::CM2TSAnalyser(); }
