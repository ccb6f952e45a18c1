// Deep FAT search cost: the driver's scan session in this process over one image, with the searcher
// table narrowed to the raw searcher alone, then to raw + FAT; best of the rounds for each. Prints
// MB/s, the ratio (the FAT searcher should add at most a fifth), the peak of the candidate set, the
// volumes found and the process's peak memory. The image is made by make-deep-disk.sh.
// Usage: fat_deep IMAGE [rounds]
//        fat_deep --smoke DIR   (the test run's check: the fixture disk without its MBR, one round;
//                                fails unless both of its volumes are found)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "brelvox-scan/ScanSession.h"
#include "engine/FATSearch/FATCompleteFSearcher.h"
#include "engine/RecoveryController/SearcherFactories.h"

namespace {

CFATCompleteFSearcher* g_fat = nullptr;

ICompleteFileSystemSearchController* CountedFATSearcher() {
    g_fat = new CFATCompleteFSearcher();
    return g_fat;
}

struct Outcome {
    double seconds = 0;
    size_t peakCandidates = 0;
    size_t volumes = 0;
    bool ok = false;
};

Outcome Scan(const std::string& image, bool withFat) {
    const SearcherFactories saved = Searchers();
    SearcherFactories narrowed = saved;
    narrowed.hfsPlus = nullptr;
    narrowed.exfat = nullptr;
    narrowed.ntfs = nullptr;
    narrowed.apfs = nullptr;
    narrowed.fat = withFat ? CountedFATSearcher : nullptr;
    Searchers() = narrowed;
    g_fat = nullptr;
    Outcome out;
    {
        scan::Options options;
        options.source = image;
        scan::ScanSession session(options);
        std::string reason;
        const auto start = std::chrono::steady_clock::now();
        out.ok = session.Run(reason);
        out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!out.ok) std::fprintf(stderr, "fat_deep: %s\n", reason.c_str());
        if (g_fat != nullptr) {
            out.peakCandidates = g_fat->PeakCandidateCount();
            out.volumes = g_fat->FoundPartitions().size();
        }
    }
    Searchers() = saved;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::string image;
    int rounds = 3;
    bool smoke = false;
    if (argc >= 3 && std::string(argv[1]) == "--smoke") {
        smoke = true;
        rounds = 1;
        const std::filesystem::path dir = argv[2];
        std::filesystem::create_directories(dir);
        image = (dir / "fat-deep-smoke.img").string();
        const std::string fixture = std::string(BRELVOX_BENCH_FAT_DIR) + "/../../tests/fixtures/fat-disk/disk.img.xz";
        const std::string make = "xz -dc '" + fixture + "' > '" + image + "' && dd if=/dev/zero of='" + image +
                                 "' bs=512 count=1 conv=notrunc status=none";
        if (std::system(make.c_str()) != 0) {
            std::fprintf(stderr, "fat_deep: cannot make %s\n", image.c_str());
            return 1;
        }
    } else if (argc >= 2) {
        image = argv[1];
        if (argc >= 3) rounds = std::max(1, std::atoi(argv[2]));
    } else {
        std::fprintf(stderr, "usage: fat_deep IMAGE [rounds] | fat_deep --smoke DIR\n");
        return 2;
    }
    std::error_code error;
    const double megabytes = static_cast<double>(std::filesystem::file_size(image, error)) / 1e6;
    if (error) {
        std::fprintf(stderr, "fat_deep: no image %s\n", image.c_str());
        return 1;
    }
    Scan(image, false);  // warms the page cache
    Outcome raw, both;
    for (int r = 0; r < rounds; ++r) {
        const Outcome a = Scan(image, false);
        const Outcome b = Scan(image, true);
        if (!a.ok || !b.ok) return 1;
        if (r == 0 || a.seconds < raw.seconds) raw = a;
        if (r == 0 || b.seconds < both.seconds) both = b;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("image %.1f MB, best of %d\n", megabytes, rounds);
    std::printf("raw alone      %8.2f s %9.1f MB/s\n", raw.seconds, megabytes / raw.seconds);
    std::printf("raw + FAT      %8.2f s %9.1f MB/s\n", both.seconds, megabytes / both.seconds);
    std::printf("ratio          %8.3f (raw + FAT over raw alone; target at most 1.2)\n", both.seconds / raw.seconds);
    std::printf("FAT candidates %8zu at most; %zu volumes found\n", both.peakCandidates, both.volumes);
    std::printf("peak memory    %8.1f MiB (the process)\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    if (smoke && both.volumes != 2) {
        std::fprintf(stderr, "fat_deep: %zu volumes found on the fixture disk, not 2\n", both.volumes);
        return 1;
    }
    return 0;
}
