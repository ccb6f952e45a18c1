#include <cstring>

#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"

using namespace mpg_layout;

u64 MpgWalk::PackLength(const ByteReader& head) {
    for (const auto& form : kPack14) {
        if (head.Equals(kPackBytes, form, 4)) return 14;
    }
    return 12;
}

template <class Source>
WalkStep MpgWalk::Run(Source& source, u64 until, Until mode) {
    const bool guess = mode == Until::Guess;
    int steps = 0;
    while (m_walked < until) {
        if (guess && ++steps > kStepsPerCall) return Finish(m_walked);
        const std::optional<ByteReader> code = source.Bytes(m_walked, 4);
        if (!code) {
            if (source.Awaits(m_walked)) return WalkStep::Wait;
            return Finish(m_walked);
        }
        const u8 b0 = *code->U8(0), b1 = *code->U8(1), b2 = *code->U8(2), b3 = *code->U8(3);
        if (b0 == 0 && b1 == 0 && b2 == 0 && b3 <= 1) {
            // Padding: a byte at a time; a long run ends the stream where it began.
            if (m_zeroRun == 0) m_zeroRunStart = m_walked;
            ++m_walked;
            if (++m_zeroRun >= kZeroRun) return Finish(m_zeroRunStart);
            continue;
        }
        m_zeroRun = 0;
        if (b0 == 0 && b1 == 0 && b2 == 1 && b3 == kProgramEnd) return Finish(m_walked + 4);
        if (b0 == 0 && b1 == 0 && b2 == 1) {
            m_steppedBack = false;
            u64 at = m_walked;
            if (b3 == 0xB3 || b3 == 0xBA) {
                const std::optional<ByteReader> next = source.Bytes(m_walked + m_packLength, kPacketHeader);
                if (!next) return source.Awaits(m_walked + m_packLength) ? WalkStep::Wait : Finish(m_walked);
                if (next->Equals(0, "\x00\x00\x01\xBB", 4)) {
                    // A system header: skipped, and a start code must follow it.
                    at = m_walked + m_packLength + *next->Be16(kPacketLength) + kPacketHeader;
                } else {
                    const u64 length = *next->Be16(kPacketLength);
                    m_lastPacket = length == 0 ? kEmptyPacket : m_packLength + length + kPacketHeader;
                    m_walked += m_lastPacket;
                    continue;
                }
                const std::optional<ByteReader> packet = source.Bytes(at, kPacketHeader);
                if (!packet && source.Awaits(at)) return WalkStep::Wait;
                if (!packet || !packet->Equals(0, "\x00\x00\x01", 3)) return Finish(at < kMinSystemEnd ? 0 : at);
            }
            const std::optional<ByteReader> packet = source.Bytes(at, kPacketHeader);
            if (!packet) return source.Awaits(at) ? WalkStep::Wait : Finish(m_walked);
            const u64 length = *packet->Be16(kPacketLength);
            m_lastPacket = length == 0 ? kEmptyPacket : length + kPacketHeader;
            m_walked = at + m_lastPacket;
            continue;
        }
        // No start code: one more try two bytes back, then the stream has ended where the first try
        // failed. Its last packet is kept: taking it back would cut a stream followed by other data.
        if (!m_steppedBack && m_walked >= 2) {
            m_steppedBack = true;
            m_junkAt = m_walked;
            m_walked -= 2;
            continue;
        }
        return Finish(m_steppedBack ? m_junkAt : m_walked);
    }
    return WalkStep::Next;
}

template WalkStep MpgWalk::Run<const WindowSource>(const WindowSource&, u64, Until);
template WalkStep MpgWalk::Run<DeviceSource>(DeviceSource&, u64, Until);

FileMPGAnalyser::FileMPGAnalyser() : IRawFileAnalyser(RAW_TYPE_MPG) {}

int FileMPGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader head(sector, 8);
    if (!head.Equals(0, "\x00\x00\x01\xB3", 4) && !head.Equals(0, "\x00\x00\x01\xBA", 4)) return 0;
    info.m_type = RAW_TYPE_MPG;
    return 1;
}

bool FileMPGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    info.m_size = 0;
    if (device == nullptr) return false;
    DeviceSource source(device, info.m_startSector);
    const std::optional<ByteReader> head = source.Bytes(0, kPackBytes + 4);
    if (!head) return false;
    MpgWalk walk(MpgWalk::PackLength(*head));
    const WalkStep step = walk.Run(source, kDeviceLimit, MpgWalk::Until::Device);
    info.m_type = RAW_TYPE_MPG;
    info.m_size = step == WalkStep::End ? std::min(walk.Size(), kDeviceLimit) : kDeviceLimit;
    const u32 sectorSize = source.SectorSize();
    m_measuredStart = info.m_startSector;
    m_measuredSectors = sectorSize == 0 ? 0 : (info.m_size + sectorSize - 1) / sectorSize;
    return info.m_size != 0;
}
