#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/CRWAnalyser.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

namespace {
// Across a sector boundary: the 91 bytes from 80 before the previous sector's end; a record found
// there ends the file 70 bytes on.
constexpr u64 kAcrossBefore = 80;
constexpr u64 kAcrossBytes = 91;
constexpr u64 kAcrossTail = 70;
}  // namespace

FileCRWAnalyser::FileCRWAnalyser() : IRawFileAnalyser(RAW_TYPE_CRW) {}

int FileCRWAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    info.m_type = RAW_TYPE_CRW;
    return 1;
}

bool FileCRWAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    info.m_size = GetRawFileSizeEX(info, device);
    info.m_type = RAW_TYPE_CRW;
    return true;
}

u64 FileCRWAnalyser::GetRawFileSizeEX(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr) return kMaxPosition;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const u64 n = file.GetSectorSize();
    unsigned char across[kAcrossBytes];
    for (u64 position = 0; position < kMaxPosition; position += n) {
        unsigned char* sector = file.GetRawFileBuffer(position);
        if (sector == nullptr) return kMaxPosition;
        if (!ByteReader(sector + n - 4, 4).Equals(0, "\0\0\0\0", 4)) continue;
        const auto [at, record] = FindCrwEndRecord(sector, static_cast<i64>(n), crw_layout::kRecordSize);
        if (record != nullptr) return position + static_cast<u64>(at + record->tail);
        if (position >= n && file.CopyOut(position - kAcrossBefore, across, sizeof(across))) {
            const auto [before, found] = FindCrwEndRecord(across, sizeof(across), crw_layout::kRecordSize);
            if (found != nullptr) return position - kAcrossBefore + static_cast<u64>(before) + kAcrossTail;
        }
    }
    return kMaxPosition;
}
