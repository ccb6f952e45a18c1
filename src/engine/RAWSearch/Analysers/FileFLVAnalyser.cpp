#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"

using namespace flv_layout;

FileFLVAnalyser::FileFLVAnalyser() : IRawFileAnalyser(RAW_TYPE_FLV) {}

int FileFLVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !ByteReader(sector, 4).Equals(0, "FLV")) return 0;
    info.m_type = RAW_TYPE_FLV;
    return 1;
}

bool FileFLVAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    info.m_size = 0;
    if (device == nullptr) return false;
    DeviceSource source(device, info.m_startSector);
    const std::optional<ByteReader> head = source.Bytes(0, kFirstTag + 4);
    if (!head || !IsFlvHead(*head)) return false;
    FlvWalk walk;
    // Tag after tag; a tag that cannot be read (the device's end, a stop request) ends the file.
    while (walk.walked < kDeviceLimit) {
        const std::optional<ByteReader> tag = source.Bytes(walk.walked, kTagHeader);
        if (!tag || !walk.Step(*tag)) break;
    }
    info.m_type = RAW_TYPE_FLV;
    info.m_size = std::min<u64>(walk.walked, kDeviceLimit);
    return true;
}
