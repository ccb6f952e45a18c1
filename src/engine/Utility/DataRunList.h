// The common run list: runs in file order, contiguous runs merged as they are appended.
#pragma once

#include <memory>
#include <vector>

#include "engine/Utility/IDataRunList.h"

class CDataRunList : public IDataRunList {
public:
    CDataRunList() = default;
    CDataRunList(const CDataRunList&) = delete;
    CDataRunList& operator=(const CDataRunList&) = delete;

    DataRun* GetFirst() override;
    DataRun* GetNext() override;
    int IsDone() override;
    u32 IsResident() override { return m_resident; }
    IDataRunList* Clone() override;
    using IDataRunList::AddDataRun;
    void AddDataRun(const DataRun* run) override;
    i64 GetOffset() override { return 0; }
    u32 GetDataRunListType() override { return 5; }
    void Release() override { delete this; }

    size_t GetRunCount() const { return m_runs.size(); }

protected:
    u32 m_resident = 0;
    std::vector<std::unique_ptr<DataRun>> m_runs;
    size_t m_cursor = 0;  // == m_runs.size() when at the end
    bool m_cursorAtEnd = true;
};
