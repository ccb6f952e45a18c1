// The reader of NTFS files stored compressed: the file's runs (decoded from mapping pairs as the NTFS
// search decodes them) are cut into 16-cluster units, each read raw, as zeros or through LZNT1, into a
// buffer of the file's size and at an offset.
//   byte 0: bits 0-2 log2 of the sectors per cluster (512-byte sectors);
//   bytes 1-4: the file size; bytes 5-8: the offset of the second read (its low 22 bits);
//   byte 9: the length n of the mapping pairs, then n bytes of them;
//   then the volume (its sectors folded, so any cluster the runs name is in the input).
#include <algorithm>
#include <memory>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/NTFSLib/CompressFileReader.h"
#include "engine/NTFSLib/NTFSDataRunLists.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "fuzz/support/FuzzDevice.h"
#include "fuzz/support/FuzzTarget.h"
#include "support/SimpleFileNode.h"

namespace {

constexpr size_t kHeader = 10;
// The reads are capped: a file size from disk may claim far more than a test should write.
constexpr u32 kMaxRead = 1u << 20;

class CompressedNode : public testsupport::SimpleFileNode {
public:
    explicit CompressedNode(i64 size) : SimpleFileNode(1, 0, "c", false, size) { m_compressed = 1; }
};

}  // namespace

BRELVOX_FUZZ_TARGET(kHeader + 255 + 128 * 1024) {
    if (size < kHeader) return;
    const ByteReader header(data, size);
    const u32 spc = 1u << (data[0] & 7);
    const i64 fileSize = header.Le32(1).value_or(0);
    const u32 offset = header.Le32(5).value_or(0) & 0x3FFFFF;  // within 4 MiB: the reads stay short
    const size_t pairsLength = std::min<size_t>(data[9], size - kHeader);
    const u8* pairs = data + kHeader;
    const u8* volume = pairs + pairsLength;
    const size_t volumeSize = size - kHeader - pairsLength;

    auto* runs = new CNoneResidentNTFSDataRunList;
    if (!runs->InitFromBuffer(pairs, static_cast<int>(pairsLength)) || runs->GetFirst() == nullptr) {
        runs->Release();
        return;
    }
    CompressedNode node(fileSize);
    node.SetDataRunList(runs);  // the node owns it

    fuzz::FuzzDevice device(volume, volumeSize, 512, i64{1} << 22);
    CSearchedPartitionInfo partition(512);
    partition.m_sectorsPerCluster = static_cast<u8>(spc);
    partition.m_cluster0Sector = 0;
    CCompressFileReader reader;
    if (!reader.Open(&device, &node, &partition)) return;

    const u32 capacity = static_cast<u32>(std::min<i64>(fileSize, kMaxRead));
    auto whole = std::make_unique<char[]>(capacity);
    if (reader.Recovery(whole.get(), static_cast<int>(capacity), nullptr)) FUZZ_CHECK(reader.GetWrittenCount() <= capacity);
    const u32 length = 70000;
    auto part = std::make_unique<char[]>(length);
    FUZZ_CHECK(reader.ReadData(offset, part.get(), length) <= length);
}
