// Scans of a slow disk (a USB disk or a card): a deep scan of DEEP_IMAGE and a quick scan of QUICK_IMAGE
// (a FAT volume), each read through a loop device whose reads a cgroup limits to RATE MB/s (see
// SlowDevice.h), beside PhotoRec (deep) and fls (quick) on the same device and dd (bs=4M) as the
// device's own pace. The device's cache is dropped before every run; rounds alternate ours and the
// peers. Per run: the bytes the device gave (its statistics), the wall time over bytes / rate (a scan
// bounded by its disk: within 10 %), processor time over wall time (a scan that waits for its disk
// leaves the processor idle: at most 0.3). Prints the medians, the ratios to the peers as medians of the
// rounds' ratios, and the machine's load. Needs root and loop devices.
//
//   slow_source DEEP_IMAGE QUICK_IMAGE [MB/s [rounds]]   (defaults 100 MB/s, 3 rounds)
//   slow_source --smoke DIR    the test run's check: the FAT fixture disk and a volume of 300 files at
//                              8 MB/s, one round, no peers
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DeepBench.h"
#include "Machine.h"
#include "ScanImages.h"
#include "SlowDevice.h"

namespace {

using deepbench::Child;
using deepbench::Median;

struct Runs {
    std::vector<double> wall, overLimit, cpuShare, bytes;
    void Add(const Child& c, unsigned long long bytesRead, double rate) {
        if (c.status != 0 || c.wall <= 0) return;
        wall.push_back(c.wall);
        bytes.push_back(static_cast<double>(bytesRead));
        overLimit.push_back(c.wall / (static_cast<double>(bytesRead) / rate));
        cpuShare.push_back(c.cpu / c.wall);
    }
    void Print(const char* name) const {
        if (wall.empty()) {
            std::printf("  %-22s not run\n", name);
            return;
        }
        std::printf("  %-22s %8.2f s  %8.1f MB read  wall / (bytes / rate) %.3f  processor / wall %.3f\n", name,
                    Median(wall), Median(bytes) / 1e6, Median(overLimit), Median(cpuShare));
    }
};

// One run of a command inside the limit, from a cold device cache; the bytes the device gave meanwhile.
Child LimitedRun(const slowdevice::ReadLimit& limit, const slowdevice::Loop& loop, const std::vector<std::string>& command,
                 unsigned long long& bytesRead) {
    loop.DropCache();
    const unsigned long long before = loop.BytesRead();
    Child c = deepbench::Run(limit.Inside(command), "", true);
    bytesRead = loop.BytesRead() - before;
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = argc >= 3 && std::string(argv[1]) == "--smoke";
    if (!smoke && argc < 3) {
        std::fprintf(stderr, "usage: slow_source DEEP_IMAGE QUICK_IMAGE [MB/s [rounds]] | slow_source --smoke DIR\n");
        return 2;
    }
    double megabytesPerSecond = smoke ? 8 : argc > 3 ? std::atof(argv[3]) : 100;
    const int rounds = smoke ? 1 : std::max(1, argc > 4 ? std::atoi(argv[4]) : 3);
    scanimages::Images images;
    if (smoke) {
        if (!scanimages::MakeSmokeImages(argv[2], "slow", BRELVOX_BENCH_DIR, "slow_source", images)) return 1;
    } else {
        images = scanimages::Given(argv[2], argv[1]);
    }
    const std::string& deepImage = images.deep;
    const std::string& quickImage = images.quick;
    const std::filesystem::path& work = images.work;
    const double rate = megabytesPerSecond * 1e6;
    const std::string driver = scanimages::Driver();
    const slowdevice::Loop deep(deepImage), quick(quickImage);
    const slowdevice::ReadLimit limit;
    if (deep.Device().empty() || quick.Device().empty() || !limit.Usable()) {
        // Told as the test suites tell a skip, so the test command counts it with its reason.
        std::printf("slow_source: Skipped\nneeds root and loop devices (with a cgroup read limit)\n[  SKIPPED ] slow source\n");
        return smoke ? 0 : 1;
    }
    if (!limit.Limit(deep.Number(), static_cast<unsigned long long>(rate)) ||
        !limit.Limit(quick.Number(), static_cast<unsigned long long>(rate))) {
        std::fprintf(stderr, "slow_source: cannot set the read limit\n");
        return 1;
    }
    // The images' own pages stay cached: the loop devices read them at memory speed, the limit sets the pace.
    std::system(("cat '" + deepImage + "' '" + quickImage + "' > /dev/null").c_str());
    const bool peers = !smoke;
    const bool havePhotoRec = peers && deepbench::Installed("photorec");
    const std::string list = (work / "slow-source.list").string();
    const double loadBefore = machine::LoadAverage();

    Runs oursDeep, photorec, ddDeep, oursQuick, fls;
    std::vector<double> deepRatios, quickRatios, ddRatios;
    unsigned long long bytes = 0;
    for (int r = 0; r < rounds; ++r) {
        const Child d = LimitedRun(limit, deep, {driver, "--deep", "--list", list, deep.Device()}, bytes);
        oursDeep.Add(d, bytes, rate);
        if (havePhotoRec) {
            deep.DropCache();
            const unsigned long long before = deep.BytesRead();
            const Child p = deepbench::PhotoRecWrapped(deep.Device(), work, [&](std::vector<std::string> command) {
                return limit.Inside(command);
            });
            photorec.Add(p, deep.BytesRead() - before, rate);
            if (p.status == 0 && d.status == 0) deepRatios.push_back(d.wall / p.wall);
        }
        if (peers) {
            const Child dd = LimitedRun(limit, deep, {"dd", "if=" + deep.Device(), "of=/dev/null", "bs=4M"}, bytes);
            ddDeep.Add(dd, bytes, rate);
            if (dd.status == 0 && d.status == 0) ddRatios.push_back(d.wall / dd.wall);
        }
        const Child q = LimitedRun(limit, quick, {driver, "--quick", "--list", list, quick.Device()}, bytes);
        oursQuick.Add(q, bytes, rate);
        if (peers) {
            const Child f = LimitedRun(limit, quick, {"fls", "-r", "-p", quick.Device()}, bytes);
            fls.Add(f, bytes, rate);
            if (f.status == 0 && q.status == 0) quickRatios.push_back(q.wall / f.wall);
        }
    }
    std::filesystem::remove(list);
    std::printf("slow source: %.0f MB/s read limit (%s) on read-only loop devices, median of %d rounds; load %.1f "
                "before, %.1f after (%ld cores)\n",
                megabytesPerSecond, limit.Kind(), rounds, loadBefore, machine::LoadAverage(), sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("deep scan of %s (%.1f MB)\n", deepImage.c_str(), static_cast<double>(std::filesystem::file_size(deepImage)) / 1e6);
    oursDeep.Print("brelvox-scan --deep");
    if (peers) {
        if (havePhotoRec)
            photorec.Print("PhotoRec everything");
        else
            std::printf("  PhotoRec: peer not installed (testdisk)\n");
        ddDeep.Print("dd bs=4M");
        if (!deepRatios.empty()) std::printf("  ours / PhotoRec %.3f\n", Median(deepRatios));
        if (!ddRatios.empty()) std::printf("  ours / dd %.3f\n", Median(ddRatios));
    }
    std::printf("quick scan of %s\n", quickImage.c_str());
    oursQuick.Print("brelvox-scan --quick");
    if (peers) {
        fls.Print("fls -r -p");
        if (!quickRatios.empty()) std::printf("  ours / fls %.3f\n", Median(quickRatios));
    }
    if (oursDeep.wall.empty() || oursQuick.wall.empty()) {
        std::fprintf(stderr, "slow_source: a scan failed\n");
        return 1;
    }
    return 0;
}
