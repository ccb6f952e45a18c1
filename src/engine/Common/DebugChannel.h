// The engine's diagnostics (what a parser met on a disk, what a searcher found): one channel, to
// standard error, off unless the program asks for it (the driver's --verbose). The engine never writes
// to standard output. Lines are bounded in rate: a burst of kBurstLines, then kLinesPerSecond; the
// first line dropped is announced by a notice and the lines dropped are counted in the next line
// written, so a disk full of one structure cannot flood the terminal nor slow the scan down.
#pragma once

#include <string>

namespace debugchannel {

inline constexpr int kBurstLines = 100;
inline constexpr int kLinesPerSecond = 20;
// A longer line is cut (its line end kept).
inline constexpr int kLineBytes = 4096;

void SetEnabled(bool on);
bool Enabled();

// While one lives, every line goes to it instead of standard error, whether the channel is on or not
// and without the rate bound: for tests of what the engine reports. One at a time.
class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    // The lines so far, each with its line end.
    std::string Text() const;
};

}  // namespace debugchannel

// One line of the channel, a format and its values (the line end is added when missing); nothing while
// the channel is off. Thread-safe.
void EngineDebug(const char* format, ...) __attribute__((format(__printf__, 1, 2)));
