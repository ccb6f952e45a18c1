// The manifest of the carving corpus (tests/fixtures/raw/carving-manifest.tsv; its columns are
// described in tests/fixtures/raw/plant.py): what was planted where in carving.img.
#pragma once

#include <string>
#include <vector>

#include "engine/Common/Types.h"

namespace testsupport {

struct CarvingManifestRow {
    i64 start = 0;  // first sector of the planted file
    std::string type;
    i64 size = 0;
    std::string sha256;
    std::string name;
    std::string tagKind;
    std::string tagValue;
    std::string time;
    i64 plantedSize = 0;
    std::string path;   // where the listing and the copy put it
    std::string check;  // "exact": the copy is the planted file; "prefix": it begins with it
    bool listed = true;  // false: accepted by the scan but given no size, so never listed
};

// Every row (a row without its 12 fields is a test failure); with listedOnly, the listed rows only.
std::vector<CarvingManifestRow> ReadCarvingManifest(bool listedOnly = false);

}  // namespace testsupport
