// An HFS+ volume as the quick HFS+ search reads it: the volume header (and its alternate), the
// journal replayed over the metadata, the B-tree header and index/leaf nodes of the extents, catalog
// and attributes files, the deleted records found in their free space; then the compressed files it
// listed read back through their decmpfs attribute or resource fork (a bounded read each).
// The input is a device image (see fuzz/support/FuzzDevice.h for its two header bytes) whose sectors
// fold onto the input, so the B-tree nodes and the journal can lie at any block the header names.
#include <algorithm>
#include <memory>
#include <vector>

#include "engine/Common/IQuickFileSystemSearchController.h"
#include "engine/HFSPlusSearch/HFSPlusQuickSearcher.h"
#include "engine/Utility/IFileNode.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"
#include "fuzz/support/NodeSink.h"

BRELVOX_FUZZ_TARGET(fuzz::kDeviceHeaderBytes + 256 * 1024) {
    fuzz::DeviceInput in;
    if (!fuzz::ReadDeviceHeader(data, size, in)) return;
    fuzz::FuzzDevice device(in.image, in.imageSize, in.sectorSize, in.totalSectors);
    device.SetVolumeRecord(FILE_SYSTEM_HFSPLUS);

    fuzz::NodeSink sink;
    const auto searcher = fuzz::QuickSearch(CreateHFSPlusQuickSearcher(), device, sink);

    // The compressed files read back while the searcher (and so the volume) lives.
    std::vector<char> out(64 * 1024);
    int read = 0;
    for (IFileNode* node : sink.Nodes()) {
        if (read == 8) break;
        if (!node->IsCompressed()) continue;
        IFileReader* reader = node->CreateCompressFileReader(nullptr);
        if (reader == nullptr) continue;
        ++read;
        for (i64 offset : {i64{0}, i64{70000}}) {
            const u32 got = reader->ReadData(offset, out.data(), static_cast<u32>(out.size()), nullptr);
            FUZZ_CHECK(got <= out.size());
        }
        reader->Release();
    }
}
