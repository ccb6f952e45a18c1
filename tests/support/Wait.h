// Bounded waits on a condition, so threaded tests neither sleep longer than needed nor hang.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

// Looks at the condition every millisecond, at most limit; answers whether it came true.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace testsupport
