// Quick HFS+ scan of a journaled volume with 100,000 files, against `fls -r -p` on the same image (see
// bench/support/QuickBench.h).
//
// The image is made once, by this program called as "hfsplus_quick --make IMAGE FILES", with the
// test-side HFS+ writer, and kept in the given folder: FILES small files in folders of 200, 512-byte
// allocation blocks, 8 KiB catalog nodes, and one folder in a hundred deleted (its records only in the
// journal).
// Usage: hfsplus_quick [folder for the image] [files] [rounds]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchVolume.h"
#include "QuickBench.h"
#include "engine/HFSPlusSearch/HFSPlusQuickSearcher.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

namespace {

bool MakeImage(const std::string& path, int files) {
    try {
        const std::vector<u8> image = benchhfs::BenchVolume(files);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        return bool(out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--make") return MakeImage(argv[2], std::atoi(argv[3])) ? 0 : 1;
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    return RunQuickBench({"hfsplus-bench-", "'" + self + "' --make", CreateHFSPlusQuickSearcher, FILE_SYSTEM_HFSPLUS,
                          "quick HFS+ searcher"},
                         argc, argv);
}
