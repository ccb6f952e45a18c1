// Deep HFS+ search cost: the driver's scan session in this process over a disk holding the benchmarks'
// HFS+ volume (BenchVolume.h, made at bench time) at 1 MiB, with the searcher table narrowed to the raw
// searcher alone, then to raw + HFS+; best of the rounds for each. Prints MB/s, the ratio (the HFS+
// searcher should add at most a fifth), the volumes found and the process's peak memory; then
// PhotoRec's time as bench/raw runs it, and callgrind on two 64 MiB cuts (the disk's first, with the
// volume's header, and one from 2 MiB on, without it): instructions in the HFS+ AnalyzeBlock against
// those in the raw AnalyzeSectors (target: at most a fifth).
// Usage: hfsplus_deep [folder for the disk] [files] [rounds] [disk MiB]   (defaults: /dev/shm, 100000, 3, 2048)
//        hfsplus_deep --smoke DIR   (the test run's check: 2,000 files on a 64 MiB disk, one round; fails
//                                    unless the volume is found; no peers, no callgrind)
//        hfsplus_deep --once raw|both IMAGE   (one scan, for callgrind)
//        hfsplus_deep --make IMAGE FILES MiB  (only the disk, kept)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchVolume.h"
#include "DeepBench.h"
#include "SessionScan.h"
#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"

