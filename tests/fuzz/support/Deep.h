// A deep searcher (one of the file-system searches of the deep scan) over an image in memory, fed as
// the recovery controller feeds it: its device set, PreparetoSearch, every block of the input in
// order, EndSearch(1) (the found volumes chosen and their trees built), then the copies of what it
// found. A deep search's harness calls this with its searcher's factory.
#pragma once

#include <cstddef>
#include <cstdint>

class ICompleteFileSystemSearchController;

namespace fuzz {

// The input: the two bytes of fuzz/support/FuzzDevice.h (byte 0 bits 1-2 also choose the block of 8,
// 32, 128 or 512 sectors), then the image. The device folds onto the image and may claim more sectors
// than it has (what a found volume's fields name past the input reads the sector it folds to); only
// the input's own sectors are fed to the search.
// The searcher is made by `create` and destroyed before the device and the nodes it handed over.
void DeepScan(const uint8_t* data, size_t size, ICompleteFileSystemSearchController* (*create)());

}  // namespace fuzz
