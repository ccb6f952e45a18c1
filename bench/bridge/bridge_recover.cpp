// Quick scan and recovery of the deleted files of the FAT32 benchmark image (bench/fat/make-image.sh,
// 100,000 files) through the operations layer as the windows drive it (KXUIController: enumerated
// device, scan worker, ticks, recovery worker, notifications on a main-thread queue), against
// `brelvox-scan --quick --recover` and `tsk_recover` on the same image, in the same run.
//
// Makes the image once (kept in the given folder), warms the page cache, then times round after
// round and reports the medians:
//  - tsk_recover IMAGE DIR (deleted files only, its default);
//  - brelvox-scan --quick --recover DIR IMAGE, as a process;
//  - the operations layer in this process, scan and recovery;
//  - the driver's session in this process (scan and recovery), for the same work without windows;
// the two in-process runs with the tree builder's fixed 1 s pause on its first publish injected to
// zero, the process runs with it. Every run's copies are counted and checked against tsk_recover's.
// Usage: bridge_recover [folder for the image] [files] [rounds]
//        bridge_recover --smoke FOLDER   (the test run's check: 300 files, no peers)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BridgeBench.h"
#include "QuickBench.h"
#include "brelvox-scan/ScanSession.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/Utility/IFilesystemNode.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "platform/foundation/MainThreadQueue.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using quickbench::Median;
using quickbench::QuietStdout;
using quickbench::Seconds;
using quickbench::TimeCommand;
using bridgebench::ImageEnumerator;
using bridgebench::MainThread;
using bridgebench::MakeImage;

size_t CountFiles(const fs::path& folder) {
    size_t n = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) ++n;
    return n;
}

struct BridgeRun {
    double scan = -1, recover = -1;
    u64 copied = 0, failed = 0, skipped = 0;
};

// Scan and recovery through the controller, as the result window drives them.
BridgeRun ThroughTheController(const std::string& image, const fs::path& dest) {
    BridgeRun run;
    QuietStdout quiet;
    MainThread main;
    KXUIDeviceData::Config config;
    config.enumerator = [image]() -> std::unique_ptr<IEnumDeviceEx> { return std::make_unique<ImageEnumerator>(image); };
    KXUIDeviceData::instance().Configure(config);
    if (!KXUIDeviceData::instance().InitDeviceInfo()) return run;
    KXUIController::initFileType();
    KXUIController::SetRecoveryType(127);

    const auto start = Clock::now();
    if (!KXUIController::DoScanWithDiskIndex(0, 0, "NormalScranValue")) return run;
    main.RunUntil([] { return !KXUIController::IsScanRunning() && !KXUIController::IsScanWorkerAlive(); });
    const auto scanned = Clock::now();
    // Ticking the roots ticks everything below them.
    for (IFilesystemNode* root : KXUIScan::instance().GetFileSystemNode()) root->SetCheck(CHECKED_ALL);
    int count = 0;
    u64 size = 0;
    KXUIController::GetSelectedFilesAmout(&count, &size);
    static const int list = 0;
    if (KXUIController::DoRecovery(&list, dest.string(), "DoRecovery") != 0) return run;
    main.RunUntil([] { return !KXUIController::IsRecoveryRunning() && !KXUIController::IsRecoveryWorkerAlive(); });
    const auto recovered = Clock::now();
    KXUIController::JoinWorkers();
    run.scan = Seconds(scanned - start);
    run.recover = Seconds(recovered - scanned);
    run.copied = KXUIController::GetRecoveridedFiles();
    run.failed = KXUIController::GetRecoveryFailedFiles();
    run.skipped = KXUIController::GetRecoverySkippedFiles();
    return run;
}

// The driver's session: the same scan and recovery without windows.
double DriverSession(const std::string& image, const fs::path& dest, int& copied) {
    QuietStdout quiet;
    scan::Options options;
    options.quick = true;
    options.source = image;
    options.recoverDir = dest.string();
    const auto start = Clock::now();
    scan::ScanSession session(options);
    std::string reason;
    scan::RecoverCounts counts;
    if (!session.Run(reason) || !session.Recover(counts, reason)) {
        std::fprintf(stderr, "driver session: %s\n", reason.c_str());
        return -1;
    }
    copied = counts.copied;
    return Seconds(Clock::now() - start);
}

