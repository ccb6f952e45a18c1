// The HFS+ test images that the writer makes: their inputs (options and entries), shared by the
// generator of the committed fixtures (tests/fixtures/hfsplus) and by the tests, which also build them
// in memory where a committed image is not needed.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/HfsPlusWriter.h"

namespace testsupport::hfs {

// "journaled": HFS+, 4096-byte blocks, journaled; live and deleted files of every kind the quick search
// meets (compressed of the four types, also stored raw; fragmented with overflow extents; a hard link, a
// symbolic link, extended attributes), deleted ones remembered only by the journal.
// "hfsx": HFSX (binary name order), 512-byte blocks, journaled, a catalog of many small leaves under
// index nodes, the catalog file itself in ten extents (an overflow record), names differing in case.
// "plain": HFS+ without a journal, 8 KiB catalog nodes and no attributes file.
std::vector<std::string> FixtureNames();
Writer FixtureWriter(const std::string& name);

// One line per file the writer was asked for (live and deleted): what a reader must give back.
struct Planted {
    std::string path;
    u64 size = 0;
    std::string sha256;
    bool deleted = false;
    u32 compression = 0;
    bool rawStored = false;
    u32 extents = 1;
    std::string kind;  // "file", "symlink", "hardlink"
};
std::vector<Planted> PlantedFiles(const Writer& writer);
// The tab-separated fields of a line.
std::vector<std::string> SplitTabs(const std::string& line);

// "path\tsize\tsha256\tdeleted\tcompression\traw\textents\tkind" lines, and back.
std::string FormatPlanted(const std::vector<Planted>& planted);
std::vector<Planted> ParsePlanted(const std::string& text);

// The committed image "<name>.img" (tests/fixtures/hfsplus), unpacked once per test program.
std::filesystem::path FixtureImage(const std::string& name);
// Its planted list (<name>.planted.txt).
std::vector<Planted> FixturePlanted(const std::string& name);

}  // namespace testsupport::hfs
