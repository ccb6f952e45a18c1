// NTFS mapping pairs (the data runs of a non-resident attribute): the validity test, the decoding into
// run lists, the lookups made on a list, the list of a found file, and its compact form kept in saved
// results, which must give the same runs back.
//   bytes 0-7: the first VCN of the attribute (little-endian); then the pairs.
#include <cstring>
#include <memory>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSDataRunLists.h"
#include "fuzz/support/FuzzTarget.h"

namespace {

constexpr size_t kHeader = 8;

// The runs of a list, a start without a place on the volume (negative) as -1.
std::vector<DataRun> Runs(IDataRunList* list) {
    std::vector<DataRun> out;
    for (DataRun* r = list->GetFirst(); r != nullptr; r = list->GetNext()) {
        out.push_back({r->start < 0 ? -1 : r->start, r->length});
    }
    return out;
}

}  // namespace

BRELVOX_FUZZ_TARGET(kHeader + 1024) {
    if (size < kHeader) return;
    const i64 startVcn = static_cast<i64>(ByteReader(data, size).Le64(0).value_or(0));
    const int length = static_cast<int>(size - kHeader);
    auto pairs = std::make_unique<u8[]>(size - kHeader);
    if (length != 0) std::memcpy(pairs.get(), data + kHeader, size - kHeader);

    CNTFSDataRunList::IsValid(pairs.get(), length);
    std::vector<CDataRun> decoded;
    CNTFSDataRunList::FormDataRunList(pairs.get(), length, decoded);
    CNTFSDataRunList::GetTotalClusters(pairs.get(), length);

    CNTFSDataRunList list;
    if (list.InitFromBuffer(pairs.get(), length)) {
        const i64 total = list.GetTotalClusters();
        for (i64 vcn : {i64{0}, total / 2, total - 1, total, startVcn}) list.GetLCN(vcn);
        for (const CDataRun& run : list.Runs()) {
            list.GetVCN(run.lcn);
            list.IsLCNContained(run.lcn);
        }
        const bool added = list.AddDataRunsfromBuffer(pairs.get(), length, startVcn);
        FUZZ_CHECK(!added || startVcn >= 0);  // a negative first VCN is refused
        list.Sort();
        for (i64 vcn : {i64{0}, startVcn, startVcn + 1}) list.GetLCN(vcn);
    }

    auto* file = new CNoneResidentNTFSDataRunList;
    file->InitFromBuffer(pairs.get(), length);
    const std::vector<DataRun> runs = Runs(file);
    if (std::unique_ptr<CCompressedDataRunList> compact{CCompressedDataRunList::Compress(file)}) {
        IDataRunList* back = compact->Decompress();
        FUZZ_CHECK(back != nullptr);
        if (back != nullptr) {
            const std::vector<DataRun> again = Runs(back);
            FUZZ_CHECK(again.size() == runs.size());
            for (size_t i = 0; i < runs.size() && i < again.size(); ++i) {
                FUZZ_CHECK(again[i].start == runs[i].start && again[i].length == runs[i].length);
            }
            back->Release();
        }
    }
    file->Release();
}
