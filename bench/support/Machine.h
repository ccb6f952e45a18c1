// The state of the machine beside a benchmark's figures: its load, and busy loops that load it on
// purpose (a user's laptop doing other things while it scans).
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace machine {

// The one-minute load average, or -1.
inline double LoadAverage() {
    double load = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1;
        std::fclose(f);
    }
    return load;
}

// n processes that spin until the object goes (each stopped by its own id).
class BusyLoops {
public:
    explicit BusyLoops(int n) {
        for (int i = 0; i < n; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;) spin = spin + 1;
            }
            if (pid > 0) m_pids.push_back(pid);
        }
    }
    ~BusyLoops() {
        for (pid_t pid : m_pids) kill(pid, SIGKILL);
        for (pid_t pid : m_pids) waitpid(pid, nullptr, 0);
    }
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;
    size_t Count() const { return m_pids.size(); }

private:
    std::vector<pid_t> m_pids;
};

}  // namespace machine
