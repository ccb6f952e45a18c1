#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/RAWSearch/Analysers/PSPAnalyser.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

using namespace psp_layout;

FilePSPAnalyser::FilePSPAnalyser() : IRawFileAnalyser(RAW_TYPE_PSP) {}

int FilePSPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr || memcmp(sector, kSignature, kSignatureSize) != 0) return 0;
    info.m_type = RAW_TYPE_PSP;
    return 1;
}

bool FilePSPAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    i64 position = kFirstBlock;
    // Every block moves the position on by at least its 10-byte header.
    while (position <= kMaxPosition) {
        unsigned char bytes[kBlockHeader];
        if (!file.CopyOut(static_cast<u64>(position), bytes, sizeof(bytes))) return false;
        const std::optional<i64> length = PspBlockLength(ByteReader(bytes, sizeof(bytes)));
        if (!length) break;
        position += *length;
    }
    if (position < kMinSize) return false;
    info.m_type = RAW_TYPE_PSP;
    // A walk that jumped past the cap takes the file to the cap, not to where a hostile length points.
    info.m_size = static_cast<u64>(std::min(position, kMaxPosition));
    return true;
}
