// APFS as the deep scan reads it: object headers (checksum, type) of every block of the input; a
// container superblock opens a container whose checkpoint, object maps, volume superblocks and
// file-system trees are walked; a volume superblock met first opens a volume on its own; every other
// plausible block is offered to the containers, whose records (inodes, directory entries, extents,
// extended fields) become nodes, linked to their folders when the range is flushed.
// The input is a device image (see fuzz/support/FuzzDevice.h for its two header bytes) whose sectors
// fold onto the input: the blocks of the input are scanned, and an address past them reads the block
// it folds to, so a small input can hold a container of any size.
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/NodeSink.h"
#include "support/ApfsBlockScan.h"

BRELVOX_FUZZ_TARGET(fuzz::kDeviceHeaderBytes + 640 * 1024) {
    fuzz::DeviceInput in;
    if (!fuzz::ReadDeviceHeader(data, size, in)) return;
    fuzz::FuzzDevice device(in.image, in.imageSize, in.sectorSize, in.totalSectors, STORAGE_DEVICE_DISK);
    fuzz::NodeSink sink;  // outlives the containers, which hand it their nodes
    testsupport::ApfsBlockScan scan(&device, &sink);
    const u64 inputSectors = (in.imageSize + in.sectorSize - 1) / in.sectorSize;
    // Two ranges, so that a flush between them sees records whose folder comes later.
    const u64 half = inputSectors / 2;
    scan.AnalyzeRange(0, half);
    scan.AnalyzeRange(half, inputSectors - half);
    scan.Finish();
}
