#include "engine/Common/CatchExeception.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Fixtures.h"
#include "support/TempDir.h"
#include "support/WorkDir.h"

namespace {

using testsupport::ReadFile;
using testsupport::ScopedWorkDir;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The lines of a log file, without the "process[...] started" line that the log's first use writes.
std::vector<std::string> LogLines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    for (auto& line : Lines(ReadFile(file)))
        if (line.find(" process[") != 8) lines.push_back(line);
    return lines;
}

// "HH:MM:SS " at the start of a line.
bool HasTimePrefix(const std::string& line) {
    if (line.size() < 9 || line[2] != ':' || line[5] != ':' || line[8] != ' ') return false;
    for (int at : {0, 1, 3, 4, 6, 7})
        if (!std::isdigit(static_cast<unsigned char>(line[at]))) return false;
    return std::stoi(line.substr(0, 2)) < 24 && std::stoi(line.substr(3, 2)) < 60 && std::stoi(line.substr(6, 2)) < 61;
}

TEST(ProcessLog, LinesArePrefixedWithTheTimeAndAppended) {
    ScopedWorkDir dir;
    auto* log = CatchExeception::Instance();
    EXPECT_EQ(log->WriteLog("first %d\n", 1), 9 + 8);
    log->WriteLog("second %s\n", "line");

    auto file = dir.work() / "sMAC_Brelvox.log";
    EXPECT_EQ(log->GetLogFilePath(), file.string());
    auto lines = LogLines(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(HasTimePrefix(lines[0])) << lines[0];
    EXPECT_EQ(lines[0].substr(9), "first 1");
    EXPECT_EQ(lines[1].substr(9), "second line");
}

TEST(ProcessLog, ConcurrentWritersNeverInterleaveWithinALine) {
    ScopedWorkDir dir;
    constexpr int kLinesPerThread = 200;
    auto writer = [](char letter) {
        std::string body(300, letter);
        for (int i = 0; i < kLinesPerThread; ++i) CatchExeception::Instance()->WriteLog("%s %04d\n", body.c_str(), i);
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();

    auto lines = LogLines(dir.work() / "sMAC_Brelvox.log");
    ASSERT_EQ(lines.size(), 2u * kLinesPerThread);
    int seen[2] = {0, 0};
    for (const auto& line : lines) {
        ASSERT_TRUE(HasTimePrefix(line)) << line;
        ASSERT_EQ(line.size(), 9u + 300 + 5) << line;
        char letter = line[9];
        ASSERT_TRUE(letter == 'a' || letter == 'b');
        EXPECT_EQ(line.substr(9, 300), std::string(300, letter));
        // Each writer's lines keep their order.
        int& next = seen[letter - 'a'];
        EXPECT_EQ(std::stoi(line.substr(310)), next);
        ++next;
    }
}

// A damaged disk can fail a read on every sector: lines that differ only in their numbers reach the
// file a thousand times, then only at each power of two, each time after a line that counts them.
TEST(ProcessLog, OneKindOfLineCannotFloodTheFile) {
    ScopedWorkDir dir;
    constexpr int kSectors = 100000;
    testing::internal::CaptureStdout();
    for (int i = 0; i < kSectors; ++i) CatchExeception::Instance()->WriteLog("sector %d unreadable\n", i + 5000000);
    CatchExeception::Instance()->WriteLog("another kind\n");
    testing::internal::GetCapturedStdout();

    const auto lines = LogLines(dir.work() / "sMAC_Brelvox.log");
    std::vector<std::string> sectors, notes;
    for (const auto& line : lines) {
        if (line.find("unreadable") != std::string::npos) sectors.push_back(line.substr(9));
        if (line.find("lines like the next one") != std::string::npos) notes.push_back(line.substr(9));
    }
    // 1000 lines, then the 1024th, 2048th ... 65536th.
    ASSERT_EQ(sectors.size(), 1000u + 7u);
    EXPECT_EQ(sectors[999], "sector 5000999 unreadable");
    EXPECT_EQ(sectors[1000], "sector 5001023 unreadable");
    EXPECT_EQ(sectors.back(), "sector 5065535 unreadable");
    ASSERT_EQ(notes.size(), 7u);
    EXPECT_EQ(notes.front(), "1024 lines like the next one so far; most are left out");
    EXPECT_EQ(notes.back(), "65536 lines like the next one so far; most are left out");
    EXPECT_EQ(lines.back().substr(9), "another kind") << "other lines still go to the file";
}

// The file is moved aside before a line would take it past its limit: the two files hold every line,
// in order, and neither is larger than the limit.
TEST(ProcessLog, TheFileIsMovedAsideAtItsSizeLimit) {
    ScopedWorkDir dir;
    constexpr long long kLimit = 64 * 1024;
    CatchExeception::Instance()->SetLogFileLimit(kLimit);
    const std::string body(500, 'r');
    for (int i = 0; i < 300; ++i) CatchExeception::Instance()->WriteLog("%s %04d\n", body.c_str(), i);
    CatchExeception::Instance()->SetLogFileLimit(CatchExeception::kLogFileLimit);

    const auto file = dir.work() / "sMAC_Brelvox.log";
    const auto older = dir.work() / "sMAC_Brelvox.log.1";
    ASSERT_TRUE(std::filesystem::exists(older));
    EXPECT_LE(static_cast<long long>(std::filesystem::file_size(file)), kLimit);
    EXPECT_LE(static_cast<long long>(std::filesystem::file_size(older)), kLimit);
    std::vector<std::string> kept = LogLines(older);
    for (const auto& line : LogLines(file)) kept.push_back(line);
    ASSERT_GE(kept.size(), 2u);
    const int first = std::stoi(kept.front().substr(9 + 501));
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(std::stoi(kept[i].substr(9 + 501)), first + int(i)) << kept[i];
    EXPECT_EQ(first + int(kept.size()), 300) << "the newest lines are kept";
}

TEST(ProcessLog, ALongMessageIsCutToTheBufferNotOverrun) {
    ScopedWorkDir dir;
    std::string longText(3000, 'x');
    int written = CatchExeception::Instance()->WriteLog("%s\n", longText.c_str());
    CatchExeception::Instance()->WriteLog("after\n");

    // 9 prefix characters, 2000 message characters and the line end restored after the cut.
    EXPECT_EQ(written, 9 + 2000 + 1);
    auto lines = LogLines(dir.work() / "sMAC_Brelvox.log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(HasTimePrefix(lines[0]));
    EXPECT_EQ(lines[0].substr(9), std::string(2000, 'x'));
    EXPECT_EQ(lines[1].substr(9), "after");
}

TEST(ProcessLog, AnUnwritableWorkFolderSendsTheLogToTheStateFolder) {
    ScopedWorkDir dir;
    // A work "folder" that is a regular file cannot take the log, whoever runs the test (root too).
    auto notAFolder = dir.work() / "plain-file";
    testsupport::WriteFile(notAFolder, "x");
    dir.SetWork(notAFolder);

    CatchExeception::Instance()->WriteLog("kept %d\n", 7);
    CatchExeception::Instance()->WriteLog("kept %d\n", 8);

    auto file = dir.state() / "Brelvox" / "sMAC_Brelvox.log";
    EXPECT_EQ(CatchExeception::Instance()->GetLogFilePath(), file.string());
    auto lines = LogLines(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(9), "kept 7");
    EXPECT_EQ(lines[1].substr(9), "kept 8");
}

// Logs one line as an unprivileged user: root writes into read-only folders, so as root the line is
// written by a child that drops to nobody (65534). Answers whether that worked.
bool LogAsUnprivilegedUser(const char* text) {
    if (!testsupport::IsRoot()) return CatchExeception::Instance()->WriteLog("%s\n", text) > 0;
    std::fflush(stdout);
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        CatchExeception::Instance()->WriteLog("%s\n", text);
        _exit(0);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ProcessLog, AReadOnlyWorkFolderSendsTheLogToTheStateFolder) {
    ScopedWorkDir dir;
    // Reachable by the unprivileged child: the folders on the way open, the state folder writable.
    chmod(dir.work().parent_path().c_str(), 0755);
    chmod(dir.work().c_str(), 0755);
    std::filesystem::create_directory(dir.state());
    chmod(dir.state().c_str(), 0777);
    auto readOnly = dir.work() / "installed";
    std::filesystem::create_directory(readOnly);
    chmod(readOnly.c_str(), 0555);
    dir.SetWork(readOnly);

    ASSERT_TRUE(LogAsUnprivilegedUser("installed program"));
    EXPECT_FALSE(std::filesystem::exists(readOnly / "sMAC_Brelvox.log"));
    auto lines = LogLines(dir.state() / "Brelvox" / "sMAC_Brelvox.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(9), "installed program");
}

TEST(ProcessLog, WorkPathFollowsTheOverrideAndDefaultsToTheExecutableFolder) {
    ScopedWorkDir dir;
    EXPECT_EQ(std::string(GetAppWorkPath()), dir.work().string());
    EXPECT_EQ(std::string(CatchExeception::Instance()->GetWorkPath()), dir.work().string());

    unsetenv("BRELVOX_WORK_DIR");
    auto exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(std::string(GetAppWorkPath()), exe.parent_path().string());
}

TEST(ProcessLog, StatePathFollowsXdgRules) {
    ScopedWorkDir dir;
    setenv("XDG_STATE_HOME", "/somewhere/state", 1);
    EXPECT_EQ(GetUserStatePath(), "/somewhere/state/Brelvox");
    // A relative value is ignored.
    setenv("XDG_STATE_HOME", "relative", 1);
    const char* oldHome = std::getenv("HOME");
    std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(GetUserStatePath(), "/home/someone/.local/state/Brelvox");
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
}

TEST(CrashHandler, PrintsABacktraceAndEndsWithTheSignal) {
    ScopedWorkDir dir;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        CatchExeception::Instance()->Install();
        raise(SIGABRT);
        // Not reached when the handler lets the default action follow.
        _exit(42);
    }
    close(out[1]);
    std::string printed;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof(buffer))) > 0;) printed.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    // One symbolised frame per line: the handler's own frame at least, plus the caller.
    EXPECT_GE(Lines(printed).size(), 2u) << printed;
    EXPECT_NE(printed.find("["), std::string::npos) << printed;
}

}  // namespace
