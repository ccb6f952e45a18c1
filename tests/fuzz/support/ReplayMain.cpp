// The main() of a fuzz_NAME program in the gcc builds, in place of libFuzzer's: it hands every input
// file to LLVMFuzzerTestOneInput, and for the files given with --seeds also a fixed set of mutants of
// each (bit flips, byte stores of 0x00/0xFF/0x7F/0x80, truncations), the same for every run. Built
// with AddressSanitizer and UBSan it is the short fuzz run of the test command; bench/fuzz/run.sh runs
// the libFuzzer programs for long, coverage-guided runs.
//
//   fuzz_NAME [--mutations N] [--max-mutants M] [--artifacts DIR] [--timeout SECONDS] [--verbose]
//             [--seeds PATH...] [--] [PATH...]
//
// A PATH is a file or a folder of files (a missing folder holds none). Each seed gets N mutants
// (default 256; BRELVOX_FUZZ_MUTATIONS overrides it), fewer when the harness has so many seeds that
// they would pass M mutants in all (default 2048): the run time stays bounded per harness. What the
// engine prints on standard output goes to /dev/null unless --verbose; the reports are on standard error.
//
// The inputs run in a child process watched by the parent: when an input fails (a sanitizer report, an
// abort, a crash, or longer than the timeout) the parent saves its bytes in DIR (default: the current
// folder) under a name that says what it was, and the program fails. Keep the file as
// tests/fuzz/regressions/NAME/<what it shows> once the fault is mended; `fuzz_NAME FILE` replays it alone.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/support/FuzzTarget.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// What the child shares with its parent: the input it is running (description, file name to save it
// under, and its bytes), so that the parent can keep it whatever way the child ends.
struct Current {
    bool running;
    char what[1024];
    char saveName[512];
    size_t size;  // of the bytes that follow the record (room for as many as the harness takes)
};

Current* g_current = nullptr;

uint8_t* CurrentBytes() { return reinterpret_cast<uint8_t*>(g_current + 1); }

// splitmix64: the mutants of a seed depend only on its name and their index.
uint64_t Mix(uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

uint64_t NameHash(std::string_view name) {
    uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a
    for (char c : name) h = (h ^ static_cast<uint8_t>(c)) * 0x100000001b3ULL;
    return h;
}

struct Options {
    unsigned mutations = 256;
    unsigned maxMutants = 2048;
    unsigned timeoutSeconds = 60;
    bool verbose = false;
    fs::path artifacts = ".";
    std::vector<fs::path> seeds;
    std::vector<fs::path> plain;
};

[[noreturn]] void Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--mutations N] [--max-mutants M] [--artifacts DIR] [--timeout SECONDS] [--verbose] "
                 "[--seeds PATH...] [--] [PATH...]\n",
                 program);
    std::exit(2);
}

// The files a path names, sorted; a folder that does not exist holds none.
std::vector<fs::path> Files(const fs::path& path) {
    std::vector<fs::path> out;
    std::error_code error;
    if (fs::is_directory(path, error)) {
        for (const auto& entry : fs::directory_iterator(path)) {
            if (entry.is_regular_file()) out.push_back(entry.path());
        }
        std::sort(out.begin(), out.end());
    } else if (fs::exists(path, error)) {
        out.push_back(path);
    }
    return out;
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Replayer {
public:
    Replayer(std::string harness, size_t maxLen, unsigned timeoutSeconds)
        : m_harness(std::move(harness)), m_maxLen(maxLen), m_timeout(timeoutSeconds) {}

    // Runs one input: a copy of exactly its bytes (cut to the harness's bound, as libFuzzer does), so a
    // read past its end is a sanitizer error; the parent sees the same bytes in the shared record.
    void Run(const uint8_t* data, size_t size, const std::string& what, const std::string& saveName) {
        size = std::min(size, m_maxLen);
        std::vector<uint8_t> copy(data, data + size);
        std::snprintf(g_current->what, sizeof g_current->what, "%s", what.c_str());
        std::snprintf(g_current->saveName, sizeof g_current->saveName, "%s", saveName.c_str());
        if (size != 0) std::memcpy(CurrentBytes(), data, size);
        g_current->size = size;
        g_current->running = true;
        ::alarm(m_timeout);  // its default action ends the child: the parent reports a time-out
        LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
        ::alarm(0);
        g_current->running = false;
        ++m_runs;
    }

    // The seed itself, then its mutants: each changes one byte or cuts the seed short. Half of the
    // changed bytes fall in the first KiB, where most inputs hold the structure's header and the
    // harness's own choices (sector size, which parser), the other half anywhere.
    void RunWithMutants(const fs::path& path, unsigned mutations) {
        const std::vector<uint8_t> seed = ReadBytes(path);
        const std::string name = path.filename().string();
        Run(seed.data(), seed.size(), path.string(), "crash-" + m_harness + "-" + name);
        if (seed.empty()) return;
        const size_t size = std::min(seed.size(), m_maxLen);
        std::vector<uint8_t> mutant;
        const uint64_t base = NameHash(name);
        static constexpr uint8_t kStores[] = {0x00, 0xFF, 0x7F, 0x80};
        for (unsigned i = 0; i < mutations; ++i) {
            const uint64_t r = Mix(base ^ Mix(i));
            const size_t span = (i % 2 == 0) ? std::min<size_t>(size, 1024) : size;
            const size_t at = static_cast<size_t>((r >> 8) % span);
            mutant.assign(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(size));
            char change[96];
            switch (r % 6) {
            case 0: {
                const unsigned bit = static_cast<unsigned>((r >> 4) % 8);
                mutant[at] = static_cast<uint8_t>(mutant[at] ^ (1u << bit));
                std::snprintf(change, sizeof change, "flip-bit%u-at%zu", bit, at);
                break;
            }
            case 5:
                mutant.resize(at);
                std::snprintf(change, sizeof change, "cut-to%zu", at);
                break;
            default: {
                const uint8_t value = kStores[r % 6 - 1];
                mutant[at] = value;
                std::snprintf(change, sizeof change, "byte%02X-at%zu", static_cast<unsigned>(value), at);
                break;
            }
            }
            Run(mutant.data(), mutant.size(), path.string() + " mutant " + std::to_string(i) + ": " + change,
                "crash-" + m_harness + "-" + name + "-" + change);
            ++m_mutants;
        }
    }

    size_t Runs() const { return m_runs; }
    size_t Mutants() const { return m_mutants; }

private:
    std::string m_harness;
    size_t m_maxLen;
    unsigned m_timeout;
    size_t m_runs = 0;
    size_t m_mutants = 0;
};

// The child: every input, then a line of totals. Returns its exit status.
int RunAll(int argc, char** argv, const Options& options, const std::string& harness, size_t maxLen) {
    if (!options.verbose) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) ::dup2(null, STDOUT_FILENO);
    }
    // As libFuzzer does: the harness's initialisation (it silences the engine's process log).
    LLVMFuzzerInitialize(&argc, &argv);
    const auto start = std::chrono::steady_clock::now();
    Replayer replayer(harness, maxLen, options.timeoutSeconds);
    std::vector<fs::path> seeds;
    for (const fs::path& path : options.seeds) {
        const std::vector<fs::path> files = Files(path);
        seeds.insert(seeds.end(), files.begin(), files.end());
    }
    unsigned perSeed = options.mutations;
    if (!seeds.empty()) {
        perSeed = std::min(perSeed, static_cast<unsigned>(std::max<size_t>(1, options.maxMutants / seeds.size())));
    }
    for (const fs::path& file : seeds) replayer.RunWithMutants(file, perSeed);
    for (const fs::path& path : options.plain) {
        for (const fs::path& file : Files(path)) {
            const std::vector<uint8_t> bytes = ReadBytes(file);
            replayer.Run(bytes.data(), bytes.size(), file.string(),
                         "crash-" + harness + "-" + file.filename().string());
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %zu inputs run (%zu seeds, %zu mutants) in %.1f s\n", harness.c_str(),
                 replayer.Runs(), seeds.size(), replayer.Mutants(), seconds);
    if (replayer.Runs() == 0) {
        std::fprintf(stderr, "%s: no input found\n", harness.c_str());
        return 1;
    }
    return 0;
}

