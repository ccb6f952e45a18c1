// The common run list: runs in file order, contiguous runs merged as they are appended. The runs are
// held by value (the first in place), so a list of one run costs no allocation beyond the list itself.
#pragma once

#include <memory>

#include "engine/Utility/FirstInPlaceVector.h"
#include "engine/Utility/IDataRunList.h"
#include "engine/Utility/NodeMemory.h"

// Its memory comes from the node chunks (NodeMemory.h), as the nodes owning it do.
class CDataRunList : public IDataRunList, public CChunkAllocated {
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
    // One stored run. It answers get() and * as the owning pointers that once held each run did, so a
    // derived list walks m_runs and appends to it as before (an owning pointer is copied from).
    struct RunSlot {
        DataRun run;
        RunSlot() = default;
        RunSlot(const DataRun& r) : run(r) {}  // NOLINT(google-explicit-constructor)
        RunSlot(const std::unique_ptr<DataRun>& r) : run(*r) {}  // NOLINT(google-explicit-constructor)
        DataRun* get() { return &run; }
        const DataRun* get() const { return &run; }
        DataRun& operator*() { return run; }
        const DataRun& operator*() const { return run; }
        DataRun* operator->() { return &run; }
        const DataRun* operator->() const { return &run; }
    };

    u32 m_resident = 0;
    FirstInPlaceVector<RunSlot> m_runs;
    size_t m_cursor = 0;  // == m_runs.size() when at the end
    bool m_cursorAtEnd = true;
};
