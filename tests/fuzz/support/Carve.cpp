#include "fuzz/support/Carve.h"

#include <algorithm>

#include "engine/RAWSearch/Controller/RAWSearchController.h"
#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Core/SignatureTable.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/NodeSink.h"

namespace fuzz {

void Carve(const uint8_t* data, size_t size, std::initializer_list<std::string_view> analysers) {
    if (size < kCarveHeaderBytes) return;
    const u32 sectorSize = (data[0] & 1) != 0 ? 4096 : 512;
    const int blockSectors = 8 << (2 * ((data[0] >> 1) & 3));
    const uint8_t* image = data + kCarveHeaderBytes;
    const size_t imageSize = size - kCarveHeaderBytes;
    const i64 sectors = static_cast<i64>((imageSize + sectorSize - 1) / sectorSize) + 8;
    PiecesDevice device({{0, image, imageSize}}, sectorSize, sectors, STORAGE_DEVICE_DISK);

    auto wanted = [&](const RawSignatureRow& row) {
        return row.create != nullptr &&
               std::find(analysers.begin(), analysers.end(), std::string_view(row.analyser)) != analysers.end();
    };
    RawAnalyserMap map;
    RawAnalyserMultimap multimap;
    RawAnalyserList list;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (!wanted(row)) continue;
        switch (row.kind) {
            case RawTableKind::Map: {
                IRawFileAnalyser*& slot = map[RawMapKey(reinterpret_cast<const unsigned char*>(row.key))];
                delete slot;
                slot = row.create();
                break;
            }
            case RawTableKind::Multimap:
                multimap.emplace(RawMultimapKey(reinterpret_cast<const unsigned char*>(row.key)), row.create());
                break;
            case RawTableKind::List:
                list.push_back(row.create());
                break;
        }
    }

    NodeSink sink;
    {
        CRAWSearchController search;
        search.SetAnalyserTables(&map, &multimap, &list);
        search.SetDevice(&device);
        search.SetBlockSize(blockSectors);
        search.SetDirecotryTreeBuilder(&sink);
        if (search.PreparetoSearch() == 1) {
            for (i64 s = 0; s < sectors; s += blockSectors) search.AnalyzeBlock(s, std::min<i64>(blockSectors, sectors - s));
            search.EndSearch(1);
        }
    }
    CRawFileAnalyserListSingle::ClearMapContents(map);
    CRawFileAnalyserListSingle::ClearMultiMapContents(multimap);
    CRawFileAnalyserListSingle::ClearListContents(list);
}

}  // namespace fuzz
