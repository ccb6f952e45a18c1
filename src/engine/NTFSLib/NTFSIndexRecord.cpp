#include "engine/NTFSLib/NTFSIndexRecord.h"

#include <algorithm>

#include "engine/Common/ByteReader.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSLib/NTFSUpdateSequence.h"

using namespace ntfs;

namespace {

u32 IndexStrides(const u8* buf, u32 size) {
    const ByteReader r(buf, size);
    const u32 count = r.Le16(indx::kUsaCount).value_or(0);
    if (count < 1) return 0;
    return ProtectedStrides(size, r.Le16(indx::kUsaOffset).value_or(0), count - 1);
}

u32 IndexUsaOffset(const u8* buf, u32 size) { return ByteReader(buf, size).Le16(indx::kUsaOffset).value_or(0); }

}  // namespace

bool CStandardIndexHeader::IsValidMagicNumber(const u8* buf, u32 size) { return ByteReader(buf, size).Equals(0, "INDX"); }

bool CStandardIndexHeader::IsValid(const u8* buf, u32 size) {
    const ByteReader r(buf, size);
    if (!IsValidMagicNumber(buf, size)) return false;
    const u32 allocated = r.Le32(indx::kEntriesAllocated).value_or(0xFFFFFFFF);
    const u32 inUse = r.Le32(indx::kEntriesInUse).value_or(0xFFFFFFFF);
    if (allocated > size || inUse > allocated) return false;
    const u32 count = r.Le16(indx::kUsaCount).value_or(0);
    if (count > 16 || count == 0 || count - 1 > size / 512) return false;
    const u64 first = r.Le32(indx::kEntriesOffset).value_or(0);
    if (count - 1 != (((u64{allocated} + first) >> 9) & 0xFFFF)) return false;
    const u32 offset = r.Le16(indx::kUsaOffset).value_or(0);
    return offset >= indx::kMinUsaOffset && offset <= indx::kMaxUsaOffset;
}

u64 CStandardIndexHeader::GetOffsetofIndexEntries(const u8* buf, u32 size) {
    return u64{ByteReader(buf, size).Le32(indx::kEntriesOffset).value_or(0)} + indx::kEntriesBase;
}
u32 CStandardIndexHeader::GetSizeofIndexEntries(const u8* buf, u32 size) {
    return ByteReader(buf, size).Le32(indx::kEntriesInUse).value_or(0);
}
i64 CStandardIndexHeader::GetVCN(const u8* buf, u32 size) { return i64(ByteReader(buf, size).Le64(indx::kVcn).value_or(0)); }
i64 CStandardIndexHeader::GetLogFileSequenceNumber(const u8* buf, u32 size) {
    return i64(ByteReader(buf, size).Le64(indx::kLogSequence).value_or(0));
}

bool CIndexRecord::IsValidEntry(const u8* e, u32 size) {
    const ByteReader r(e, size);
    const auto real = r.Le64(entry::kRealSize);
    const auto allocated = r.Le64(entry::kAllocatedSize);
    return real && allocated && i64(*real) <= i64(*allocated);
}

bool CIndexRecord::IsValidUpdateSequence(const u8* buf, u32 size) {
    return SequenceMatches(buf, size, IndexUsaOffset(buf, size), IndexStrides(buf, size));
}

bool CIndexRecord::UnfixupIndexRecord(u8* buf, u32 size) {
    if (!IsValidUpdateSequence(buf, size)) return false;
    UndoProtection(buf, size, IndexUsaOffset(buf, size), IndexStrides(buf, size));
    return true;
}

bool CIndexRecord::FixupIndexRecord(u8* buf, u32 size) {
    RedoProtection(buf, size, IndexUsaOffset(buf, size), IndexStrides(buf, size));
    return true;
}

