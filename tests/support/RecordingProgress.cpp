#include "support/RecordingProgress.h"

#include <thread>

namespace testsupport {

int RecordingProgress::UpdateProgress(_PROGRESS_INFO* record) {
    if (!record) return 0;
    std::lock_guard<std::mutex> hold(m_mutex);
    m_records.push_back(*record);
    return 0;
}

int RecordingProgress::Continued() {
    long long pause = m_pauseMs.exchange(0);
    if (pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    int call = ++m_continuedCalls;
    int limit = m_stopAfter.load();
    return (limit >= 0 && call > limit) ? 0 : 1;
}

std::vector<_PROGRESS_INFO> RecordingProgress::Records() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_records;
}

size_t RecordingProgress::RecordCount() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_records.size();
}

_PROGRESS_INFO RecordingProgress::Last() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_records.empty() ? _PROGRESS_INFO{} : m_records.back();
}

bool RecordingProgress::Saw(u32 status) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    for (const auto& r : m_records)
        if (r.status == status) return true;
    return false;
}

}  // namespace testsupport
