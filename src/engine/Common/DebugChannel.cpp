#include "engine/Common/DebugChannel.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>

namespace debugchannel {
namespace {

std::atomic<bool> g_enabled{false};
std::atomic<bool> g_capturing{false};

struct State {
    std::mutex lock;
    // The rate bound: tokens refilled at kLinesPerSecond up to kBurstLines, one per line written.
    double tokens = kBurstLines;
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
    unsigned long long dropped = 0;
    std::string captured;  // while a Capture lives
};

State& TheState() {
    static State state;
    return state;
}

void WriteAll(const char* text, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        length -= size_t(n);
    }
}

// The line into `line` (room for kLineBytes), after `prefix` bytes already there, with its line end;
// its length.
size_t Format(char* line, size_t prefix, const char* format, va_list args) {
    const int wanted = std::vsnprintf(line + prefix, size_t(kLineBytes) - prefix - 1, format, args);
    size_t length = prefix + (wanted < 0 ? 0 : std::min(size_t(wanted), size_t(kLineBytes) - prefix - 2));
    if (length == 0 || line[length - 1] != '\n') line[length++] = '\n';
    return length;
}

}  // namespace

void SetEnabled(bool on) { g_enabled.store(on, std::memory_order_relaxed); }

bool Enabled() { return g_enabled.load(std::memory_order_relaxed); }

Capture::Capture() {
    State& state = TheState();
    std::lock_guard<std::mutex> hold(state.lock);
    state.captured.clear();
    g_capturing.store(true, std::memory_order_relaxed);
}

Capture::~Capture() {
    State& state = TheState();
    std::lock_guard<std::mutex> hold(state.lock);
    g_capturing.store(false, std::memory_order_relaxed);
    state.captured.clear();
}

std::string Capture::Text() const {
    State& state = TheState();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.captured;
}

}  // namespace debugchannel

void EngineDebug(const char* format, ...) {
    using namespace debugchannel;
    const bool capturing = g_capturing.load(std::memory_order_relaxed);
    if ((!capturing && !Enabled()) || !format) return;
    State& state = TheState();
    char line[kLineBytes];
    va_list args;
    va_start(args, format);
    if (capturing) {
        const size_t length = Format(line, 0, format, args);
        va_end(args);
        std::lock_guard<std::mutex> hold(state.lock);
        if (g_capturing.load(std::memory_order_relaxed)) state.captured.append(line, length);
        return;
    }
    unsigned long long dropped = 0;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        const auto now = std::chrono::steady_clock::now();
        const double elapsed = std::chrono::duration<double>(now - state.last).count();
        state.last = now;
        state.tokens = std::min<double>(kBurstLines, state.tokens + elapsed * kLinesPerSecond);
        if (state.tokens < 1) {
            // The first line dropped says so at once (the count follows with the next line written).
            if (state.dropped++ == 0) {
                static constexpr char kNotice[] = "(engine debug lines dropped: too many at once)\n";
                WriteAll(kNotice, sizeof kNotice - 1);
            }
            va_end(args);
            return;
        }
        state.tokens -= 1;
        dropped = std::exchange(state.dropped, 0);
    }
    size_t prefix = 0;
    if (dropped) prefix = size_t(std::snprintf(line, 64, "(%llu lines dropped) ", dropped));
    const size_t length = Format(line, prefix, format, args);
    va_end(args);
    WriteAll(line, length);
}
