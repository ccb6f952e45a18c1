#include "engine/Common/CatchExeception.h"

#include <execinfo.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "engine/Common/DebugChannel.h"
#include "engine/Common/SystemTime.h"

namespace {

constexpr int kHandledSignals[] = {SIGILL, SIGABRT, SIGBUS, SIGSEGV};

// The log lock: recursive, so that code running under it may log again. Never destroyed, so that
// destructors of other process-wide objects can still log at exit.
SimpleCs& LogLock() {
    static SimpleCs* lock = new SimpleCs;
    return *lock;
}

// Asks for an unlimited limit; when the system refuses, takes the hard limit instead.
void RaiseLimit(int resource) {
    rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(resource, &unlimited) == 0) return;
    rlimit current{};
    if (getrlimit(resource, &current) != 0) return;
    current.rlim_cur = current.rlim_max;
    setrlimit(resource, &current);
}

std::string ProcessName() {
    FILE* comm = std::fopen("/proc/self/comm", "re");
    char name[64] = {};
    if (comm) {
        if (!std::fgets(name, sizeof(name), comm)) name[0] = '\0';
        std::fclose(comm);
    }
    name[std::strcspn(name, "\n")] = '\0';
    return name[0] ? name : "Brelvox";
}

bool MakeFolders(const std::string& path) {
    std::string partial;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        partial = path.substr(0, slash);
        start = slash + 1;
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Kinds of lines counted at once; a log with more kinds than this starts counting afresh.
constexpr size_t kMaxKinds = 4096;
// The part of a message that tells its kind.
constexpr size_t kKindChars = 160;

// The kind of a line: its message (past the time prefix) without digits.
std::string KindOf(const char* line, size_t length, size_t prefix) {
    std::string kind;
    for (size_t i = prefix; i < length && kind.size() < kKindChars; ++i)
        if (line[i] < '0' || line[i] > '9') kind += line[i];
    return kind;
}

bool IsPowerOfTwo(unsigned long long n) { return (n & (n - 1)) == 0; }

// Appends the whole line with one write per attempt; O_APPEND keeps the lines of concurrent
// processes apart as well. A file that the line would take past limit is first moved to "<file>.1".
bool AppendTo(const std::string& file, const char* line, size_t length, long long limit) {
    int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        static_cast<long long>(st.st_size) + static_cast<long long>(length) > limit) {
        close(fd);
        rename(file.c_str(), (file + ".1").c_str());
        fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return false;
    }
    bool ok = true;
    while (length > 0) {
        ssize_t done = write(fd, line, length);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            ok = false;
            break;
        }
        line += done;
        length -= static_cast<size_t>(done);
    }
    int savedErrno = errno;
    if (close(fd) != 0 && ok) return false;
    errno = savedErrno;
    return ok;
}

void LogExit() {
    CatchExeception::Instance()->WriteLog("process[%d] existed\n", static_cast<int>(getpid()));
}

}  // namespace

const char* GetAppWorkPath() {
    // Trivially destructible, so that the log can still ask for it while the process ends.
    thread_local char path[4096];
    const char* overridden = std::getenv("BRELVOX_WORK_DIR");
    if (overridden && overridden[0]) {
        std::snprintf(path, sizeof(path), "%s", overridden);
        return path;
    }
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) {
        std::snprintf(path, sizeof(path), ".");
        return path;
    }
    path[n] = '\0';
    char* slash = std::strrchr(path, '/');
    if (slash == path)
        path[1] = '\0';
    else if (slash)
        *slash = '\0';
    return path;
}

std::string GetUserStatePath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    // The XDG rules ignore a relative value.
    if (state && state[0] == '/') return std::string(state) + "/Brelvox";
    const char* home = std::getenv("HOME");
    std::string base;
    if (home && home[0]) {
        base = home;
    } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        base = pw->pw_dir;
    } else {
        base = "/tmp";
    }
    return base + "/.local/state/Brelvox";
}

CatchExeception* CatchExeception::Instance() {
    // Never destroyed: other objects may still log while the process ends. The closing line is
    // written by an exit handler instead of a destructor.
    static CatchExeception* instance = [] {
        auto* created = new CatchExeception;
        std::atexit(LogExit);
        return created;
    }();
    return instance;
}

CatchExeception::CatchExeception() {
    RaiseLimit(RLIMIT_CORE);
    RaiseLimit(RLIMIT_NOFILE);
    WriteLog("process[%s:%d] started\n", ProcessName().c_str(), static_cast<int>(getpid()));
}

CatchExeception::~CatchExeception() = default;

