// The compressed-NTFS fixture (tests/fixtures/ntfs-compressed): an NTFS volume image whose files
// ntfs-3g stored compressed, with each file's size, SHA-256 and data runs as recorded by its
// generator script.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "engine/Common/Types.h"

namespace testsupport {

struct FixtureRun {
    i64 lcn;  // -1 for a hole
    i64 length;
};

struct FixtureFile {
    std::string name;
    i64 size = 0;
    std::string sha256;
    i64 inode = -1;  // its file record
    std::vector<FixtureRun> runs;
};

struct CompressedNtfsFixture {
    std::filesystem::path image;  // the unpacked image
    u32 clusterSize = 0;
    std::vector<FixtureFile> files;

    const FixtureFile& File(const std::string& name) const;
};

// Unpacks the image into dir and reads expected.txt. Throws on failure.
CompressedNtfsFixture LoadCompressedNtfsFixture(const std::filesystem::path& dir);

}  // namespace testsupport