bool CIndexRecord::CheckIndexEntries(const u8* buf, u32 size) {
    const ByteReader r(buf, size);
    const u64 first = CStandardIndexHeader::GetOffsetofIndexEntries(buf, size);
    // A first entry outside the block is damage, not a place to read.
    if (first >= size) return false;
    const auto reference = r.Le64(first + entry::kParent);
    if (!reference) return false;
    const u64 end = std::min<u64>(first + CStandardIndexHeader::GetSizeofIndexEntries(buf, size), size);
    for (u64 at = first; at < end;) {
        const auto flags = r.Le16(at + entry::kFlags);
        const auto length = r.Le16(at + entry::kLength);
        if (!flags || !length) return false;
        if (*flags & entry::kLast) return true;
        // A length of 0 ends the walk: valid for an ordinary entry, damage for a sub-node entry
        // (which would be skipped by its length).
        if (*length == 0) return *flags != entry::kSubNode;
        if (*flags != entry::kSubNode) {
            if (!IsValidEntry(buf + at, u32(size - at))) return false;
            if (r.Le64(at + entry::kParent) != reference) return false;
        }
        at += *length;
    }
    return true;
}

bool CIndexRecord::IsValid(const u8* buf, u32 size) {
    if (!buf || !CStandardIndexHeader::IsValid(buf, size)) return false;
    const u32 usaOffset = IndexUsaOffset(buf, size);
    const u32 strides = IndexStrides(buf, size);
    if (!SequenceMatches(buf, size, usaOffset, strides)) return false;
    PrivateCopy copy;
    u8* own = copy.Assign(buf, size);
    UndoProtection(own, size, usaOffset, strides);
    return CheckIndexEntries(own, size);
}

i64 CIndexRecord::GetParentFileReference(const u8* buf, u32 size) {
    if (!IsValid(buf, size)) return -1;
    const u64 first = CStandardIndexHeader::GetOffsetofIndexEntries(buf, size);
    return i64(ByteReader(buf, size).Le32(first + entry::kParent).value_or(0));
}

bool CRCRDRecord::IsValidMagicNumber(const u8* buf, u32 size) { return ByteReader(buf, size).Equals(0, "RCRD"); }

bool CRCRDRecord::IsValidUpdateSequence(const u8* buf, u32 size) {
    const ByteReader r(buf, size);
    if (size < rcrd::kPageSize) return false;
    if (r.Le16(rcrd::kUsaCount) != rcrd::kUsaCountValue || r.Le16(rcrd::kUsaOffset) != rcrd::kUsaOffsetValue) return false;
    return SequenceMatches(buf, rcrd::kPageSize, rcrd::kSequence, rcrd::kUsaCountValue - 1);
}

bool CRCRDRecord::IsValidRCRDRecordFirstSector(const u8* buf, u32 size) { return size >= 512 && IsValidMagicNumber(buf, size); }

bool CRCRDRecord::IsValid(const u8* buf, u32 size) { return IsValidMagicNumber(buf, size) && IsValidUpdateSequence(buf, size); }

bool CRCRDRecord::Unfixup(u8* buf, u32 size) {
    if (!IsValid(buf, size)) return false;
    UndoProtection(buf, rcrd::kPageSize, rcrd::kSequence, rcrd::kUsaCountValue - 1);
    return true;
}

bool CRCRDRecord::GetRecordHead(const u8* buf, u32 size, const u8** head) {
    if (!head || !IsValidMagicNumber(buf, size)) return false;
    *head = buf;
    return true;
}

bool CRCRDRecord::GetOperationRecordHeader(const u8* buf, u32 size, const u8** head) {
    if (!buf || !head || size < logrec::kHeaderSize) return false;
    *head = buf;
    return true;
}

bool NTFSPublicFunction::IsClusterNOMatch(i64 sector, i64 cluster, i64 cluster0Sector, u32 spc) {
    if (spc == 0 || (spc != 1 && (spc & 1))) return false;
    i64 delta = 0;
    if (__builtin_sub_overflow(sector, cluster0Sector, &delta)) return false;
    return delta % i64(spc) == 0 && delta / i64(spc) == cluster;
}
