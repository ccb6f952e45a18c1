#include "bridge/Operation/KXUIOperation.h"

#include <thread>

#include "bridge/Dispatch/Clock.h"

using Hold = std::lock_guard<std::recursive_mutex>;

int KXUIOperation::Continued() {
    // The status is read under the mutex each time; the mutex is never held while sleeping, so a
    // pause or stop from the main thread is never blocked by a waiting engine.
    while (GetStatus() == OP_PAUSED) WaitOnePauseStep();
    return GetStatus() == OP_RUNNING ? 1 : 0;
}

void KXUIOperation::WaitOnePauseStep() {
    std::this_thread::sleep_for(PauseStep());
}

int KXUIOperation::shouldBuild() {
    Hold hold(m_mutex);
    return static_cast<int>(m_shouldBuildTree.load());
}

int KXUIOperation::IsOpTreeFinished() {
    return 1;
}

void KXUIOperation::SetOpTreeFinished(int /*finished*/) {}

u32 KXUIOperation::GetStatus() {
    Hold hold(m_mutex);
    return m_status.load();
}

void KXUIOperation::SetStatus(int status) {
    Hold hold(m_mutex);
    m_status.store(static_cast<u32>(status));
}

u32 KXUIOperation::IsNeedUIUpdate() {
    Hold hold(m_mutex);
    return m_needUIUpdate.load();
}

void KXUIOperation::SetNeedUIUpdate(int need) {
    Hold hold(m_mutex);
    m_needUIUpdate.store(static_cast<u32>(need));
}

bool KXUIOperation::TakeNeedUIUpdate() {
    Hold hold(m_mutex);
    return m_needUIUpdate.exchange(0) != 0;
}

void KXUIOperation::SetShouldBuildTree(int build) {
    Hold hold(m_mutex);
    m_shouldBuildTree.store(static_cast<u32>(build));
}

_PROGRESS_INFO KXUIOperation::GetProgressInfo() {
    Hold hold(m_mutex);
    return m_progressInfo;
}

void KXUIOperation::SetProgressInfo(const _PROGRESS_INFO& info) {
    Hold hold(m_mutex);
    m_progressInfo = info;
}

bool KXUIOperation::IsOperationExit() {
    u32 status = GetStatus();
    return status == OP_IDLE || status == OP_EXITED;
}

void KXUIOperation::PauseOrResumeOperation() {
    Hold hold(m_mutex);
    u32 status = m_status.load();
    if (status == OP_PAUSED)
        m_status.store(OP_RUNNING);
    else if (status == OP_RUNNING)
        m_status.store(OP_PAUSED);
}

void KXUIOperation::StopOperation(int discardTree) {
    Hold hold(m_mutex);
    // An exited task is treated like an idle one: asking it to stop must not make it look alive
    // again (IsOperationExit would then stay false for good).
    u32 status = m_status.load();
    if (status != OP_IDLE && status != OP_EXITED) {
        m_status.store(OP_STOP_REQUESTED);
        m_shouldBuildTree.store(discardTree == 0 ? 1 : 0);
    }
    m_needUIUpdate.store(1);
}

i64 KXUIOperation::GetScanElapseTime() {
    return m_lastUpdateTime.load() - m_startTime.load();
}

bool KXUIOperation::TakeProgressRecord(const _PROGRESS_INFO* record) {
    if (!record) return false;
    Hold hold(m_mutex);
    m_progressInfo = *record;
    m_lastUpdateTime.store(static_cast<i64>(BridgeClock().Time()));
    return true;
}
