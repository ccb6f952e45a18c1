#include "engine/Utility/SearchedPartitionInfo.h"

CSearchedPartitionInfo::CSearchedPartitionInfo(u32 sectorSize)
    : m_sectorSize(sectorSize == 0 || sectorSize % 512 != 0 ? 512 : sectorSize) {}
