#include <cassert>

#include "engine/RAWSearch/Analysers/PSDAnalyser.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

FilePSDAnalyser::FilePSDAnalyser() : IRawFileAnalyser(RAW_TYPE_PSD) {}

int FilePSDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    info.m_type = RAW_TYPE_PSD;
    return sector != nullptr ? 1 : 0;
}

bool FilePSDAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr) return false;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    PsdSections sections;
    while (!sections.Done()) {
        unsigned char field[psd_layout::kLengthField];
        if (!file.CopyOut(static_cast<u64>(sections.NextField()), field, sizeof(field))) return false;
        sections.Take(*ByteReader(field, sizeof(field)).Be32(0));
    }
    // As the search does: the first sector past the image data's start whose data runs into zeros.
    const u64 n = file.GetSectorSize();
    for (u64 at = static_cast<u64>(sections.position) / n * n;
         at <= static_cast<u64>(RawSpeed::PSDRawFileInfo::kMaxCovered); at += n) {
        const unsigned char* sector = file.GetRawFileBuffer(at);
        if (sector == nullptr) return false;
        if (SectorZeroTail(sector, static_cast<u32>(n)) < 8) continue;
        info.m_type = RAW_TYPE_PSD;
        info.m_size = at + static_cast<u64>(BruteForce::RawUtility::Binary_Compare(sector, static_cast<int>(n)));
        return true;
    }
    return false;
}
