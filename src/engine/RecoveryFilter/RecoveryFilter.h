// The scan's file-type filter: accepts folders always, files by the category of their extension.
#pragma once

#include <set>

#include "engine/Common/FileTypeManager.h"
#include "engine/Common/IRecoveryFilter.h"

class CRecoveryFilter : public IRecoveryFilter {
public:
    // Builds the extension table from the category strings as they stand now.
    CRecoveryFilter();

    int ShowNormalFiles() override { return m_scanType != SCAN_QUICK ? 1 : 0; }
    void SetScanType(_SCAN_TYPE type) override { m_scanType = type; }
    int IsFileNodeValid(IFileNode* node) override;
    void SetFilterTypes(u32 bits) override;
    u32 GetNodeFileType(IFileNode* node) override;
    // The filter is a singleton: nothing to free.
    void Release() override {}

    FILE_TYPE_ID GetNodeType(IFileNode* node) const;
    u32 GetFilterTypes() const { return m_filterBits; }

private:
    u32 m_scanType = SCAN_QUICK;
    u32 m_filterBits = FILTER_ALL;
    CFileTypeManager m_types;
    std::set<u32> m_accepted;  // empty: everything
};
