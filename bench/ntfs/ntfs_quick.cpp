// Quick NTFS scan of an image with 100,000 files, against `fls -r -p` on the same image (see
// bench/support/QuickBench.h). Making the image needs root and FUSE (ntfs-3g).
// Usage: ntfs_quick [folder for the image] [files] [rounds]
#include "QuickBench.h"
#include "engine/NTFSSearch/NTFSQuickSearch.h"

int main(int argc, char** argv) {
    return RunQuickBench({"ntfs-bench-", std::string(BRELVOX_BENCH_NTFS_DIR) + "/make-image.sh",
                          CreateNTFSQuickSearcher, 3, "quick NTFS searcher", true},
                         argc, argv);
}
