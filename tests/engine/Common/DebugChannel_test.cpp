// The engine's debug channel: silent unless turned on, one line per call on standard error (never on
// standard output), long lines cut with their end kept, a flood bounded in rate; a capture takes every
// line for a test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "engine/Common/DebugChannel.h"

namespace {

long Lines(const std::string& text) { return long(std::count(text.begin(), text.end(), '\n')); }

// Turns the channel on for a test and off again.
struct On {
    On() { debugchannel::SetEnabled(true); }
    ~On() { debugchannel::SetEnabled(false); }
};

TEST(DebugChannel, OffByDefaultAndNeverOnStandardOutput) {
    ASSERT_FALSE(debugchannel::Enabled());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EngineDebug("off %d", 1);
    {
        On on;
        EngineDebug("on %d", 2);
        EngineDebug("ends with its own line end\n");
    }
    EngineDebug("off again");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "on 2\nends with its own line end\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(DebugChannel, ACaptureTakesEveryLineWithoutTheBound) {
    debugchannel::Capture lines;
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3 * debugchannel::kBurstLines; ++i) EngineDebug("line %d", i);
    EngineDebug("%s", std::string(2 * debugchannel::kLineBytes, 'x').c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const std::string text = lines.Text();
    EXPECT_EQ(Lines(text), 3 * debugchannel::kBurstLines + 1);
    EXPECT_EQ(text.find("line 0\nline 1\n"), 0u);
    // The long line is cut to the line size, its end kept.
    const size_t last = text.rfind("line ");
    const std::string cut = text.substr(text.find('\n', last) + 1);
    EXPECT_EQ(cut.size(), size_t(debugchannel::kLineBytes) - 1);
    EXPECT_EQ(cut.back(), '\n');
}

TEST(DebugChannel, AFloodIsBoundedAndSaysSo) {
    On on;
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100000; ++i) EngineDebug("flood %d", i);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(text.find("flood 0\n"), 0u);
    EXPECT_NE(text.find("(engine debug lines dropped"), std::string::npos);
    const long written = debugchannel::kBurstLines + long(std::ceil(seconds + 1)) * debugchannel::kLinesPerSecond;
    EXPECT_GE(Lines(text), debugchannel::kBurstLines / 2);
    EXPECT_LE(Lines(text), 2 * written + 1);
}

}  // namespace
