#include "engine/HFSPlusLib/HFSPlusQuickSearchProgress.h"

#include <new>

CHFSPlusQuickFileSystemSearchProgress::CHFSPlusQuickFileSystemSearchProgress(IProgress* sink, bool silent)
    : m_sink(sink), m_record(new (std::nothrow) _PROGRESS_INFO(MakeProgressInfo(PROGRESS_RUNNING, 0, 0))), m_silent(silent) {}

CHFSPlusQuickFileSystemSearchProgress::~CHFSPlusQuickFileSystemSearchProgress() {
    if (m_silent || !m_record || !m_sink) return;
    m_record->status = PROGRESS_FINISHED;
    m_sink->UpdateProgress(m_record.get());
}

int CHFSPlusQuickFileSystemSearchProgress::UpdateProgress() {
    if (m_silent || !m_record || !m_sink) return 0;
    m_record->current += 1;
    return m_sink->UpdateProgress(m_record.get());
}

int CHFSPlusQuickFileSystemSearchProgress::Continued() { return m_sink ? m_sink->Continued() : 1; }

void CHFSPlusQuickFileSystemSearchProgress::SetTotal(u64 total) {
    if (m_record) m_record->total = total;
}
