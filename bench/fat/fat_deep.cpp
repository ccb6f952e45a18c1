// Deep FAT search cost: the driver's scan session in this process over one image, with the searcher
// table narrowed to the raw searcher alone, then to raw + FAT, alternating, round after round (5 by
// default). Prints the median round of each, MB/s, the ratio as the median of the rounds' ratios (the
// FAT searcher should add at most a fifth; a single round swings with the machine's load), the rounds'
// ratios themselves, the machine's load, the peak of the candidate set, the
// volumes found and the process's peak memory; then PhotoRec's time as bench/raw runs it, and
// callgrind's instructions per sector on the image's first 256 MiB (the FAT volume and raw content) and
// on its last 256 MiB (raw content alone).
// The image is made by make-deep-disk.sh.
// Usage: fat_deep IMAGE [rounds]   (at least 5 for the headline; fewer are run but said so)
//        fat_deep --smoke DIR   (the test run's check: the fixture disk without its MBR, one round;
//                                fails unless both of its volumes are found; no peers, no callgrind)
//        fat_deep --once raw|both IMAGE   (one scan, for callgrind)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DeepBench.h"
#include "Machine.h"
#include "SessionScan.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/FATSearch/FATCompleteFSearcher.h"

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
    g_fat = nullptr;
    Outcome out;
    out.seconds = deepbench::NarrowedScan(
        image, [&](SearcherFactories& f) { if (withFat) f.fat = CountedFATSearcher; },
        [&] {
            if (g_fat != nullptr) {
                out.peakCandidates = g_fat->PeakCandidateCount();
                out.volumes = g_fat->FoundPartitions().size();
            }
        },
        "fat_deep");
    out.ok = out.seconds >= 0;
    return out;
}

// Instructions per sector of one scan of `slice`, whole process, raw alone and raw + FAT.
void CallgrindRows(const std::string& slice, const char* where) {
    const std::string out = slice + ".callgrind";
    const double sectors = static_cast<double>(std::filesystem::file_size(slice)) / 512;
    const auto raw = deepbench::Callgrind({deepbench::Self(), "--once", "raw", slice}, "", out);
    const auto both =
        deepbench::Callgrind({deepbench::Self(), "--once", "both", slice}, "CFATCompleteFSearcher::AnalyzeBlock", out);
    std::filesystem::remove(out);
    if (raw.total < 0 || both.total < 0) {
        std::printf("callgrind      not run (valgrind missing?)\n");
        return;
    }
    std::printf("callgrind      %s %.0f MiB: raw %.1f Ir/sector, raw + FAT %.1f Ir/sector; the FAT search %.1f "
                "Ir/sector (its block analysis %.1f)\n",
                where, sectors / 2048, raw.total / sectors, both.total / sectors, (both.total - raw.total) / sectors,
                both.inFunction / sectors);
}

}  // namespace

int main(int argc, char** argv) {
    // Without the tree builder's first-publish pause (a pause for a window to draw), as the driver runs it.
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    if (argc == 4 && std::string(argv[1]) == "--once") {
        const Outcome o = Scan(argv[3], std::string(argv[2]) == "both");
        std::printf("seconds %.3f\ncandidates %zu\nvolumes %zu\n", o.seconds, o.peakCandidates, o.volumes);
        return o.ok ? 0 : 1;
    }
    std::string image;
    int rounds = 5;
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
    std::vector<Outcome> raws, boths;
    const double loadBefore = machine::LoadAverage();
    if (!deepbench::AlternatingRounds(rounds, [&](bool with) { return Scan(image, with); }, raws, boths)) return 1;
    std::vector<double> ratios;
    std::string each;
    for (size_t r = 0; r < raws.size(); ++r) {
        ratios.push_back(boths[r].seconds / raws[r].seconds);
        each += (r ? ", " : "") + std::to_string(ratios.back()).substr(0, 5);
    }
    const Outcome raw = deepbench::MedianRound(raws), both = deepbench::MedianRound(boths);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("image %.1f MB, median of %d rounds%s; load %.1f before, %.1f after (%ld cores)\n", megabytes, rounds,
                rounds < 5 && !smoke ? " (fewer than 5: the headline swings)" : "", loadBefore, machine::LoadAverage(),
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("raw alone      %8.2f s %9.1f MB/s\n", raw.seconds, megabytes / raw.seconds);
    std::printf("raw + FAT      %8.2f s %9.1f MB/s\n", both.seconds, megabytes / both.seconds);
    std::printf("ratio          %8.3f (raw + FAT over raw alone, median of the rounds' ratios: %s; target at most "
                "1.2)\n",
                deepbench::Median(ratios), each.c_str());
    std::printf("FAT candidates %8zu at most; %zu volumes found\n", both.peakCandidates, both.volumes);
    std::printf("peak memory    %8.1f MiB (the process)\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    if (smoke) {
        if (both.volumes == 2) return 0;
        std::fprintf(stderr, "fat_deep: %zu volumes found on the fixture disk, not 2\n", both.volumes);
        return 1;
    }
    const std::filesystem::path folder = std::filesystem::path(image).parent_path();
    const deepbench::Child photorec = deepbench::PhotoRec(image, folder.empty() ? "." : folder);
    if (photorec.status == 0) {
        std::printf("photorec       %8.2f s %9.1f MB/s %8.1f MiB peak (everything, paranoid)\n", photorec.wall,
                    megabytes / photorec.wall, static_cast<double>(photorec.maxrssKiB) / 1024.0);
        std::printf("photorec / (raw + FAT) %.2f (> 1: the deep scan is faster)\n", photorec.wall / both.seconds);
    } else {
        std::printf("photorec       not run (testdisk missing?)\n");
    }
    // The first 256 MiB hold the FAT volume; the last 256 MiB of a disk of 512 MiB or more hold none: the
    // per-sector cost of the search where there is nothing to find.
    const std::string slice = image + ".256M";
    if (std::system(("dd if='" + image + "' of='" + slice + "' bs=1M count=256 status=none").c_str()) == 0)
        CallgrindRows(slice, "first");
    const long long mebibytes = static_cast<long long>(std::filesystem::file_size(image, error) >> 20);
    const std::string tail = "dd if='" + image + "' of='" + slice + "' bs=1M count=256 skip=" +
                             std::to_string(mebibytes - 256) + " status=none";
    if (mebibytes >= 512 && std::system(tail.c_str()) == 0) CallgrindRows(slice, "last ");
    std::filesystem::remove(slice);
    return 0;
}
