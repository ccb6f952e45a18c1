// NTFS index blocks ("INDX") and log record pages ("RCRD"): the header tests, the update-sequence
// protection and the entry walk, on a block in memory of exactly its size. The validity test must
// leave the block as it found it.
#include <cstring>
#include <memory>

#include "engine/NTFSLib/NTFSIndexRecord.h"
#include "fuzz/support/FuzzTarget.h"

namespace {

std::unique_ptr<u8[]> Copy(const uint8_t* data, size_t size) {
    auto copy = std::make_unique<u8[]>(size);
    if (size != 0) std::memcpy(copy.get(), data, size);
    return copy;
}

}  // namespace

BRELVOX_FUZZ_TARGET(16 * 1024) {
    const u32 length = static_cast<u32>(size);
    auto block = Copy(data, size);
    CIndexRecord::IsValid(block.get(), length);
    FUZZ_CHECK(size == 0 || std::memcmp(block.get(), data, size) == 0);
    CIndexRecord::GetParentFileReference(block.get(), length);
    FUZZ_CHECK(size == 0 || std::memcmp(block.get(), data, size) == 0);
    volatile u64 fields = CStandardIndexHeader::GetOffsetofIndexEntries(block.get(), length) +
                          CStandardIndexHeader::GetSizeofIndexEntries(block.get(), length) +
                          static_cast<u64>(CIndexRecord::GetVCN(block.get(), length)) +
                          static_cast<u64>(CIndexRecord::GetLogFileSequenceNumber(block.get(), length));
    (void)fields;
    if (CStandardIndexHeader::IsValid(block.get(), length) && CIndexRecord::UnfixupIndexRecord(block.get(), length)) {
        CIndexRecord::CheckIndexEntries(block.get(), length);
    }

    auto page = Copy(data, size);
    CRCRDRecord::IsValidRCRDRecordFirstSector(page.get(), length);
    if (CRCRDRecord::Unfixup(page.get(), length)) {
        const u8* head = nullptr;
        CRCRDRecord::GetRecordHead(page.get(), length, &head);
        CRCRDRecord::GetOperationRecordHeader(page.get(), length, &head);
    }
}
