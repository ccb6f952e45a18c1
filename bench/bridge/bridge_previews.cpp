// Thumbnails of deleted camera JPEGs through the operations layer, as the result window's grid asks for
// them (KXUIController::GetNSImageByFildNode with the windows' decoder, one picture after another),
// against ImageMagick's `mogrify -thumbnail 192x192` of the same files, in the same run.
//
// The pictures are the JPEGs of bench/raw/make-pool.sh (60), COPIES copies of each (10), deleted from a
// FAT32 image (make-previews-image.sh) that is quick-scanned through the controller once; then each
// round asks for every deleted picture's thumbnail, and mogrify makes the thumbnails of the same
// files (staged once in a folder) into another folder, with its default threads and with one thread.
// The page cache is warm for both. Prints pictures per second, the medians and the ratios.
// Usage: bridge_previews [folder] [copies] [rounds]
//        bridge_previews --smoke FOLDER   (the test run's check: the preview fixture's camera JPEG, no peer)
#include <QCoreApplication>
#include <QImage>
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
#include "bridge/Controller/KXUIController.h"
#include "bridge/Device/KXUIDeviceData.h"
#include "bridge/Preview/IImageDecoder.h"
#include "bridge/Preview/Previews.h"
#include "bridge/Scan/KXUIScan.h"
#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/Utility/IFileNode.h"
#include "ui/kit/ImageDecoder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bridgebench::ImageEnumerator;
using bridgebench::MainThread;
using quickbench::Median;
using quickbench::QuietStdout;
using quickbench::Seconds;
using quickbench::TimeCommand;

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// The deleted JPEGs the scan found.
std::vector<IFileNode*> DeletedJpegs() {
    std::vector<IFileNode*> nodes;
    for (const auto& [category, list] : KXUIScan::instance().GetTypeMap())
        for (IFileNode* node : list)
            if (node->IsDeleted() && node->GetFileSize() > 0 && preview::NodeExtension(node).value_or("") == "jpg")
                nodes.push_back(node);
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    return nodes;
}

struct Thumbnails {
    double seconds = -1;
    size_t made = 0;      // decoded pictures within 192 x 192
    size_t embedded = 0;  // of those, the camera's own thumbnail (by its size)
};

// The pool's cameras carry a 160 x 120 thumbnail, the fixture's a 160 x 107 one.
Thumbnails Grid(const std::vector<IFileNode*>& nodes, QSize embeddedSize = QSize(160, 120)) {
    Thumbnails run;
    const auto start = Clock::now();
    for (IFileNode* node : nodes) {
        const QImage image = kit::ImageDecoder::ImageOf(KXUIController::GetNSImageByFildNode(node));
        if (image.isNull() || image.width() > 192 || image.height() > 192) continue;
        ++run.made;
        if (image.size() == embeddedSize) ++run.embedded;
    }
    run.seconds = Seconds(Clock::now() - start);
    return run;
}

// Scans the image through the controller and leaves its results in place; false when it did not run.
bool Scan(const std::string& image) {
    QuietStdout quiet;
    MainThread main;
    KXUIDeviceData::Config config;
    config.enumerator = [image]() -> std::unique_ptr<IEnumDeviceEx> { return std::make_unique<ImageEnumerator>(image); };
    KXUIDeviceData::instance().Configure(config);
    if (!KXUIDeviceData::instance().InitDeviceInfo()) return false;
    KXUIController::initFileType();
    KXUIController::SetRecoveryType(127);
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, [](int) {});
    const bool started = KXUIController::DoScanWithDiskIndex(0, 0, "NormalScranValue");
    if (started)
        main.RunUntil([] { return !KXUIController::IsScanRunning() && !KXUIController::IsScanWorkerAlive(); });
    KXUIController::JoinWorkers();
    CDirectoryTreeBuilder::SetDefaultClock(nullptr, nullptr);
    return started;
}

std::string MakeImage(const fs::path& folder, const fs::path& pool, int copies) {
    const fs::path image = folder / ("previews-" + std::to_string(copies) + ".img");
    if (fs::exists(image)) return image.string();
    const std::string script = std::string(BRELVOX_BENCH_BRIDGE_DIR) + "/make-previews-image.sh";
    const std::string make = Quoted(script) + " " + Quoted(image) + " " + Quoted(pool) + " " + std::to_string(copies);
    if (std::system(make.c_str()) == 0) return image.string();
    fs::remove(image);
    return {};
}

