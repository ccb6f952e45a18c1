// Scans on a busy machine (a laptop doing other things): the quick scan of QUICK_IMAGE (the 1,000,000-file
// FAT32 volume of bench/fat) against fls -r -p, and the deep scan of DEEP_IMAGE (bench/raw's 4 GiB mixed
// image) against PhotoRec, each pair timed on a quiet machine and with N busy loops running, the four
// alternating in every round. Prints ours / peer, quiet and loaded, as medians of the rounds' ratios,
// and loaded over quiet (target at most 1.5: the scans lose no more to the load than their peers do),
// with the load average of each phase.
//
//   busy_machine QUICK_IMAGE DEEP_IMAGE [loops [rounds]]   (defaults: one loop per core, 3 rounds)
//   busy_machine --smoke DIR    the test run's check: a FAT volume of 300 files and the FAT fixture disk,
//                               2 loops, one round, no peers
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DeepBench.h"
#include "Machine.h"
#include "ScanImages.h"

namespace {

using deepbench::Child;
using deepbench::Median;

struct Pair {
    std::vector<double> ours, peer, ratio, cpuShare, load;
};

struct Side {
    Pair quick, deep;
};

void PrintPair(const char* what, const char* peerName, const Pair& quiet, const Pair& loaded) {
    std::printf("%s\n", what);
    for (const auto& [name, p] : {std::pair<const char*, const Pair&>{"quiet ", quiet}, {"loaded", loaded}}) {
        std::printf("  %s  load %5.1f  ours %8.2f s (processor / wall %.2f)", name, Median(p.load), Median(p.ours),
                    Median(p.cpuShare));
        if (!p.ratio.empty())
            std::printf("  %-8s %8.2f s  ours / %s %.3f", peerName, Median(p.peer), peerName, Median(p.ratio));
        std::printf("\n");
    }
    if (!quiet.ratio.empty() && !loaded.ratio.empty())
        std::printf("  loaded / quiet ratio %.3f (target at most 1.5)\n", Median(loaded.ratio) / Median(quiet.ratio));
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = argc >= 3 && std::string(argv[1]) == "--smoke";
    if (!smoke && argc < 3) {
        std::fprintf(stderr, "usage: busy_machine QUICK_IMAGE DEEP_IMAGE [loops [rounds]] | busy_machine --smoke DIR\n");
        return 2;
    }
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    int loops = smoke ? 2 : argc > 3 ? std::atoi(argv[3]) : static_cast<int>(cores);
    const int rounds = smoke ? 1 : std::max(1, argc > 4 ? std::atoi(argv[4]) : 3);
    scanimages::Images images;
    if (smoke) {
        if (!scanimages::MakeSmokeImages(argv[2], "busy", BRELVOX_BENCH_DIR, "busy_machine", images)) return 1;
    } else {
        images = scanimages::Given(argv[1], argv[2]);
    }
    const std::string& quickImage = images.quick;
    const std::string& deepImage = images.deep;
    const std::filesystem::path& work = images.work;
    const std::string driver = scanimages::Driver();
    const std::string list = (work / "busy-machine.list").string();
    const bool peers = !smoke;
    const bool havePhotoRec = peers && deepbench::Installed("photorec");
    const bool haveFls = peers && deepbench::Installed("fls");
    // Page cache warm: the load is what is measured, not the disk.
    std::system(("cat '" + quickImage + "' '" + deepImage + "' > /dev/null").c_str());

    Side quiet, loaded;
    bool failed = false;
    auto measure = [&](Side& side) {
        const double load = machine::LoadAverage();
        const Child q = deepbench::Run({driver, "--quick", "--list", list, quickImage}, "", true);
        failed |= q.status != 0;
        side.quick.ours.push_back(q.wall);
        side.quick.cpuShare.push_back(q.cpu / q.wall);
        side.quick.load.push_back(load);
        if (haveFls) {
            const Child f = deepbench::Run({"fls", "-r", "-p", quickImage}, "", true);
            side.quick.peer.push_back(f.wall);
            if (f.status == 0 && q.status == 0) side.quick.ratio.push_back(q.wall / f.wall);
        }
        const Child d = deepbench::Run({driver, "--deep", "--list", list, deepImage}, "", true);
        failed |= d.status != 0;
        side.deep.ours.push_back(d.wall);
        side.deep.cpuShare.push_back(d.cpu / d.wall);
        side.deep.load.push_back(machine::LoadAverage());
        if (havePhotoRec) {
            const Child p = deepbench::PhotoRec(deepImage, work);
            side.deep.peer.push_back(p.wall);
            if (p.status == 0 && d.status == 0) side.deep.ratio.push_back(d.wall / p.wall);
        }
    };
    for (int r = 0; r < rounds; ++r) {
        measure(quiet);
        machine::BusyLoops busy(loops);
        sleep(2);  // the loops take the processors before the runs start
        measure(loaded);
    }
    std::filesystem::remove(list);
    std::printf("busy machine: %d busy loops on %ld cores, median of %d rounds (quiet and loaded alternate)\n", loops,
                cores, rounds);
    if (!haveFls && peers) std::printf("fls: peer not installed (sleuthkit)\n");
    if (!havePhotoRec && peers) std::printf("PhotoRec: peer not installed (testdisk)\n");
    PrintPair(("quick scan of " + quickImage).c_str(), "fls", quiet.quick, loaded.quick);
    PrintPair(("deep scan of " + deepImage).c_str(), "PhotoRec", quiet.deep, loaded.deep);
    if (failed) std::fprintf(stderr, "busy_machine: a scan failed\n");
    return failed ? 1 : 0;
}
