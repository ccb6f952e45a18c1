#include "bridge/SaveRestore/SaveRestoreProgress.h"

#include "engine/Common/SystemTime.h"

namespace SaveRestoreResult {

SaveRestoreProgress::SaveRestoreProgress(IProgress* sink, std::function<u32()> ticks)
    : m_sink(sink), m_ticks(ticks ? std::move(ticks) : std::function<u32()>([] { return GetTickCount(); })) {}

int SaveRestoreProgress::Send() { return m_sink ? m_sink->UpdateProgress(&m_record) : 0; }

int SaveRestoreProgress::Started() {
    m_errorCode = 0;
    m_record = MakeProgressInfo(PROGRESS_RUNNING, kTotal, kStart);
    return Send();
}

// A step keeps the error code: a failure recorded earlier is never turned into success.
int SaveRestoreProgress::Step() {
    const u32 now = m_ticks();
    // Unsigned difference: a tick count that wrapped still measures the time since the last step.
    if (now - m_lastStep < kStepTicks) return 0;
    m_lastStep = now;
    if (m_record.current + 2 < m_record.total) ++m_record.current;
    return Send();
}

int SaveRestoreProgress::Finished() {
    m_record.status = PROGRESS_FINISHED;
    m_record.total = kTotal;
    m_record.current = kTotal;
    m_record.errorCode = m_errorCode;
    return Send();
}

int SaveRestoreProgress::TipError(int code) {
    m_errorCode = code;
    m_record = MakeProgressInfo(PROGRESS_FINISHED, kTotal, kTotal, code);
    return Send();
}

}  // namespace SaveRestoreResult
