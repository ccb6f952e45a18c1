// Replays every committed input of every fuzz harness, its seeds and the inputs that once failed, in
// every build (no clang needed): a finding that was fixed stays fixed. One test per harness.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/support/FuzzTarget.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = BRELVOX_FUZZ_DIR;
// An input that takes longer than this hangs (each takes milliseconds, under the sanitizers too).
constexpr auto kInputLimit = std::chrono::seconds(120);

std::vector<fs::path> Inputs(const fs::path& folder) {
    std::vector<fs::path> out;
    if (!fs::is_directory(folder)) return out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) out.push_back(entry.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const fuzz::Target* Find(const std::string& name) {
    for (const fuzz::Target& t : fuzz::Targets()) {
        if (name == t.name) return &t;
    }
    return nullptr;
}

std::vector<std::string> TargetNames() {
    std::vector<std::string> names;
    for (const fuzz::Target& t : fuzz::Targets()) names.emplace_back(t.name);
    return names;
}

// Aborts the program, naming the input, when one input runs past the limit.
class Watchdog {
public:
    explicit Watchdog(std::string what) : m_what(std::move(what)), m_thread([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> hold(m_mutex);
        if (!m_cv.wait_for(hold, kInputLimit, [this] { return m_done; })) {
            std::fprintf(stderr, "%s did not finish within %lld s\n", m_what.c_str(),
                         static_cast<long long>(kInputLimit.count()));
            std::abort();
        }
    }
    std::string m_what;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

void FailCheck(const char* message) { ADD_FAILURE() << message; }

class FuzzReplay : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(FuzzReplay, SeedsAndRegressionsRunClean) {
    const fuzz::Target* target = Find(GetParam());
    ASSERT_NE(target, nullptr);
    const auto seeds = Inputs(kFuzzDir / "seeds" / target->name);
    EXPECT_FALSE(seeds.empty()) << "a harness starts from seeds: tests/fuzz/seeds/" << target->name;
    for (const fs::path& path : seeds) {
        EXPECT_LE(fs::file_size(path), target->maxInput) << path.string() << ": a seed longer than the harness takes";
    }
    auto inputs = seeds;
    const auto regressions = Inputs(kFuzzDir / "regressions" / target->name);
    inputs.insert(inputs.end(), regressions.begin(), regressions.end());
    fuzz::SetCheckHandler(FailCheck);
    for (const fs::path& path : inputs) {
        SCOPED_TRACE(path.string());
        const std::vector<uint8_t> bytes = ReadBytes(path);
        // As libFuzzer hands it over: cut to the harness's bound, in memory of exactly its size.
        const size_t size = std::min(bytes.size(), target->maxInput);
        auto copy = std::make_unique<uint8_t[]>(size);
        std::copy_n(bytes.begin(), size, copy.get());
        std::fprintf(stderr, "replaying %s\n", path.string().c_str());
        Watchdog watchdog(path.string());
        target->body(copy.get(), size);
    }
    fuzz::SetCheckHandler(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Harnesses, FuzzReplay, ::testing::ValuesIn(TargetNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// Every folder of inputs belongs to a harness (a renamed harness does not leave its inputs unrun).
TEST(FuzzInputs, EveryFolderNamesAHarness) {
    for (const char* kind : {"seeds", "regressions"}) {
        if (!fs::is_directory(kFuzzDir / kind)) continue;
        for (const auto& entry : fs::directory_iterator(kFuzzDir / kind)) {
            if (!entry.is_directory()) continue;
            EXPECT_NE(Find(entry.path().filename().string()), nullptr)
                << kind << "/" << entry.path().filename().string() << " has no harness";
        }
    }
}