// The test run's check: a small image, made anew, scanned and recovered through the controller; the
// same copies as the driver's session.
int Smoke(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    fs::remove(folder / "fat32-bench-300.img", ec);
    const std::string image = MakeImage(folder, 300);
    if (image.empty()) return 1;
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    const fs::path dest = folder / "smoke-recovered";
    fs::remove_all(dest, ec);
    const BridgeRun run = ThroughTheController(image, dest / "controller");
    int sessionCopied = 0;
    const double session = DriverSession(image, dest / "session", sessionCopied);
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, nullptr);
    const size_t written = CountFiles(dest / "controller");
    fs::remove_all(dest, ec);
    std::printf("smoke: controller scan %.3f s, recovery %.3f s: copied %llu, failed %llu, skipped %llu, %zu files; "
                "driver session %.3f s: %d files\n",
                run.scan, run.recover, (unsigned long long)run.copied, (unsigned long long)run.failed,
                (unsigned long long)run.skipped, written, session, sessionCopied);
    const bool ok = run.scan >= 0 && run.copied > 0 && run.failed == 0 && run.copied == written &&
                    int(run.copied) == sessionCopied;
    if (!ok) std::fprintf(stderr, "smoke run failed\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--smoke") == 0) return Smoke(argv[2]);
    const fs::path folder = argc > 1 ? argv[1] : fs::temp_directory_path();
    const int files = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 3);
    const std::string image = MakeImage(folder, files);
    if (image.empty()) return 1;
    const std::string driver = fs::canonical("/proc/self/exe").parent_path().string() + "/../../tools/brelvox-scan";
    TimeCommand("cat '" + image + "' > /dev/null");  // page cache warm

    std::vector<double> tsk, process, bridge, paused, bridgeScan, bridgeRecover, session;
    size_t tskFiles = 0, processFiles = 0;
    BridgeRun last;
    int sessionCopied = 0;
    for (int r = 0; r < rounds; ++r) {
        const fs::path out = folder / "bridge-bench-out";
        fs::remove_all(out);
        tsk.push_back(TimeCommand("tsk_recover '" + image + "' '" + (out / "tsk").string() + "' > /dev/null 2>&1"));
        tskFiles = CountFiles(out / "tsk");
        process.push_back(TimeCommand("'" + driver + "' --quick --recover '" + (out / "driver").string() + "' '" +
                                      image + "' > /dev/null 2>&1"));
        processFiles = CountFiles(out / "driver");
        // As the product runs: with the tree builder's publish pause.
        const BridgeRun product = ThroughTheController(image, out / "bridge-product");
        paused.push_back(product.scan < 0 ? -1 : product.scan + product.recover);
        CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
        last = ThroughTheController(image, out / "bridge");
        session.push_back(DriverSession(image, out / "session", sessionCopied));
        CDirectoryTreeBuilder::SetDefaultClock(nullptr, nullptr);
        bridge.push_back(last.scan < 0 ? -1 : last.scan + last.recover);
        bridgeScan.push_back(last.scan);
        bridgeRecover.push_back(last.recover);
        fs::remove_all(out);
    }
    const double t = Median(tsk), p = Median(process), b = Median(bridge), s = Median(session), q = Median(paused);
    std::printf("%s, %d files, median of %d rounds\n", image.c_str(), files, rounds);
    std::printf("tsk_recover:                                     %.3f s  (%zu files)\n", t, tskFiles);
    std::printf("brelvox-scan --quick --recover, whole process:   %.3f s  (%zu files)\n", p, processFiles);
    std::printf("KXUIController in-process, as the product runs: %.3f s  (controller / driver process = %.2f)\n", q,
                q / p);
    std::printf("driver session in-process, no publish pause:     %.3f s  (%d files)\n", s, sessionCopied);
    std::printf("KXUIController in-process, no publish pause:     %.3f s  (controller / driver session = %.2f; scan "
                "%.3f s with its 0.080 s start pause, recovery %.3f s; %llu copied, %llu failed, %llu skipped)\n",
                b, b / s, Median(bridgeScan), Median(bridgeRecover), (unsigned long long)last.copied,
                (unsigned long long)last.failed, (unsigned long long)last.skipped);
    std::printf("tsk_recover / controller as the product runs = %.2f\n", t / q);
    return 0;
}
