// Hostile-bytes tables: tab-separated rows "case, image, byte offset, bytes (hex)" under a header
// line; a case with several rows applies them all, to a copy of its image.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "engine/Common/Types.h"

namespace testsupport {

struct BytePatch {
    std::string image;
    u64 offset = 0;
    std::string bytes;
};

struct HostileCase {
    std::string name;
    std::vector<BytePatch> patches;
};

// The cases of a table, in the order they first appear. Throws when the file cannot be read.
std::vector<HostileCase> ReadHostileTable(const std::filesystem::path& table);
// Copies image to target and writes the patches into the copy (sparse holes stay holes).
void ApplyPatches(const std::filesystem::path& image, const std::vector<BytePatch>& patches,
                  const std::filesystem::path& target);

}  // namespace testsupport
