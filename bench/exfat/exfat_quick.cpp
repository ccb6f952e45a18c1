// Quick exFAT scan of an image with 100,000 files, against `fls -r -p` on the same image (see
// bench/support/QuickBench.h). Making the image needs root, a loop device and FUSE (exfat-fuse).
// Usage: exfat_quick [folder for the image] [files] [rounds]
#include "QuickBench.h"
#include "engine/EXFatSearch/ExFatQuickSearch.h"

int main(int argc, char** argv) {
    return RunQuickBench({"exfat-bench-", std::string(BRELVOX_BENCH_EXFAT_DIR) + "/make-image.sh",
                          CreateEXFatQuickSearcher, 7, "quick exFAT searcher", true},
                         argc, argv);
}
