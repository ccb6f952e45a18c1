// A progress sink for tests: keeps every record it receives, and can answer "stop" after a number
// of Continued() calls or hold the engine "paused" for a while.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "engine/Common/IProgress.h"

namespace testsupport {

class RecordingProgress : public IProgress {
public:
    int UpdateProgress(_PROGRESS_INFO* record) override;
    int Continued() override;
    int shouldBuild() override { return m_build.load(); }

    // Continued() answers 0 from its (n+1)-th call on; a negative n never stops.
    void StopAfter(int n) { m_stopAfter.store(n); }
    // The next Continued() call blocks for the given time before answering.
    void PauseFor(std::chrono::milliseconds duration) { m_pauseMs.store(duration.count()); }
    void SetShouldBuild(int build) { m_build.store(build); }

    std::vector<_PROGRESS_INFO> Records() const;
    size_t RecordCount() const;
    int ContinuedCalls() const { return m_continuedCalls.load(); }
    // The last record; a zeroed one when none arrived.
    _PROGRESS_INFO Last() const;
    // True when some record has the given status.
    bool Saw(u32 status) const;

private:
    mutable std::mutex m_mutex;
    std::vector<_PROGRESS_INFO> m_records;
    std::atomic<int> m_stopAfter{-1};
    std::atomic<int> m_continuedCalls{0};
    std::atomic<long long> m_pauseMs{0};
    std::atomic<int> m_build{1};
};

}  // namespace testsupport
