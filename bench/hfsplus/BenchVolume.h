// The benchmarks' HFS+ volume, made by the test-side writer: FILES small files in folders of 200,
// 512-byte allocation blocks, 8 KiB catalog nodes, journaled, and one folder in a hundred deleted (its
// records only in the journal).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "support/HfsPlusWriter.h"

namespace benchhfs {

namespace hfs = testsupport::hfs;

// The volume's bytes; throws what the writer throws.
inline std::vector<u8> BenchVolume(int files) {
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
    return writer.Build();
}

}  // namespace benchhfs