void CatchExeception::Install() {
    // The first backtrace() loads the unwinder, which allocates: do it now rather than in a handler.
    void* frames[2];
    backtrace(frames, 2);

    struct sigaction action {};
    action.sa_handler = &CatchExeception::SignalHandle;
    sigemptyset(&action.sa_mask);
    for (int sig : kHandledSignals) sigaction(sig, &action, nullptr);
}

void CatchExeception::SignalHandle(int signal) {
    // Only async-signal-safe calls here.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int sig : kHandledSignals) sigaction(sig, &fallback, nullptr);

    void* frames[kBacktraceFrames];
    int count = backtrace(frames, kBacktraceFrames);
    backtrace_symbols_fd(frames, count, STDERR_FILENO);

    // A fault re-executes the faulting instruction on return and ends under the default action; a
    // signal sent by kill or raise would not come again, so send it once more. It stays blocked until
    // the handler returns.
    raise(signal);
}

const char* CatchExeception::GetWorkPath() {
    SimpleLock hold(&LogLock(), "GetWorkPath");
    return WorkPathLocked();
}

const char* CatchExeception::WorkPathLocked() {
    if (!m_workPathResolved) {
        std::snprintf(m_workPath, sizeof(m_workPath), "%s", GetAppWorkPath());
        m_workPathResolved = true;
    }
    return m_workPath;
}

void CatchExeception::ResetWorkPath(const char* path) {
    SimpleLock hold(&LogLock(), "ResetWorkPath");
    m_useStateFolder = false;
    m_lastLogFile.clear();
    m_linesOfKind.clear();
    m_workPathResolved = path != nullptr;
    if (path) std::snprintf(m_workPath, sizeof(m_workPath), "%s", path);
}

std::string CatchExeception::GetLogFilePath() {
    SimpleLock hold(&LogLock(), "GetLogFilePath");
    return m_lastLogFile;
}

void CatchExeception::SetLogFileLimit(long long bytes) {
    SimpleLock hold(&LogLock(), "SetLogFileLimit");
    m_logFileLimit = bytes > 0 ? bytes : kLogFileLimit;
}

bool CatchExeception::AppendLocked(const char* line, size_t length) {
    constexpr size_t kPrefix = 9;  // "HH:MM:SS "
    if (m_linesOfKind.size() >= kMaxKinds) m_linesOfKind.clear();
    const unsigned long long seen = ++m_linesOfKind[KindOf(line, length, kPrefix)];
    if (seen <= kMaxLinesOfAKind) return AppendToFileLocked(line, length);
    if (!IsPowerOfTwo(seen)) return true;
    char note[160];
    const int noted = std::snprintf(note, sizeof note, "%.*s%llu lines like the next one so far; most are left out\n",
                                    int(kPrefix), line, seen);
    if (noted > 0) AppendToFileLocked(note, std::min(sizeof note - 1, size_t(noted)));
    return AppendToFileLocked(line, length);
}

bool CatchExeception::AppendToFileLocked(const char* line, size_t length) {
    if (!m_useStateFolder) {
        std::string file = std::string(WorkPathLocked()) + "/" + kLogFileName;
        if (AppendTo(file, line, length, m_logFileLimit)) {
            m_lastLogFile = file;
            return true;
        }
        // The work folder refused the file (not writable, missing): keep logging per user.
        m_useStateFolder = true;
    }
    std::string folder = GetUserStatePath();
    if (!MakeFolders(folder)) return false;
    std::string file = folder + "/" + kLogFileName;
    if (!AppendTo(file, line, length, m_logFileLimit)) return false;
    m_lastLogFile = file;
    return true;
}

int CatchExeception::WriteLog(const char* format, ...) {
    // Prefix + message + a closing newline for a cut message + NUL fit in the line.
    static_assert(9 + kMessageChars + 2 <= kLineBytes);
    char line[kLineBytes];

    _SYSTEMTIME now{};
    GetLocalTime(&now);
    int prefix = std::snprintf(line, sizeof(line), "%02d:%02d:%02d ", now.wHour, now.wMinute, now.wSecond);

    va_list args;
    va_start(args, format);
    int wanted = std::vsnprintf(line + prefix, kMessageChars + 1, format ? format : "", args);
    va_end(args);

    // vsnprintf answers the length it would have needed: only what is in the buffer counts.
    int message = wanted < 0 ? 0 : (wanted > kMessageChars ? kMessageChars : wanted);
    int length = prefix + message;
    if (wanted > kMessageChars) {
        // A cut message loses its own line end; keep the next line on a line of its own.
        line[length++] = '\n';
    }
    line[length] = '\0';

    SimpleLock hold(&LogLock(), "WriteLog");
    EngineDebug("%s", line);
    if (!AppendLocked(line, static_cast<size_t>(length))) {
        EngineDebug("%s failed with %s\n", "WriteLog", std::strerror(errno));
    }
    return length;
}