// The parent: what the child's end says, and the input that failed saved.
int Report(int status, const Options& options) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
    std::string how;
    if (WIFSIGNALED(status)) {
        how = WTERMSIG(status) == SIGALRM ? "time-out (over " + std::to_string(options.timeoutSeconds) + " s)"
                                          : std::string("signal ") + strsignal(WTERMSIG(status));
    } else {
        how = "exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (!g_current->running) {
        std::fprintf(stderr,
                     "==== fuzz replay failed (%s) outside any input (a leak is reported at exit: replay the "
                     "inputs one at a time to find its own)\n",
                     how.c_str());
        return 1;
    }
    const fs::path save = options.artifacts / g_current->saveName;
    std::error_code error;
    fs::create_directories(options.artifacts, error);
    std::ofstream out(save, std::ios::binary);
    out.write(reinterpret_cast<const char*>(CurrentBytes()), static_cast<std::streamsize>(g_current->size));
    out.close();
    std::fprintf(stderr, "==== fuzz replay failed (%s) on input: %s\n==== its bytes: %s%s\n", how.c_str(),
                 g_current->what, save.c_str(), out ? "" : " (could not be written)");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (fuzz::Targets().size() != 1) {
        std::fprintf(stderr, "a fuzz program links exactly one harness (found %zu)\n", fuzz::Targets().size());
        return 2;
    }
    const fuzz::Target& target = fuzz::Targets().front();
    const std::string harness = target.name;

    Options options;
    if (const char* env = std::getenv("BRELVOX_FUZZ_MUTATIONS"); env != nullptr && *env != '\0') {
        options.mutations = static_cast<unsigned>(std::strtoul(env, nullptr, 10));
    }
    size_t maxLen = target.maxInput;
    bool seeds = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Usage(argv[0]);
            return argv[++i];
        };
        if (arg.rfind("-max_len=", 0) == 0) {
            maxLen = std::min<size_t>(maxLen, std::strtoull(argv[i] + 9, nullptr, 10));
        } else if (arg == "--mutations") {
            const char* v = value();
            if (std::getenv("BRELVOX_FUZZ_MUTATIONS") == nullptr) {
                options.mutations = static_cast<unsigned>(std::strtoul(v, nullptr, 10));
            }
        } else if (arg == "--max-mutants") {
            options.maxMutants = static_cast<unsigned>(std::strtoul(value(), nullptr, 10));
        } else if (arg == "--artifacts") {
            options.artifacts = value();
        } else if (arg == "--timeout") {
            options.timeoutSeconds = static_cast<unsigned>(std::strtoul(value(), nullptr, 10));
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--seeds") {
            seeds = true;
        } else if (arg == "--") {
            seeds = false;
        } else if (arg.rfind("-", 0) == 0) {
            Usage(argv[0]);
        } else {
            (seeds ? options.seeds : options.plain).emplace_back(arg);
        }
    }

    void* shared = ::mmap(nullptr, sizeof(Current) + maxLen, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        std::perror("mmap");
        return 1;
    }
    g_current = static_cast<Current*>(shared);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) std::exit(RunAll(argc, argv, options, harness, maxLen));  // exit: the leak check runs
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            std::perror("waitpid");
            return 1;
        }
    }
    return Report(status, options);
}
