// The EDI image writer against dd on the same source, in the same run: a source file of SIZE MiB (as
// the machine's one USB disk of the device model), its page cache warmed, copied by KXMakeDMG into an
// EDI image and by `dd bs=4M conv=fsync` into a plain file, round after round; prints each one's MB/s
// (medians) and the writer's rate as a share of dd's (target: at least 0.8). Every EDI copy is checked:
// its data equals the source and its block's end offset equals its length.
// Usage: edi_copy [folder] [MiB] [rounds]      (defaults: /dev/shm/brelvox-edi 2048 3)
//        edi_copy --smoke FOLDER               (the test run's check: 24 MiB, one round, no dd)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BridgeBench.h"
#include "QuickBench.h"
#include "bridge/Device/KXMakeDMG.h"
#include "bridge/Device/KXUIDeviceData.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A source of mib MiB whose every 4 KiB block differs (nothing a file system could fold).
bool MakeSource(const fs::path& path, u64 mib) {
    if (fs::exists(path) && fs::file_size(path) == mib << 20) return true;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<u64> block(1 << 17);  // 1 MiB
    u64 x = 0x9E3779B97F4A7C15ULL;
    for (u64 m = 0; m < mib; ++m) {
        for (u64& w : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        if (std::fwrite(block.data(), 8, block.size(), f) != block.size()) {
            std::fclose(f);
            return false;
        }
    }
    return std::fclose(f) == 0;
}

void WarmCache(const fs::path& path) {
    const std::string cat = "cat '" + path.string() + "' > /dev/null";
    if (std::system(cat.c_str()) != 0) std::fprintf(stderr, "could not read %s\n", path.c_str());
}

// One EDI copy of the device at (0, -1); seconds, or a negative value when it failed or is wrong.
double EdiCopy(const fs::path& source, const fs::path& out, bridgebench::MainThread& main, bool check) {
    KXMakeDMG& maker = KXMakeDMG::KXShareInstance();
    int code = 1;
    maker.setKXDelegate([&](const KXEdiProgress& p) { code = p.code; });
    const auto start = Clock::now();
    if (maker.KXStart(source.string(), out.string(), 0, -1, 0) != 0) return -1;
    main.RunUntil([&] { return !maker.IsBusy(); });
    maker.WaitForJob();
    main.queue.Pump();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    maker.setKXDelegate(nullptr);
    if (code != 0) return -1;
    const u64 dataOffset = KXMakeDMG::DataOffsetFor(512);
    if (fs::file_size(out) != dataOffset + fs::file_size(source)) return -1;
    if (!check) return seconds;
    // The data, chunk by chunk, against the source.
    FILE* a = std::fopen(source.c_str(), "rb");
    FILE* b = std::fopen(out.c_str(), "rb");
    bool same = a && b && std::fseek(b, long(dataOffset), SEEK_SET) == 0;
    std::vector<char> x(1 << 20), y(1 << 20);
    while (same) {
        const size_t n = std::fread(x.data(), 1, x.size(), a);
        same = std::fread(y.data(), 1, n, b) == n && std::memcmp(x.data(), y.data(), n) == 0;
        if (n < x.size()) break;
    }
    if (a) std::fclose(a);
    if (b) std::fclose(b);
    return same ? seconds : -1;
}

double DdCopy(const fs::path& source, const fs::path& out) {
    const std::string dd =
        "dd if='" + source.string() + "' of='" + out.string() + "' bs=4M conv=fsync status=none";
    const auto start = Clock::now();
    if (std::system(dd.c_str()) != 0) return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Run(const fs::path& folder, u64 mib, int rounds, bool smoke) {
    fs::create_directories(folder);
    const fs::path source = folder / ("source-" + std::to_string(mib) + ".img");
    if (!MakeSource(source, mib)) {
        std::fprintf(stderr, "could not make %s\n", source.c_str());
        return 1;
    }
    KXUIDeviceData::Config config;
    config.enumerator = [source]() -> std::unique_ptr<IEnumDeviceEx> {
        return std::make_unique<bridgebench::ImageEnumerator>(source.string());
    };
    KXUIDeviceData::instance().Configure(config);
    bridgebench::MainThread main;
    {
        quickbench::QuietStdout quiet;
        if (!KXUIDeviceData::instance().InitDeviceInfo()) {
            std::fprintf(stderr, "the source was not enumerated\n");
            return 1;
        }
    }
    WarmCache(source);
    std::vector<double> edi, dd;
    const fs::path out = folder / "copy.edi";
    const fs::path plain = folder / "copy.dd";
    for (int r = 0; r < rounds; ++r) {
        const double e = EdiCopy(source, out, main, smoke || r == 0);
        fs::remove(out);
        if (e < 0) {
            std::fprintf(stderr, "the EDI copy failed or differs from its source\n");
            return 1;
        }
        edi.push_back(e);
        if (smoke) continue;
        WarmCache(source);
        const double d = DdCopy(source, plain);
        fs::remove(plain);
        if (d < 0) {
            std::fprintf(stderr, "dd failed\n");
            return 1;
        }
        dd.push_back(d);
        WarmCache(source);
    }
    const double mb = double(mib << 20) / 1e6;
    const double e = quickbench::Median(edi);
    if (smoke) {
        std::printf("smoke: EDI copy of %llu MiB in %.3f s (%.0f MB/s), data and end offset checked\n",
                    static_cast<unsigned long long>(mib), e, mb / e);
        return 0;
    }
    const double d = quickbench::Median(dd);
    std::printf("source %llu MiB, page cache warm, median of %d rounds\n", static_cast<unsigned long long>(mib), rounds);
    std::printf("  EDI writer (KXMakeDMG): %7.3f s  %7.0f MB/s\n", e, mb / e);
    std::printf("  dd bs=4M conv=fsync:    %7.3f s  %7.0f MB/s\n", d, mb / d);
    std::printf("  writer / dd rate: %.2f (target at least 0.80)\n", d / e);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--smoke") == 0) return Run(argv[2], 24, 1, true);
    const fs::path folder = argc > 1 ? argv[1] : "/dev/shm/brelvox-edi";
    const u64 mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 2048;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    if (mib == 0 || rounds < 1) {
        std::fprintf(stderr, "usage: edi_copy [folder] [MiB] [rounds] | --smoke FOLDER\n");
        return 2;
    }
    return Run(folder, mib, rounds, false);
}
