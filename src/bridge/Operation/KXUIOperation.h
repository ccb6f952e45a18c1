// The common base of every long task the windows start in the engine (scan, recovery, save, load).
// The engine sees it as an IProgress; the windows read its status, flags and last progress record.
#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>

#include "engine/Common/IProgress.h"
#include "engine/Common/Types.h"

enum OPERATION_STATUS : u32 {
    OP_IDLE = 0,            // nothing runs (also after a task ended, or a stop of an idle operation)
    OP_STOP_REQUESTED = 1,  // the engine unwinds at its next Continued()
    OP_RUNNING = 2,
    OP_PAUSED = 3,  // the engine waits inside Continued()
    OP_EXITED = 4,  // the task has left; treated like idle
};

class KXUIOperation : public IProgress {
public:
    // How long Continued() sleeps between two looks at a paused status.
    static constexpr std::chrono::milliseconds kPauseStep{80};

    KXUIOperation() = default;
    ~KXUIOperation() override = default;
    KXUIOperation(const KXUIOperation&) = delete;
    KXUIOperation& operator=(const KXUIOperation&) = delete;

    // Each operation copies the record (TakeProgressRecord) and reacts to it in its own way.
    int UpdateProgress(_PROGRESS_INFO* record) override = 0;
    // Waits while paused, in steps of the pause step, never holding the mutex while it sleeps; then
    // non-zero only when the task runs.
    int Continued() override;
    int shouldBuild() override;
    // The base answers 1 and keeps nothing; the scan overrides both with OpTreeFlag().
    virtual int IsOpTreeFinished();
    virtual void SetOpTreeFinished(int finished);

    u32 GetStatus();
    // No transition check: callers are trusted.
    void SetStatus(int status);
    u32 IsNeedUIUpdate();
    void SetNeedUIUpdate(int need);
    // Lowers the flag and says whether it was raised, in one step: of two polls on one operation only
    // one takes a raised flag.
    bool TakeNeedUIUpdate();
    void SetShouldBuildTree(int build);
    _PROGRESS_INFO GetProgressInfo();
    void SetProgressInfo(const _PROGRESS_INFO& info);

    // True at idle and exited.
    bool IsOperationExit();
    // Running becomes paused and paused running; any other status is left alone.
    void PauseOrResumeOperation();
    // A running or paused task is asked to stop, building its tree unless discardTree; an idle or
    // exited one keeps its status. Either way the windows are told to refresh.
    void StopOperation(int discardTree);
    // Seconds between the task's start and its last progress record (read without the mutex).
    i64 GetScanElapseTime();

    void SetStartTime(time_t when) { m_startTime.store(static_cast<i64>(when)); }
    void SetLastUpdateTime(time_t when) { m_lastUpdateTime.store(static_cast<i64>(when)); }

    // The pause step; tests shorten it.
    void SetPauseStep(std::chrono::microseconds step) { m_pauseStepUs.store(step.count()); }
    std::chrono::microseconds PauseStep() const { return std::chrono::microseconds(m_pauseStepUs.load()); }

    // Guards every field and the result containers of the derived operations. Recursive, because the
    // derived operations call the locked accessors while they hold it.
    std::recursive_mutex& Mutex() { return m_mutex; }

protected:
    // One pause step of Continued(): sleeps PauseStep(). Tests count the steps through it.
    virtual void WaitOnePauseStep();

    // The core every UpdateProgress shares: false for a null record; otherwise the record is copied
    // whole and the last-update time set to now.
    bool TakeProgressRecord(const _PROGRESS_INFO* record);

    // The op-tree-finished flag for operations that keep one (the scan). It is set and read by the
    // worker, the poll threads and the main thread, so it is atomic rather than mutex-bound.
    int OpTreeFlag() const { return m_opTreeFinished.load(); }
    void SetOpTreeFlag(int finished) { m_opTreeFinished.store(finished); }

private:
    std::recursive_mutex m_mutex;
    std::atomic<i64> m_startTime{0};
    std::atomic<i64> m_lastUpdateTime{0};
    std::atomic<u32> m_status{OP_IDLE};
    std::atomic<u32> m_shouldBuildTree{1};
    std::atomic<u32> m_needUIUpdate{0};
    std::atomic<int> m_opTreeFinished{1};
    std::atomic<long long> m_pauseStepUs{std::chrono::microseconds(kPauseStep).count()};
    _PROGRESS_INFO m_progressInfo{};
};
