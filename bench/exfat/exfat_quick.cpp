// Quick exFAT scan of an image with 100,000 files in folders of 200, against `fls -r -p` on the same image:
// the image is made once through exfat-fuse (make-image.sh, as root, kept in the given folder); what is
// timed is said in QuickBench.h.
// Usage: exfat_quick [folder for the image] [files] [rounds]
#include "QuickBench.h"
#include "engine/EXFatSearch/ExFatQuickSearch.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    quickbench::Setup setup;
    setup.files = argc > 2 ? std::atoi(argv[2]) : 100000;
    setup.rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
    setup.image = (folder / ("exfat-bench-" + std::to_string(setup.files) + ".img")).string();
    setup.makeCommand =
        std::string(BRELVOX_BENCH_EXFAT_DIR) + "/make-image.sh '" + setup.image + "' " + std::to_string(setup.files);
    setup.fileSystemType = FILE_SYSTEM_EXFAT;
    setup.create = CreateEXFatQuickSearcher;
    setup.searcherName = "quick exFAT searcher";
    return quickbench::Run(setup);
}