// The test run's check: the fixture's camera JPEG three times on a small image, each deleted copy's
// thumbnail its embedded one (read from its first 64 KiB).
int Smoke(const fs::path& folder) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    const fs::path pool = folder / "pool";
    fs::create_directories(pool);
    const fs::path fixture = fs::path(BRELVOX_BENCH_FIXTURES_DIR) / "previews" / "previews.img.xz";
    const std::string extract = "xz -dc " + Quoted(fixture) + " > " + Quoted(folder / "fixture.img") +
                                " && MTOOLS_SKIP_CHECK=1 mcopy -i " + Quoted(folder / "fixture.img") +
                                " ::/DCIM/IMG_0001.JPG " + Quoted(pool / "camera.jpg");
    if (std::system(extract.c_str()) != 0) return 1;
    const std::string image = MakeImage(folder, pool, 3);
    if (image.empty() || !Scan(image)) return 1;
    const std::vector<IFileNode*> nodes = DeletedJpegs();
    const Thumbnails run = Grid(nodes, QSize(160, 107));
    std::printf("smoke: %zu deleted pictures, %zu thumbnails (%zu embedded) in %.3f s\n", nodes.size(), run.made,
                run.embedded, run.seconds);
    fs::remove_all(folder, ec);
    const bool ok = nodes.size() == 3 && run.made == 3 && run.embedded == 3;
    if (!ok) std::fprintf(stderr, "smoke run failed\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    kit::ImageDecoder decoder;
    SetImageDecoder(&decoder);
    if (argc > 2 && std::strcmp(argv[1], "--smoke") == 0) return Smoke(argv[2]);

    const fs::path folder = argc > 1 ? argv[1] : fs::temp_directory_path() / "brelvox-bench-previews";
    const int copies = std::max(1, argc > 2 ? std::atoi(argv[2]) : 10);
    const int rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 3);
    fs::create_directories(folder);
    const fs::path pool = folder / "pool";
    const std::string makePool = std::string(BRELVOX_BENCH_RAW_DIR) + "/make-pool.sh " + Quoted(pool);
    if (std::system(makePool.c_str()) != 0) return 1;
    const std::string image = MakeImage(folder, pool, copies);
    if (image.empty()) return 1;

    // mogrify's input: the same pictures, copy N of p001.jpg named cN-p001.jpg.
    const fs::path staged = folder / "mogrify-in";
    std::vector<fs::path> jpegs;
    for (const auto& entry : fs::directory_iterator(pool))
        if (entry.path().extension() == ".jpg") jpegs.push_back(entry.path());
    fs::remove_all(staged);
    fs::create_directories(staged);
    for (int n = 0; n < copies; ++n)
        for (const fs::path& jpeg : jpegs)
            fs::copy_file(jpeg, staged / ("c" + std::to_string(n) + "-" + jpeg.filename().string()));
    const size_t pictures = jpegs.size() * size_t(copies);

    if (!Scan(image)) return 1;
    const std::vector<IFileNode*> nodes = DeletedJpegs();
    TimeCommand("cat " + Quoted(image) + " > /dev/null");  // page cache warm
    Grid(nodes);                                            // and the decoder's plugin loaded

    const fs::path out = folder / "mogrify-out";
    const std::string mogrify = "mogrify -path " + Quoted(out) + " -thumbnail 192x192 " + Quoted(staged) + "/*.jpg";
    std::vector<double> grid, magick, magickOne;
    Thumbnails last;
    for (int r = 0; r < rounds; ++r) {
        last = Grid(nodes);
        grid.push_back(last.seconds);
        fs::remove_all(out);
        fs::create_directories(out);
        magick.push_back(TimeCommand(mogrify));
        fs::remove_all(out);
        fs::create_directories(out);
        magickOne.push_back(TimeCommand("MAGICK_THREAD_LIMIT=1 " + mogrify));
    }
    size_t written = 0;
    for (const auto& entry : fs::directory_iterator(out)) written += entry.is_regular_file();
    fs::remove_all(out);
    fs::remove_all(staged);

    const double g = Median(grid), m = Median(magick), m1 = Median(magickOne);
    std::printf("%s: %zu pictures (%zu JPEGs x %d), %zu deleted pictures found, median of %d rounds\n", image.c_str(),
                pictures, jpegs.size(), copies, nodes.size(), rounds);
    std::printf("GetNSImageByFildNode, one after another:   %.3f s  %.1f pictures/s  (%zu thumbnails, %zu of them the "
                "camera's own)\n",
                g, double(nodes.size()) / g, last.made, last.embedded);
    std::printf("mogrify -thumbnail 192x192:                %.3f s  %.1f pictures/s  (%zu written)\n", m,
                double(pictures) / m, written);
    std::printf("mogrify -thumbnail 192x192, one thread:    %.3f s  %.1f pictures/s\n", m1, double(pictures) / m1);
    std::printf("mogrify / controller = %.2f (one thread: %.2f)\n", m / g, m1 / g);
    return last.made == nodes.size() && nodes.size() == pictures ? 0 : 1;
}
