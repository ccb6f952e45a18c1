#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace mkv_layout;

FileMKVAnalyser::FileMKVAnalyser() : IRawFileAnalyser(RAW_TYPE_MKV) {}

std::optional<FileMKVAnalyser::Vint> FileMKVAnalyser::ReadVint(const ByteReader& data, size_t offset) {
    const std::optional<u8> first = data.U8(offset);
    if (!first || *first == 0) return std::nullopt;
    u32 length = 1;
    while ((*first & (0x80u >> (length - 1))) == 0) ++length;
    Vint out;
    out.length = length;
    const u8 marker = static_cast<u8>(0x80u >> (length - 1));
    u64 value = *first & static_cast<u8>(marker - 1);
    u64 allSet = marker - 1u;
    if (length > 1) {
        const std::optional<u64> rest = data.BeN(offset + 1, length - 1);
        if (!rest) return std::nullopt;
        value = (value << (8 * (length - 1))) | *rest;
        allSet = (allSet << (8 * (length - 1))) | ((u64{1} << (8 * (length - 1))) - 1);
    }
    out.value = value;
    out.unknown = value == allSet;
    return out;
}

int FileMKVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader header(sector, 512);
    const std::optional<Vint> headerSize = ReadVint(header, kHeaderSize);
    if (!headerSize) return 0;
    const u64 segment = kHeaderSize + headerSize->length + headerSize->value;
    if (segment > kMaxSegment || !header.Equals(static_cast<size_t>(segment), kSegmentId, sizeof(kSegmentId))) return 0;
    // The Segment's size must be known and readable within the sector.
    const std::optional<Vint> segmentSize = ReadVint(header, static_cast<size_t>(segment) + kIdLength);
    if (!segmentSize || segmentSize->unknown) return 0;
    info.m_type = RAW_TYPE_MKV;
    info.m_size = segment + kIdLength + segmentSize->length + segmentSize->value;
    return 1;
}

IRawFileAnalyser* CreateFileMKVAnalyser() { return new FileMKVAnalyser(); }
