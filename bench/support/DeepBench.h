// What the deep-search benchmarks share: programs run as children (output, wall time, peak memory),
// values read back from their output, PhotoRec run as bench/raw runs it, and callgrind's instruction
// counts of one run, whole process and inclusive in one function.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace deepbench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline std::string Self() { return std::filesystem::canonical("/proc/self/exe").string(); }

struct Child {
    int status = -1;
    double wall = -1;
    long maxrssKiB = 0;
    double cpu = -1;  // processor time, user and system, of the child and what it waited for
    std::string out;  // standard output and error, together
};

// Runs a program (in cwd when given) and waits for it: its output (unless it is to be discarded: sent
// to /dev/null), wall time, processor time and peak memory.
inline Child Run(const std::vector<std::string>& args, const std::string& cwd = "", bool discardOutput = false) {
    Child child;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return child;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = discardOutput ? open("/dev/null", O_WRONLY) : -1;
        const int to = null >= 0 ? null : pipeFds[1];
        dup2(to, STDOUT_FILENO);
        dup2(to, STDERR_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) child.out.append(buffer, size_t(n));
    close(pipeFds[0]);
    struct rusage usage {};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    child.wall = Seconds(Clock::now() - start);
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    child.maxrssKiB = usage.ru_maxrss;
    child.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return child;
}

// The value after "key " in a child's output, or -1.
inline double Value(const std::string& out, const std::string& key) {
    const size_t at = out.rfind(key + " ");
    return at == std::string::npos ? -1 : std::atof(out.c_str() + at + key.size() + 1);
}

inline double Median(std::vector<double> v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return x < 0; }), v.end());
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// PhotoRec's command as bench/raw runs it (everything, paranoid), writing under `out`.
inline std::vector<std::string> PhotoRecCommand(const std::string& source, const std::filesystem::path& out) {
    return {"photorec", "/log", "/d", (out / "recup").string(), "/cmd", source,
            "partition_none,fileopt,everything,enable,options,paranoid,search"};
}

// Runs PhotoRec's command (made by `wrap` from PhotoRecCommand, for a wrapper of the caller's) from its
// own output folder (it writes its log there), which is removed afterwards.
template <class Wrap>
Child PhotoRecWrapped(const std::string& source, const std::filesystem::path& folder, Wrap wrap) {
    const auto out = folder / "photorec-out";
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    Child c = Run(wrap(PhotoRecCommand(source, out)), out.string());
    std::filesystem::remove_all(out);
    return c;
}

// PhotoRec as bench/raw runs it, page cache warm.
inline Child PhotoRec(const std::string& image, const std::filesystem::path& folder) {
    if (std::system(("cat '" + image + "' > /dev/null").c_str()) != 0) return Child{};
    return PhotoRecWrapped(image, folder, [](std::vector<std::string> command) { return command; });
}

// Whether a program is on the PATH.
inline bool Installed(const std::string& program) {
    return std::system(("command -v '" + program + "' >/dev/null 2>&1").c_str()) == 0;
}

// Instructions of one run under callgrind: the whole process, and inclusive in `function` (-1 when
// valgrind or the function is missing).
struct Counts {
    double total = -1;
    double inFunction = -1;
};
// Instructions inclusive in `function` in a callgrind output file (-1 when it is not there).
inline double Inclusive(const std::string& outFile, const std::string& function) {
    const Child annotate = Run({"callgrind_annotate", "--inclusive=yes", outFile});
    const size_t at = annotate.out.find(function);
    if (at == std::string::npos) return -1;
    const size_t line = annotate.out.rfind('\n', at) + 1;
    std::string number =
        annotate.out.substr(line, annotate.out.find(' ', annotate.out.find_first_not_of(' ', line)) - line);
    number.erase(std::remove(number.begin(), number.end(), ','), number.end());
    return std::atof(number.c_str());
}

inline Counts Callgrind(const std::vector<std::string>& args, const std::string& function, const std::string& outFile) {
    std::vector<std::string> command{"valgrind", "--tool=callgrind", "--callgrind-out-file=" + outFile};
    command.insert(command.end(), args.begin(), args.end());
    const Child c = Run(command);
    Counts counts;
    counts.total = Value(c.out, "Collected :");
    if (!function.empty()) counts.inFunction = Inclusive(outFile, function);
    return counts;
}

}  // namespace deepbench
