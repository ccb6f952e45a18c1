// Deep exFAT search cost: the driver's scan session in this process over one disk, with the searcher
// table narrowed to the raw searcher alone, then to raw + exFAT; best of the rounds for each. Prints
// MB/s, the ratio (the exFAT searcher should add at most a fifth), the volumes found, the end step's
// time and the process's peak memory; then PhotoRec's time as bench/raw runs it, callgrind's
// instructions per sector on the disk's first 256 MiB, and the tree build alone at 100,000, 200,000,
// 400,000 and 800,000 files, in processor time of the process (its page-clearing helper included; tens
// of milliseconds and more, sizes whose times are measured rather than lost in a millisecond's noise) and
// in instructions under callgrind (the same on a loaded machine as on a quiet one): doubling the files
// should cost at most about 2.2 times the instructions.
// The disk is made by make-deep-disk.sh.
// Usage: exfat_deep IMAGE [rounds]
//        exfat_deep --smoke DIR   (the test run's check: the fixture disk without its table, one round;
//                                  fails unless its volume is found; no peers, no callgrind)
//        exfat_deep --once raw|both IMAGE   (one scan, for callgrind)
//        exfat_deep --tree FILES [rounds]  (the tree build alone at one size, best of 11 rounds or the given)
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DeepBench.h"
#include "SessionScan.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/EXFatSearch/ExFatCompleteSearch.h"
#include "engine/EXFatSearch/ExFatFileNode.h"

