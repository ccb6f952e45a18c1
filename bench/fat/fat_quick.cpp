// Quick FAT scan of a FAT32 image with 100,000 files, against `fls -r -p` on the same image (see
// bench/support/QuickBench.h). Usage: fat_quick [folder for the image] [files] [rounds]
#include "QuickBench.h"
#include "engine/FATSearch/FATQuickSearcher.h"

int main(int argc, char** argv) {
    return RunQuickBench({"fat32-bench-", std::string(BRELVOX_BENCH_FAT_DIR) + "/make-image.sh", CreateFATQuickSearcher, 2,
                          "quick FAT searcher"},
                         argc, argv);
}
