// The deep FAT search over an image: every sector looked at for boot sectors, FS information sectors,
// allocation tables and folder clusters (their dot entries and names); at the end the volumes are
// inferred from what was found (with or without a boot sector), scored, and their trees built by
// reading the folders and chains they name. The input is a device image (see fuzz/support/Deep.h).
#include "engine/FATSearch/FATCompleteFSearcher.h"
#include "fuzz/support/Deep.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(fuzz::kDeviceHeaderBytes + 256 * 1024) {
    fuzz::DeepScan(data, size, CreateFATSearcher);
}
