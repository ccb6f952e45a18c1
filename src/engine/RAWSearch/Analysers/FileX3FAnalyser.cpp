#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Analysers/X3FAnalyser.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

using namespace x3f_layout;

namespace {
constexpr u64 kAcrossBytes = 50;  // looked at past a sector's start when "SECd" may straddle it
const unsigned char* kDirectory = reinterpret_cast<const unsigned char*>("SECd");
}  // namespace

FileX3FAnalyser::FileX3FAnalyser() : IRawFileAnalyser(RAW_TYPE_X3F) {}

int FileX3FAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    info.m_type = RAW_TYPE_X3F;
    return 1;
}

bool FileX3FAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr) return false;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const u64 n = file.GetSectorSize();
    std::vector<unsigned char> across(n + kAcrossBytes);
    u64 position = 0;
    u64 size = 0;
    for (; position <= kMaxPosition && size == 0; position += n) {
        unsigned char* sector = file.GetRawFileBuffer(position);
        if (sector == nullptr) break;
        const ByteReader last(sector + n - 4, 4);
        if (last.Equals(0, "SECd", 4)) {
            size = position + n - 4 + kDirectoryEnd;  // it runs on into the next sector
        } else if (last.Equals(0, "\0\0\0\0", 4)) {
            if (unsigned char* m = Apimemstr(sector, static_cast<int>(n), kDirectory, 4)) {
                size = position + static_cast<u64>(m - sector) + kDirectoryEnd;
            } else if (position >= n && file.CopyOut(position - n, across.data(), across.size())) {
                if (unsigned char* a = Apimemstr(across.data(), static_cast<int>(across.size()), kDirectory, 4)) {
                    size = position - n + static_cast<u64>(a - across.data()) + kDirectoryEnd;
                }
            }
        }
    }
    info.m_type = RAW_TYPE_X3F;
    info.m_size = size != 0 ? size : position;
    return true;
}
