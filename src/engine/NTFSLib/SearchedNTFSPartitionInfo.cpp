#include "engine/NTFSLib/SearchedNTFSPartitionInfo.h"

#include "engine/FileArchive/IRSData.h"

namespace {

template <class Data, class... Fields>
bool EachField(Data&& each, Fields&... fields) {
    return (each(&fields, u32(sizeof(fields))) && ...);
}

}  // namespace

bool CSearchedNTFSPartitionInfo::Save(IRSData& data) {
    auto write = [&](const void* p, u32 n) { return data.WriteCurFrame(p, n); };
    return EachField(write, m_serialNumber, m_sectorsPerRecord, m_buildFrom, m_keep, m_reservedNTFS, m_clusterCount,
                     m_logFileMatches, m_attrDefMatches, m_upCaseMatches, m_mftSector, m_logFileSector, m_attrDefSector,
                     m_upCaseSector, m_adjustedSectors);
}

bool CSearchedNTFSPartitionInfo::Restore(IRSData& data) {
    // Exact reads: a short frame is damage, not a partial record.
    auto read = [&](void* p, u32 n) {
        try {
            return data.ReadCurFrameExact(p, n);
        } catch (...) {
            return false;
        }
    };
    return EachField(read, m_serialNumber, m_sectorsPerRecord, m_buildFrom, m_keep, m_reservedNTFS, m_clusterCount,
                     m_logFileMatches, m_attrDefMatches, m_upCaseMatches, m_mftSector, m_logFileSector, m_attrDefSector,
                     m_upCaseSector, m_adjustedSectors);
}