namespace {

CExFatCompleteSearch* g_exfat = nullptr;

ICompleteFileSystemSearchController* CountedExFatSearcher() {
    g_exfat = new CExFatCompleteSearch();
    return g_exfat;
}

struct Outcome {
    double seconds = 0;
    double endSeconds = 0;
    double blockSeconds = 0;
    size_t volumes = 0;
    bool ok = false;
};

Outcome Scan(const std::string& image, bool withExFat) {
    g_exfat = nullptr;
    Outcome out;
    out.seconds = deepbench::NarrowedScan(
        image, [&](SearcherFactories& f) { if (withExFat) f.exfat = CountedExFatSearcher; },
        [&] {
            if (g_exfat != nullptr) {
                out.volumes = g_exfat->ChosenPartitions().size();
                out.endSeconds = g_exfat->EndSeconds();
                out.blockSeconds = g_exfat->BlockSeconds();
            }
        },
        "exfat_deep");
    out.ok = out.seconds >= 0;
    return out;
}

// Instructions per sector of one scan of `slice`, whole process, raw alone and raw + exFAT.
void CallgrindRows(const std::string& slice) {
    const std::string out = slice + ".callgrind";
    const double sectors = static_cast<double>(std::filesystem::file_size(slice)) / 512;
    const auto raw = deepbench::Callgrind({deepbench::Self(), "--once", "raw", slice}, "", out);
    const auto both = deepbench::Callgrind({deepbench::Self(), "--once", "both", slice},
                                           "CExFatCompleteSearch::AnalyzeBlock", out);
    const double end = deepbench::Inclusive(out, "CExFatCompleteSearch::EndSearch");
    std::filesystem::remove(out);
    if (raw.total < 0 || both.total < 0) {
        std::printf("callgrind      not run (valgrind missing?)\n");
        return;
    }
    std::printf("callgrind      first %.0f MiB: raw %.1f Ir/sector, raw + exFAT %.1f Ir/sector; the exFAT search "
                "%.1f Ir/sector (its block analysis %.1f, its end step %.1f)\n",
                sectors / 2048, raw.total / sectors, both.total / sectors, (both.total - raw.total) / sectors,
                both.inFunction / sectors, end / sectors);
}

// The tree build of one volume of `files` files in folders of 200, made in memory: a root set naming a
// folder "tree", its set naming every folder, and one set of 200 files per folder, each in its folder's
// cluster. Seconds of processor time of the process during BuildFileTree (the helper that clears pages
// ahead for it included), best of eleven (a shared machine makes single runs vary, and waiting for a
// processor is not the build's cost).
size_t g_treeNodes = 0;  // nodes the last tree build made

double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double TreeBuildSeconds(u32 files, int rounds = 11) {
    constexpr u32 kPer = 200;
    constexpr i64 kHeap = 4096;
    constexpr u32 kSpc = 8;
    const u32 folders = (files + kPer - 1) / kPer;
    auto sectorOf = [](u32 cluster) { return kHeap + i64{cluster - 2} * kSpc; };
    auto record = [](u32 cluster, i64 length, bool folder) {
        _tagFileBaseInfo r;
        r.firstCluster = cluster;
        r.dataLength = length;
        r.attributes = folder ? 0x10 : 0x20;
        r.inUse = 1;
        for (const char c : std::string(folder ? "folder" : "a file with a long name.txt")) r.nameUnits[r.nameUnitCount++] = c;
        return r;
    };
    double best = 1e9;
    for (int round = 0; round < rounds; ++round) {
        CExFatCompleteSearch search;
        CPartitionBuilder& builder = search.Builder();
        builder.PrepareBuild(512, 1ull << 40);
        CExFatPartitionEx partition;
        partition.SetSectorSize(512);
        partition.SetSectorsPerCluster(kSpc);
        partition.SetDataRegionStart(kHeap);
        partition.SetRootCluster(4);
        partition.SetClusterBound(0xFFFFFFF0u);
        // Clusters: root 4, "tree" from 5 (one cluster per 128 entries of 32 bytes... kept contiguous),
        // folders after it, files after the folders.
        const u32 treeClusters = (folders * 3 * 32 + 4095) / 4096 + 1;
        const u32 firstFolder = 5 + treeClusters;
        const u32 firstFile = firstFolder + folders;
        auto* root = new CFileSet();
        root->RecordSector(sectorOf(4));
        root->AddFile(record(5, i64{treeClusters} * 4096, true));
        builder.PushFileSet(root, -1, -1);
        partition.AddDataSector(sectorOf(4));
        auto* tree = new CFileSet();
        tree->RecordSector(sectorOf(5));
        for (u32 f = 0; f < folders; ++f) {
            auto r = record(firstFolder + f, 4096, true);
            r.noFatChain = 1;
            tree->AddFile(r);
        }
        builder.PushFileSet(tree, -1, -1);
        partition.AddDataSector(sectorOf(5));
        for (u32 f = 0; f < folders; ++f) {
            auto* set = new CFileSet();
            set->RecordSector(sectorOf(firstFolder + f));
            for (u32 k = 0; k < kPer && f * kPer + k < files; ++k) set->AddFile(record(firstFile + f * kPer + k, 20, false));
            builder.PushFileSet(set, -1, -1);
            partition.AddDataSector(sectorOf(firstFolder + f));
        }
        std::vector<CExFatFileNode*> nodes;
        const double start = ProcessSeconds();
        search.BuildFileTree(partition, nodes);
        best = std::min(best, ProcessSeconds() - start);
        g_treeNodes = nodes.size();
        for (CExFatFileNode* n : nodes) n->Release();
    }
    return best;
}

// The same builds counted in instructions (callgrind, one build each, inclusive in BuildFileTree): the
// doubling check free of the machine's load, which processor time on a shared machine is not.
void TreeBuildInstructionRow(const u32* sizes, int count, const std::filesystem::path& outFile) {
    std::vector<double> counts;
    for (int k = 0; k < count; ++k) {
        const auto c = deepbench::Callgrind({deepbench::Self(), "--tree", std::to_string(sizes[k]), "1"},
                                            "CExFatCompleteSearch::BuildFileTree", outFile.string());
        if (c.inFunction <= 0) {
            std::printf("tree build     instructions not counted (valgrind missing?)\n");
            std::filesystem::remove(outFile);
            return;
        }
        counts.push_back(c.inFunction);
    }
    std::filesystem::remove(outFile);
    std::printf("tree build     instructions %.1f Ir/file at %u files", counts[0] / sizes[0], sizes[0]);
    for (int k = 1; k < count; ++k)
        std::printf(", %.1f at %u (x%.2f)", counts[k] / sizes[k], sizes[k], counts[k] / counts[k - 1]);
    std::printf("; target x2.2 at most per doubling\n");
}

}  // namespace

