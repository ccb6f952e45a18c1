#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"

using namespace ogg_layout;

template <class Source>
WalkStep OggPage(Source& source, u64& walked) {
    const std::optional<ByteReader> header = source.Bytes(walked, kPageHeader);
    if (!header) return source.Missing(walked);
    const u8 segments = header->U8(kSegments).value_or(0);
    if (!header->Equals(0, "OggS") || segments == 0) return WalkStep::End;
    const std::optional<ByteReader> table = source.Bytes(walked + kPageHeader, segments);
    if (!table) return source.Missing(walked + kPageHeader);
    u64 body = 0;
    for (u8 i = 0; i < segments; ++i) body += table->U8(i).value_or(0);
    walked += kPageHeader + segments + body;
    return WalkStep::Next;
}

template WalkStep OggPage<const WindowSource>(const WindowSource&, u64&);
template WalkStep OggPage<DeviceSource>(DeviceSource&, u64&);

CFileOggAnalyser::CFileOggAnalyser() : IRawFileAnalyser(RAW_TYPE_OGG) {}

int CFileOggAnalyser::AnalyseBuffer(unsigned char*, CRawFileInfo& info) {
    info.m_type = RAW_TYPE_OGG;
    return 1;
}

bool CFileOggAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    info.m_size = 0;
    if (device == nullptr) return false;
    DeviceSource source(device, info.m_startSector);
    u64 walked = 0;
    while (walked < kDeviceLimit && OggPage(source, walked) == WalkStep::Next) {
    }
    info.m_type = RAW_TYPE_OGG;
    info.m_size = std::min<u64>(walked, kDeviceLimit);
    return info.m_size != 0;
}
