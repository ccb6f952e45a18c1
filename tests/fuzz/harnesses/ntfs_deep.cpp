// The deep NTFS search over an image: every sector looked at for boot sectors (and their backups),
// file records (validated, unprotected, their attributes read), index blocks, log pages and the
// attribute definitions; at the end the volumes are inferred from what was found (cluster size, table
// position, sector offset), scored, and their trees built from the records and index entries. The
// input is a device image (see fuzz/support/Deep.h).
#include "engine/NTFSSearch/NTFSSearchController.h"
#include "fuzz/support/Deep.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(fuzz::kDeviceHeaderBytes + 256 * 1024) {
    fuzz::DeepScan(data, size, CreateNTFSSearcher);
}
