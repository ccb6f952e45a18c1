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

#include "QuickBench.h"
#include "engine/HFSPlusSearch/HFSPlusQuickSearcher.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/HfsPlusWriter.h"

namespace {

namespace hfs = testsupport::hfs;

bool MakeImage(const std::string& path, int files) {
    constexpr int kPerFolder = 200;
    const int folders = (files + kPerFolder - 1) / kPerFolder;
    hfs::Options options;
    options.blockSize = 512;
    options.catalogNodeSize = 8192;
    options.journaled = true;
    options.journalSize = 4 << 20;
    // Blocks: one per file, the catalog (about 420 bytes a file), the journal, and room to spare.
    options.totalBlocks = u32(files) + u32(u64(files) * 900 / 512) + (8 << 20) / 512 + 4096;
    options.volumeName = "BENCH";
    hfs::Writer writer(options);
    for (int i = 0; i < files; ++i) {
        const int folder = i / kPerFolder;
        char name[96];
        std::snprintf(name, sizeof name, "tree/folder %04d/a file with a long name %06d.txt", folder, i);
        hfs::Entry e;
        e.path = name;
        e.data = "content of file " + std::to_string(i) + "\n";
        e.deleted = folder % 100 == 0;
        writer.Add(std::move(e));
    }
    for (int folder = 0; folder < folders; folder += 100) {
        hfs::Entry e;
        e.kind = hfs::Entry::Kind::Folder;
        char name[48];
        std::snprintf(name, sizeof name, "tree/folder %04d", folder);
        e.path = name;
        e.deleted = true;
        writer.Add(std::move(e));
    }
    try {
        const std::vector<u8> image = writer.Build();
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
