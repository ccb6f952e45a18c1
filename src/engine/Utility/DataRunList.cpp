#include "engine/Utility/DataRunList.h"

#include <limits>
#include <new>

IDataRunList* CreateDataRunList() {
    return new (std::nothrow) CDataRunList();
}

DataRun* CDataRunList::GetFirst() {
    m_cursor = 0;
    m_cursorAtEnd = m_runs.empty();
    return m_cursorAtEnd ? nullptr : m_runs.front().get();
}

DataRun* CDataRunList::GetNext() {
    if (m_cursorAtEnd) return nullptr;
    ++m_cursor;
    if (m_cursor >= m_runs.size()) {
        m_cursorAtEnd = true;
        return nullptr;
    }
    return m_runs[m_cursor].get();
}

int CDataRunList::IsDone() {
    return m_cursorAtEnd ? 1 : 0;
}

// True when `run` begins exactly where `last` ends (both placed on the device).
static bool Continues(const DataRun& last, const DataRun& run) {
    if (last.start < 0 || run.start < 0) return false;
    if (last.length > static_cast<u64>(std::numeric_limits<i64>::max() - last.start)) return false;
    return last.start + static_cast<i64>(last.length) == run.start;
}

void CDataRunList::AddDataRun(const DataRun* run) {
    if (!run) return;
    if (!m_runs.empty()) {
        DataRun& last = m_runs.back().run;
        if (Continues(last, *run) && run->length <= std::numeric_limits<u64>::max() - last.length) {
            last.length += run->length;
            return;
        }
    }
    m_runs.push_back(RunSlot(*run));
}

IDataRunList* CDataRunList::Clone() {
    auto* copy = new (std::nothrow) CDataRunList();
    if (!copy) return nullptr;
    for (const RunSlot& slot : m_runs) copy->AddDataRun(&slot.run);
    return copy;
}