namespace {

ICompleteFileSystemSearchController* g_hfs = nullptr;

ICompleteFileSystemSearchController* CountedHFSPlusSearcher() {
    g_hfs = CreateHFSPlusSearcher();
    return g_hfs;
}

struct Outcome {
    double seconds = 0;
    int volumes = 0;
    bool ok = false;
};

Outcome Scan(const std::string& image, bool withHfs) {
    g_hfs = nullptr;
    Outcome out;
    out.seconds = deepbench::NarrowedScan(
        image, [&](SearcherFactories& f) { if (withHfs) f.hfsPlus = CountedHFSPlusSearcher; },
        [&] {
            if (g_hfs != nullptr) out.volumes = g_hfs->GetSearchedPartitionInfo(nullptr, 0);
        },
        "hfsplus_deep");
    out.ok = out.seconds >= 0;
    return out;
}

// A sparse disk of diskBytes with the volume at 1 MiB.
bool MakeDisk(const std::string& path, int files, u64 diskBytes) {
    try {
        const std::vector<u8> volume = benchhfs::BenchVolume(files);
        if (volume.size() + (1u << 20) > diskBytes) {
            std::fprintf(stderr, "hfsplus_deep: a volume of %zu bytes does not fit the disk\n", volume.size());
            return false;
        }
        { std::ofstream(path, std::ios::binary | std::ios::trunc); }
        std::filesystem::resize_file(path, diskBytes);
        std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(1 << 20);
        out.write(reinterpret_cast<const char*>(volume.data()), std::streamsize(volume.size()));
        return bool(out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
}

// Instructions of one scan of `slice` under callgrind: the raw search's sector analysis (raw alone) and
// the HFS+ search's block analysis (raw + HFS+), inclusive, per sector. `what` names the slice; with
// `oneTime` the HFS+ figure is also given without the opening and whole-volume listing of the intact
// volume met there (done once per volume, whatever its size on the disk).
void CallgrindRows(const std::string& slice, const char* what, bool oneTime) {
    const std::string out = slice + ".callgrind";
    const double sectors = static_cast<double>(std::filesystem::file_size(slice)) / 512;
    const auto raw =
        deepbench::Callgrind({deepbench::Self(), "--once", "raw", slice}, "CRAWSearchController::AnalyzeSectors", out);
    const auto both = deepbench::Callgrind({deepbench::Self(), "--once", "both", slice},
                                           "CHFSPlusCompleteFileSystemSearchController::AnalyzeBlock", out);
    const double opening =
        oneTime ? deepbench::Inclusive(out, "CHFSPlusCompleteFileSystemSearchController::OpenCandidate") : -1;
    std::filesystem::remove(out);
    if (raw.total < 0 || both.total < 0) {
        std::printf("callgrind      not run (valgrind missing?)\n");
        return;
    }
    std::printf(
        "callgrind      %s (%.0f MiB): raw %.1f Ir/sector, raw + HFS+ %.1f Ir/sector; raw AnalyzeSectors %.1f "
        "Ir/sector, HFS+ AnalyzeBlock %.1f Ir/sector (ratio %.3f; %s)\n",
        what, sectors / 2048, raw.total / sectors, both.total / sectors, raw.inFunction / sectors,
        both.inFunction / sectors, raw.inFunction > 0 ? both.inFunction / raw.inFunction : -1.0,
        // The cut holding the volume's header pays the intact volume's opening and listing once, whatever
        // the cut's length: the per-sector target is read on the cut without it.
        oneTime ? "with the one-time opening and listing" : "target at most 0.2");
    if (opening > 0)
        std::printf(
            "               without the intact volume's opening and listing (%.0f Ir, once): AnalyzeBlock "
            "%.1f Ir/sector (ratio %.3f)\n",
            opening, (both.inFunction - opening) / sectors,
            raw.inFunction > 0 ? (both.inFunction - opening) / raw.inFunction : -1.0);
}

}  // namespace

int main(int argc, char** argv) {
    // Without the tree builder's first-publish pause (a pause for a window to draw), as the driver runs it.
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    if (argc == 4 && std::string(argv[1]) == "--once") {
        const int out = STDOUT_FILENO;
        const Outcome o = Scan(argv[3], std::string(argv[2]) == "both");
        dprintf(out, "seconds %.3f\nvolumes %d\n", o.seconds, o.volumes);
        return o.ok ? 0 : 1;
    }
    if (argc == 5 && std::string(argv[1]) == "--make")
        return MakeDisk(argv[2], std::max(1, std::atoi(argv[3])), u64(std::max(16, std::atoi(argv[4]))) << 20) ? 0 : 1;
    const bool smoke = argc >= 3 && std::string(argv[1]) == "--smoke";
    std::filesystem::path folder = smoke ? argv[2] : (argc >= 2 ? argv[1] : "/dev/shm");
    const int files = smoke ? 2000 : (argc >= 3 ? std::max(1, std::atoi(argv[2])) : 100000);
    const int rounds = smoke ? 1 : (argc >= 4 ? std::max(1, std::atoi(argv[3])) : 3);
    const u64 diskMiB = smoke ? 64 : (argc >= 5 ? u64(std::max(16, std::atoi(argv[4]))) : 2048);
    std::filesystem::create_directories(folder);
    const std::string image = (folder / ("hfsplus-deep-" + std::to_string(files) + ".img")).string();
    const auto made = deepbench::Clock::now();
    if (!MakeDisk(image, files, diskMiB << 20)) return 1;
    const double makeSeconds = deepbench::Seconds(deepbench::Clock::now() - made);
    const double megabytes = static_cast<double>(diskMiB << 20) / 1e6;
    Outcome raw, both;
    const bool failed = !deepbench::BestOfRounds(rounds, [&](bool with) { return Scan(image, with); }, raw, both);
    if (failed) {
        std::filesystem::remove(image);
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("disk %.1f MB (%d files in the volume at 1 MiB, made in %.1f s), best of %d\n", megabytes, files,
                makeSeconds, rounds);
    std::printf("raw alone      %8.2f s %9.1f MB/s\n", raw.seconds, megabytes / raw.seconds);
    std::printf("raw + HFS+     %8.2f s %9.1f MB/s\n", both.seconds, megabytes / both.seconds);
    std::printf("ratio          %8.3f (raw + HFS+ over raw alone; target at most 1.2)\n", both.seconds / raw.seconds);
    std::printf("HFS+ volumes   %8d found\n", both.volumes);
    std::printf("peak memory    %8.1f MiB (the process)\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    int status = 0;
    if (smoke) {
        if (both.volumes != 1) {
            std::fprintf(stderr, "hfsplus_deep: %d volumes found, not 1\n", both.volumes);
            status = 1;
        }
    } else {
        const deepbench::Child photorec = deepbench::PhotoRec(image, folder);
        if (photorec.status == 0) {
            std::printf("photorec       %8.2f s %9.1f MB/s %8.1f MiB peak (everything, paranoid)\n", photorec.wall,
                        megabytes / photorec.wall, static_cast<double>(photorec.maxrssKiB) / 1024.0);
            std::printf("photorec / (raw + HFS+) %.2f (> 1: the deep scan is faster)\n", photorec.wall / both.seconds);
        } else {
            std::printf("photorec       not run (testdisk missing?)\n");
        }
        // The disk's first 64 MiB (the volume's header, catalog, journal and first files), then 64 MiB from
        // 2 MiB on (catalog leaves, journal and files, no header: what a lost volume's scan meets).
        const std::string slice = image + ".64M";
        for (const auto& [skip, what] : {std::pair<int, const char*>{0, "first 64 MiB"}, {2, "64 MiB from 2 MiB"}}) {
            const std::string dd =
                "dd if='" + image + "' of='" + slice + "' bs=1M skip=" + std::to_string(skip) + " count=64 status=none";
            if (std::system(dd.c_str()) == 0) CallgrindRows(slice, what, skip == 0);
        }
        std::filesystem::remove(slice);
    }
    std::filesystem::remove(image);
    return status;
}
