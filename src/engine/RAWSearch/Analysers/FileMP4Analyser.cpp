#include <strings.h>

#include <cassert>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/BoxLayout.h"
#include "engine/RAWSearch/Analysers/MediaTypes.h"
#include "engine/RAWSearch/Analysers/Mp4Analyzer.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

using namespace box_layout;

namespace {

// The device walk reads a type at the box's offset 4, or else at 12 (after a 64-bit size).
constexpr u32 kAlternateType = 12;
constexpr const char* kDeviceBoxes[] = {"mdat", "moov", "free", "moof", "mfra", "uuid"};

bool TypeIs(const unsigned char* box, const char* type) {
    return strncasecmp(reinterpret_cast<const char*>(box + kType), type, 4) == 0 ||
           strncasecmp(reinterpret_cast<const char*>(box + kAlternateType), type, 4) == 0;
}

bool TypeIsDeviceBox(const unsigned char* box) {
    for (const char* type : kDeviceBoxes) {
        if (TypeIs(box, type)) return true;
    }
    return false;
}

}  // namespace

bool CRawBoxFileAnalyser::GetBoxSize(const unsigned char* bytes, i32& out) {
    out = static_cast<i32>(ByteReader(bytes, 4).Be32(0).value_or(0));
    return out > 0;
}

bool CRawBoxFileAnalyser::GetBoxSizeEx(const unsigned char* bytes, i64& out) {
    const u64 value = ByteReader(bytes, 8).Be64(0).value_or(0);
    out = value > static_cast<u64>(INT64_MAX) ? 0 : static_cast<i64>(value);
    return out > 0;
}

bool CRawBoxFileAnalyser::GetFileSize(CRawFileInfo& info, IStorageDevice* device) {
    info.m_size = 0;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char box[kLargeHeader];
    i32 first = 0;
    if (!buffer.CopyOut(0, box, sizeof(box)) || !GetBoxSize(box, first)) return false;
    i64 offset = first;
    for (u32 n = 0; n < kMaxBoxes; ++n) {
        if (!buffer.CopyOut(static_cast<u64>(offset), box, sizeof(box))) break;
        i32 field = 0;
        if (!GetBoxSize(box, field)) break;
        i64 size = field;
        if (field == 1) {
            if (!TypeIs(box, "mdat")) break;
            // The whole 64-bit size: videos of 4 GiB and more keep their length.
            if (!GetBoxSizeEx(box + kLargeSize, size)) return false;
        } else if (!TypeIsDeviceBox(box)) {
            break;
        }
        if (size > INT64_MAX - offset) break;
        offset += size;
    }
    if (offset <= 0) return false;
    info.m_size = static_cast<u64>(offset);
    return true;
}

FileMP4Analyser::FileMP4Analyser() : IRawFileAnalyser(RAW_TYPE_MP4) {}

int FileMP4Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr) return 0;
    const char* brand = reinterpret_cast<const char*>(sector + kType);
    if (strncasecmp(brand, "ftypisom", 8) == 0 || strncasecmp(brand, "ftypmp41", 8) == 0 ||
        strncasecmp(brand, "ftypmp42", 8) == 0) {
        info.m_type = RAW_TYPE_MP4;
    } else if (strncasecmp(brand, "ftypM4A ", 8) == 0) {
        info.m_type = RAW_TYPE_M4A;
    } else if (strncasecmp(brand, "ftypM4V ", 8) == 0) {
        info.m_type = RAW_TYPE_M4V;
    } else {
        return 0;
    }
    info.m_size = 0;
    return 1;
}

bool FileMP4Analyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    return m_boxes.GetFileSize(info, device);
}
