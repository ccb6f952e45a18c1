// The progress adapter of the HFS+ searches over the operation's progress sink: a running record whose
// position counts found records, and a finished record when the adapter ends.
#pragma once

#include <memory>

#include "engine/Common/IProgress.h"

class CHFSPlusQuickFileSystemSearchProgress {
public:
    // silent: the adapter never reports (it still answers Continued()).
    CHFSPlusQuickFileSystemSearchProgress(IProgress* sink, bool silent);
    // Sends the finished record (state 3) unless silent.
    ~CHFSPlusQuickFileSystemSearchProgress();
    CHFSPlusQuickFileSystemSearchProgress(const CHFSPlusQuickFileSystemSearchProgress&) = delete;
    CHFSPlusQuickFileSystemSearchProgress& operator=(const CHFSPlusQuickFileSystemSearchProgress&) = delete;

    // Counts one and reports; the sink's answer (0 when silent or without a sink).
    int UpdateProgress();
    // The sink's answer; true without a sink.
    int Continued();
    void SetTotal(u64 total);
    const _PROGRESS_INFO* Record() const { return m_record.get(); }

private:
    IProgress* m_sink = nullptr;
    std::unique_ptr<_PROGRESS_INFO> m_record;
    bool m_silent = false;
};
