#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Analysers/MIDAnalyser.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

using namespace midi_layout;

bool IsMidiHeader(const ByteReader& head) {
    return head.Equals(0, "MThd") && head.Be32(kHeaderLength) == kMThdLength &&
           head.Be16(kFormat).value_or(0xFFFF) <= kMaxFormat && head.Be16(kTracks).value_or(0) != 0;
}

std::optional<u64> MidiTrackChunkLength(const ByteReader& header) {
    if (header.size() < kChunkHeader || !FileRIFFAnalyser::CompareSignString(header.data(), "MTrk")) {
        return std::nullopt;
    }
    return kChunkHeader + *header.Be32(kChunkLength);
}

FileMIDAnalyser::FileMIDAnalyser() : IRawFileAnalyser(RAW_TYPE_MID) {}

int FileMIDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !IsMidiHeader(ByteReader(sector, 512))) return 0;
    info.m_type = RAW_TYPE_MID;
    return 1;
}

bool FileMIDAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    info.m_size = 0;
    if (device == nullptr) return false;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char head[kFirstChunk];
    if (!file.CopyOut(0, head, sizeof(head)) || !IsMidiHeader(ByteReader(head, sizeof(head)))) return false;
    u64 walked = kFirstChunk;
    const u16 tracks = ByteReader(head, sizeof(head)).Be16(kTracks).value_or(0);
    u16 tracksWalked = 0;
    // Chunk after chunk; a chunk that cannot be read (the device's end, a bad sector, a stop request)
    // ends the file where it stands.
    while (walked < kDeviceLimit) {
        unsigned char header[kChunkHeader];
        if (!file.CopyOut(walked, header, sizeof(header))) break;
        const std::optional<u64> length = MidiTrackChunkLength(ByteReader(header, sizeof(header)));
        if (!length) break;
        walked += *length;
        if (++tracksWalked == tracks) break;
    }
    info.m_type = RAW_TYPE_MID;
    info.m_size = walked;
    return true;
}