int main(int argc, char** argv) {
    // Without the tree builder's first-publish pause (a pause for a window to draw), as the driver runs it.
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "--tree") {
        const int rounds = argc == 4 ? std::max(1, std::atoi(argv[3])) : 11;
        const double seconds = TreeBuildSeconds(u32(std::atol(argv[2])), rounds);
        std::printf("tree build of %s files: %.4f s (best of %d), %zu nodes\n", argv[2], seconds, rounds, g_treeNodes);
        return 0;
    }
    if (argc == 4 && std::string(argv[1]) == "--once") {
        const Outcome o = Scan(argv[3], std::string(argv[2]) == "both");
        std::printf("seconds %.3f\nvolumes %zu\nblocks %.4f\nend %.4f\n", o.seconds, o.volumes, o.blockSeconds,
                o.endSeconds);
        return o.ok ? 0 : 1;
    }
    std::string image;
    int rounds = 3;
    bool smoke = false;
    if (argc >= 3 && std::string(argv[1]) == "--smoke") {
        smoke = true;
        rounds = 1;
        const std::filesystem::path dir = argv[2];
        std::filesystem::create_directories(dir);
        image = (dir / "exfat-deep-smoke.img").string();
        const std::string fixture =
            std::string(BRELVOX_BENCH_EXFAT_DIR) + "/../../tests/fixtures/exfat/deep-mbr.img.xz";
        const std::string make = "xz -dc '" + fixture + "' > '" + image + "' && dd if=/dev/zero of='" + image +
                                 "' bs=512 count=1 conv=notrunc status=none";
        if (std::system(make.c_str()) != 0) {
            std::fprintf(stderr, "exfat_deep: cannot make %s\n", image.c_str());
            return 1;
        }
    } else if (argc >= 2) {
        image = argv[1];
        if (argc >= 3) rounds = std::max(1, std::atoi(argv[2]));
    } else {
        std::fprintf(stderr, "usage: exfat_deep IMAGE [rounds] | exfat_deep --smoke DIR\n");
        return 2;
    }
    std::error_code error;
    const double megabytes = static_cast<double>(std::filesystem::file_size(image, error)) / 1e6;
    if (error) {
        std::fprintf(stderr, "exfat_deep: no image %s\n", image.c_str());
        return 1;
    }
    Outcome raw, both;
    const bool failed = !deepbench::BestOfRounds(rounds, [&](bool with) { return Scan(image, with); }, raw, both);
    if (failed) return 1;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("image %.1f MB, best of %d\n", megabytes, rounds);
    std::printf("raw alone      %8.2f s %9.1f MB/s\n", raw.seconds, megabytes / raw.seconds);
    std::printf("raw + exFAT    %8.2f s %9.1f MB/s\n", both.seconds, megabytes / both.seconds);
    std::printf("ratio          %8.3f (raw + exFAT over raw alone; target at most 1.2)\n", both.seconds / raw.seconds);
    std::printf("exFAT volumes  %8zu found; end step %.3f s (choice, tables, trees); its block analysis %.3f s\n",
                both.volumes, both.endSeconds, both.blockSeconds);
    std::printf("peak memory    %8.1f MiB (the process)\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    const u32 sizes[] = {100000, 200000, 400000, 800000};
    constexpr int kSizes = 4;
    double times[kSizes] = {};
    for (int k = 0; k < (smoke ? 1 : kSizes); ++k) times[k] = TreeBuildSeconds(smoke ? 2000 : sizes[k]);
    if (smoke) {
        if (both.volumes == 1) return 0;
        std::fprintf(stderr, "exfat_deep: %zu volumes found on the fixture disk, not 1\n", both.volumes);
        return 1;
    }
    std::printf("tree build     processor time %.4f s at %u files", times[0], sizes[0]);
    for (int k = 1; k < kSizes; ++k) std::printf(", %.4f s at %u (x%.2f)", times[k], sizes[k], times[k] / times[k - 1]);
    std::printf("; target x2.2 at most per doubling\n");
    const std::filesystem::path folder = std::filesystem::path(image).parent_path();
    TreeBuildInstructionRow(sizes, kSizes, (folder.empty() ? std::filesystem::path(".") : folder) / "tree.callgrind");
    const deepbench::Child photorec = deepbench::PhotoRec(image, folder.empty() ? "." : folder);
    if (photorec.status == 0) {
        std::printf("photorec       %8.2f s %9.1f MB/s %8.1f MiB peak (everything, paranoid)\n", photorec.wall,
                    megabytes / photorec.wall, static_cast<double>(photorec.maxrssKiB) / 1024.0);
        std::printf("photorec / (raw + exFAT) %.2f (> 1: the deep scan is faster)\n", photorec.wall / both.seconds);
    } else {
        std::printf("photorec       not run (testdisk missing?)\n");
    }
    const std::string slice = image + ".256M";
    if (std::system(("dd if='" + image + "' of='" + slice + "' bs=1M count=256 status=none").c_str()) == 0)
        CallgrindRows(slice);
    std::filesystem::remove(slice);
    return 0;
}
