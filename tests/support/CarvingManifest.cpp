#include "support/CarvingManifest.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace testsupport {

namespace {

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t')) fields.push_back(field);
    if (!line.empty() && line.back() == '\t') fields.emplace_back();
    return fields;
}

}  // namespace

std::vector<CarvingManifestRow> ReadCarvingManifest(bool listedOnly) {
    std::vector<CarvingManifestRow> rows;
    std::istringstream in(ReadFile(FixturePath("raw/carving-manifest.tsv")));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto f = Fields(line);
        if (f.size() != 12) {
            ADD_FAILURE() << "manifest row without 12 fields: " << line;
            continue;
        }
        const bool listed = f[11] == "1";
        if (listedOnly && !listed) continue;
        rows.push_back({std::stoll(f[0]), f[1], std::stoll(f[2]), f[3], f[4], f[5], f[6], f[7], std::stoll(f[8]), f[9],
                        f[10], listed});
    }
    return rows;
}

}  // namespace testsupport
