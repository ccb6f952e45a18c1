#include "engine/RecoveryFilter/RecoveryFilter.h"

#include <cstring>

#include "engine/Utility/IFileNode.h"

IRecoveryFilter* CreateFilter() {
    static CRecoveryFilter filter;
    return &filter;
}

CRecoveryFilter::CRecoveryFilter() {
    m_types.Initialize();
}

void CRecoveryFilter::SetFilterTypes(u32 bits) {
    m_filterBits = bits;
    m_accepted.clear();
    if (bits == FILTER_ALL) return;
    for (u32 bit = 1; bit <= FILTER_OTHER; bit <<= 1) {
        if (bits & bit) m_accepted.insert(FilterBitToFileType(bit));
    }
}

FILE_TYPE_ID CRecoveryFilter::GetNodeType(IFileNode* node) const {
    if (!node) return FILE_TYPE_OTHER;
    const char* name = node->GetFileName();
    if (!name) return FILE_TYPE_OTHER;
    const char* dot = std::strrchr(name, '.');
    if (!dot) return FILE_TYPE_OTHER;
    return m_types.GetFileTypeID(dot + 1);
}

int CRecoveryFilter::IsFileNodeValid(IFileNode* node) {
    if (!node) return 0;
    if (m_accepted.empty() || node->IsDirectory()) return 1;
    return m_accepted.count(GetNodeType(node)) ? 1 : 0;
}

u32 CRecoveryFilter::GetNodeFileType(IFileNode* node) {
    return FileTypeToFilterBit(GetNodeType(node));
}
