// The process log and crash handler.
//
// Every line is "HH:MM:SS " + message, sent to the engine's debug channel and appended to "sMAC_Brelvox.log"
// in the work folder. The file is opened and closed for every line so the log is complete after a
// crash. When the work folder cannot take the file (an installed program under /usr), the log goes to
// the per-user state folder ($XDG_STATE_HOME or ~/.local/state, subfolder "Brelvox") instead.
// The file never grows past a size limit: a line that would cross it first moves the file to
// "sMAC_Brelvox.log.1" (replacing an older one). Nor can one kind of line flood it (a read failure
// met on every sector of a damaged disk): of the lines that differ only in their digits, the first
// kMaxLinesOfAKind go to the file, after that only the 2^n-th, each with a line counting them.
#pragma once

#include <string>
#include <unordered_map>

#include "engine/Common/Locks.h"

// The folder of the executable (where "UIConfig.ini" lies), or the value of the environment variable
// BRELVOX_WORK_DIR when it is set (tests). The text stays valid until the next call on the same thread.
const char* GetAppWorkPath();

// The per-user state folder of the program: $XDG_STATE_HOME/Brelvox, else ~/.local/state/Brelvox.
std::string GetUserStatePath();

class CatchExeception {
public:
    static constexpr const char* kLogFileName = "sMAC_Brelvox.log";
    static constexpr int kLineBytes = 2048;
    static constexpr int kMessageChars = 2000;
    static constexpr int kBacktraceFrames = 128;
    static constexpr long long kLogFileLimit = 16LL << 20;
    static constexpr unsigned long long kMaxLinesOfAKind = 1000;

    static CatchExeception* Instance();

    // Routes SIGILL, SIGABRT, SIGBUS and SIGSEGV to SignalHandle.
    void Install();
    // Puts the four signals back to their default action, prints a backtrace of the faulting thread
    // to standard error and lets the default action (termination with a core file) follow.
    static void SignalHandle(int signal);

    // Appends one line; returns the number of characters of the line (prefix included).
    int WriteLog(const char* format, ...) __attribute__((format(__printf__, 2, 3)));

    // The work folder, resolved once (GetAppWorkPath) and kept.
    const char* GetWorkPath();
    // Forgets the resolved work and log folders (and the lines counted per kind) so that the next line
    // resolves them again; a non-null path is used as the work folder from now on. For tests and tools.
    void ResetWorkPath(const char* path = nullptr);
    // The full path of the file the last line went to (empty before the first line).
    std::string GetLogFilePath();
    // The size past which the file is moved aside (kLogFileLimit unless a test sets another).
    void SetLogFileLimit(long long bytes);

    CatchExeception(const CatchExeception&) = delete;
    CatchExeception& operator=(const CatchExeception&) = delete;

private:
    CatchExeception();
    ~CatchExeception();

    bool AppendLocked(const char* line, size_t length);
    bool AppendToFileLocked(const char* line, size_t length);
    const char* WorkPathLocked();

    char m_workPath[1024] = {};
    bool m_workPathResolved = false;
    // Set once the work folder refused the file; later lines go straight to the state folder.
    bool m_useStateFolder = false;
    std::string m_lastLogFile;
    long long m_logFileLimit = kLogFileLimit;
    // Lines met per kind (the message without its digits); emptied when it holds too many kinds.
    std::unordered_map<std::string, unsigned long long> m_linesOfKind;
};
