#include <cstring>

#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"

using namespace rm_layout;

RAW_FILE_TYPE RealMediaKind(const ByteReader& head) {
    const u64 limit = std::min<u64>(head.size(), kHead);
    for (u64 at = 0; at + 4 <= limit; ++at) {
        if (!head.Equals(at, "MDPR")) continue;
        const u64 span = std::min<u64>(kVideoNameSpan, head.size() - at);
        static constexpr char kVideo[] = "Video Stream";
        for (u64 v = at; v + sizeof(kVideo) - 1 <= at + span; ++v) {
            if (head.Equals(v, kVideo)) return RAW_TYPE_RMVB;
        }
    }
    return RAW_TYPE_RM;
}

i64 FindRmvbEnd(const ByteReader& bytes) {
    for (u64 at = 0; at + kEndRecord <= bytes.size(); ++at) {
        if (bytes.Equals(at, kEndBytes, kEndRecord)) return static_cast<i64>(at);
    }
    return -1;
}

template <class Source>
WalkStep RmChunk(Source& source, u64& walked, RmDataWalk& data) {
    if (data.inPackets) {
        // The data chunk's packets, one by one: writers state the chunk's size larger than it is (or
        // leave it unset), so the packets tell where the data ends.
        const std::optional<ByteReader> packet = source.Bytes(walked, kPacketHeader);
        if (!packet) return source.Missing(walked);
        const u16 version = *packet->Be16(0);
        const u16 length = *packet->Be16(kPacketLength);
        if (version <= 1 && length >= kPacketHeader && !packet->Equals(0, "INDX")) {
            walked += length;
            data.anyPacket = true;
            return WalkStep::Next;
        }
        data.inPackets = false;
        if (!data.anyPacket) {
            // No packet to walk: the chunk's stated size is all there is.
            walked = std::max(walked, data.statedEnd);
            return WalkStep::Next;
        }
        // The 8 zero bytes some writers end the data with: within the stated size, or where that size was
        // never filled in (a stream written where the writer could not go back).
        const bool unstated = data.statedEnd <= data.dataStart + kDataHeader;
        if (packet->Equals(0, "\0\0\0\0\0\0\0\0", kDataEndHeader) &&
            (unstated || walked + kDataEndHeader <= data.statedEnd)) {
            walked += kDataEndHeader;
            return WalkStep::Next;
        }
    }
    const std::optional<ByteReader> chunk = source.Bytes(walked, kChunkHeader);
    if (!chunk) return source.Missing(walked);
    const u64 size = *chunk->Be32(kChunkSize);
    if (chunk->Equals(0, "DATA") && size != 0) {
        if (!source.Bytes(walked, kDataHeader)) return source.Missing(walked);
        data = RmDataWalk{true, false, walked, walked + size};
        walked += kDataHeader;
        return WalkStep::Next;
    }
    const bool known = (walked == 0 && chunk->Equals(0, ".RMF")) || chunk->Equals(0, "PROP") ||
                       chunk->Equals(0, "MDPR") || chunk->Equals(0, "CONT") || chunk->Equals(0, "DATA");
    if (known) {
        if (size == 0) return WalkStep::End;
        walked += size;
        return WalkStep::Next;
    }
    if (!chunk->Equals(0, "INDX")) return WalkStep::End;
    const std::optional<ByteReader> index = source.Bytes(walked, kIndexHeader);
    if (!index) return source.Missing(walked);
    if (*index->Be16(kIndexVersion) != 0) {
        if (size == 0) return WalkStep::End;
        walked += size;
        return WalkStep::Next;
    }
    const u64 next = *index->Be32(kNextIndex);
    if (next > walked) {
        walked = next;
        return WalkStep::Next;
    }
    // The last index: its entries counted once more after the chunk. An index pointing back
    // (which would never advance) ends the file where it stands.
    if (next == 0) walked += size + kIndexEntry * *index->Be32(kIndexCount);
    return WalkStep::End;
}

template WalkStep RmChunk<const WindowSource>(const WindowSource&, u64&, RmDataWalk&);
template WalkStep RmChunk<DeviceSource>(DeviceSource&, u64&, RmDataWalk&);

FileRM_RMVBAnalyser::FileRM_RMVBAnalyser() : IRawFileAnalyser(RAW_TYPE_RM) {}

int FileRM_RMVBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !ByteReader(sector, 4).Equals(0, ".RMF")) return 0;
    info.m_type = RAW_TYPE_RM;
    return 1;
}

bool FileRM_RMVBAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    info.m_size = 0;
    if (device == nullptr) return false;
    DeviceSource source(device, info.m_startSector);
    const std::optional<ByteReader> head = source.Bytes(0, kHead);
    if (!head || !head->Equals(0, ".RMF")) return false;
    info.m_type = RealMediaKind(*head);
    if (info.m_type == RAW_TYPE_RM) {
        u64 walked = 0;
        RmDataWalk data;
        WalkStep step = WalkStep::Next;
        for (int chunks = 0; walked < kDeviceLimit && step == WalkStep::Next; ++chunks) {
            step = RmChunk(source, walked, data);
        }
        info.m_size = std::min(walked, kDeviceLimit);
        return info.m_size != 0;
    }
    // RMVB: the end record, in a sector that ends in zeros or across two sectors.
    const u64 n = source.SectorSize();
    for (u64 at = 0; n != 0 && at < kDeviceLimit; at += n) {
        unsigned char* p = source.File().GetRawFileBuffer(at);
        if (p == nullptr) return false;
        const u64 held = std::min<u64>(source.File().Available(at), n + kStraddle);
        const bool zeroTail = SectorZeroTail(p, static_cast<u32>(n)) >= kZeroTail;
        const u64 from = zeroTail ? 0 : n - kStraddle;
        const i64 end = FindRmvbEnd(ByteReader(p + from, static_cast<size_t>((zeroTail ? n : held) - from)));
        if (end >= 0) {
            info.m_size = at + from + static_cast<u64>(end) + kEndRecord;
            return true;
        }
    }
    return false;
}
