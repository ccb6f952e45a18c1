#include "engine/NTFSLib/NTFSFileRecord.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/FATLib/FATDirEntry.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSLib/NTFSUpdateSequence.h"

using namespace ntfs;

namespace {

// The characters a file name may not hold (all below 0x80).
constexpr bool IsForbiddenNameCharacter(u16 c) {
    switch (c) {
        case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|': return true;
        default: return false;
    }
}

// Four UTF-16LE code units read as one little-endian word: each one's high byte and bit 7 clear.
constexpr u64 kNonAsciiBits = 0xFF80FF80FF80FF80ULL;

// Per ASCII code: 1 for a character a name may not hold, 2 for the NUL that ends it.
constexpr std::array<u8, 128> kNameStops = [] {
    std::array<u8, 128> stops{};
    for (u16 c = 0; c < 128; ++c) stops[c] = IsForbiddenNameCharacter(c) ? 1 : 0;
    stops[0] = 2;
    return stops;
}();

// The strides the file-record protection covers: every stride of the record that the buffer holds. (A
// repair of the first two strides only would leave the sequence number inside the resident data and
// runs of a 4096-byte record, and the copies of such files would be mangled.)
u32 RecordStrides(const u8* buf, int size) {
    const ByteReader r(buf, size_t(std::max(size, 0)));
    const u32 count = r.Le16(record::kUsaCount).value_or(0);
    const u32 offset = r.Le16(record::kUsaOffset).value_or(0);
    if (count < 1) return 0;
    return ProtectedStrides(size_t(std::max(size, 0)), offset, count - 1);
}

u32 UsaOffset(const u8* buf, int size) {
    return ByteReader(buf, size_t(std::max(size, 0))).Le16(record::kUsaOffset).value_or(0);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Header

bool CNTFSFileRecordHeader::IsValid(const u8* buf, u32 size) {
    if (!buf || size == 0 || size % 512 != 0) return false;
    const ByteReader r(buf, size);
    if (!r.Equals(record::kMagic, "FILE")) return false;
    const u32 count = r.Le16(record::kUsaCount).value_or(0xFFFF);
    if (count > record::kMaxUsaCount || count == 0) return false;
    const u32 allocated = r.Le32(record::kBytesAllocated).value_or(0xFFFFFFFF);
    if (allocated > 4096 || allocated % 1024 != 0) return false;
    if (count - 1 > allocated / 512) return false;
    const u32 offset = r.Le16(record::kUsaOffset).value_or(0);
    return offset >= record::kMinUsaOffset && offset <= record::kMaxUsaOffset;
}

bool CNTFSFileRecordHeader::InitFromBuffer(const u8* buf, u32 size) {
    if (!IsValid(buf, size)) return false;
    const u32 first = ByteReader(buf, size).Le16(record::kFirstAttribute).value_or(0);
    m_header.assign(buf, buf + std::min(first, size));
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Record

CNTFSFileRecord::CNTFSFileRecord(const u8* buf, int size, int copy, bool attributesChecked) {
    if (!buf || size < int(record::kHandledSize) || size % 512 != 0) return;
    if (!CNTFSFileRecordHeader::IsValid(buf, u32(size))) return;
    // UnfixupFileRecord, in our own copy, with the protection's place read once.
    const u32 usaOffset = UsaOffset(buf, size);
    const u32 strides = RecordStrides(buf, size);
    const bool protectedStrides = strides > 0 && SequenceMatches(buf, size_t(size), usaOffset, strides);
    const u8* record = buf;
    if (copy || protectedStrides) {
        u8* own = m_copy.Assign(buf, size_t(size));
        if (protectedStrides) UndoProtection(own, size_t(size), usaOffset, strides);
        record = own;
    }
    if (!CheckAttibutes(record, size, m_slots.data(), &m_slotCount, !attributesChecked)) {
        m_slotCount = kAttributeSlots + 1;
        return;
    }
    m_record = record;
    m_size = size;
}

bool CNTFSFileRecord::IsValidUpdateSequence(const u8* buf, int size) {
    if (!buf || size < int(record::kHandledSize)) return false;
    return SequenceMatches(buf, size_t(size), UsaOffset(buf, size), RecordStrides(buf, size));
}

bool CNTFSFileRecord::UnfixupFileRecord(u8* buf, int size) {
    if (!IsValidUpdateSequence(buf, size)) return false;
    UndoProtection(buf, size_t(size), UsaOffset(buf, size), RecordStrides(buf, size));
    return true;
}

bool CNTFSFileRecord::FixupFileRecord(u8* buf, int size) {
    if (!buf || size < int(record::kHandledSize)) return false;
    RedoProtection(buf, size_t(size), UsaOffset(buf, size), RecordStrides(buf, size));
    return true;
}

bool CNTFSFileRecord::IsValid(const u8* buf, int size) { return CNTFSFileRecord(buf, size, 0).IsValid(); }

ByteReader CNTFSFileRecord::AttributeAt(const u8* buf, int size, u32 offset) {
    const ByteReader r(buf, size_t(std::max(size, 0)));
    const auto length = r.Le32(size_t(offset) + attr::kLength);
    if (!length) return {};
    const size_t bounded = std::min<size_t>(*length, r.size() - offset);
    return r.Sub(offset, bounded).value_or(ByteReader());
}

bool CNTFSFileRecord::CheckAttibutes(const u8* buf, int size) { return CheckAttibutes(buf, size, nullptr, nullptr); }

bool CNTFSFileRecord::CheckAttibutes(const u8* buf, int size, AttributeSlot* slots, u32* count, bool check) {
    const ByteReader r(buf, size_t(std::max(size, 0)));
    u32 offset = r.Le16(record::kFirstAttribute).value_or(0);
    u32 seen = 0;
    if (count) *count = 0;
    if (offset > record::kWalkEnd - 1) return true;
    while (offset < record::kWalkEnd) {
        const auto type = r.Le32(offset);
        if (!type) return false;
        if (*type == attr::kEnd) break;
        // Kept as GetAttributeOffset meets it: before its length is looked at.
        if (count) {
            if (seen < kAttributeSlots) slots[seen] = {*type, offset};
            *count = ++seen;
        }
        const u32 length = r.Le32(offset + attr::kLength).value_or(0);
        if (length == 0) break;
        const ByteReader a = r.From(offset);
        if (length > a.size()) return false;  // (the walk ends inside the record however it was checked)
        if (check && !CNTFSFileRecordAttribute::IsValid(a, a.size())) return false;
        if (check && *type == attr::kFileName && !CNTFSFileRecordFileNameAttribute::IsValidName(a)) return false;
        offset += length;
    }
    return true;
}

u32 CNTFSFileRecord::GetAttributeOffset(const u8* buf, int size, u32 type, u32 n) {
    const ByteReader r(buf, size_t(std::max(size, 0)));
    u32 offset = r.Le16(record::kFirstAttribute).value_or(record::kWalkEnd);
    u32 seen = 0;
    while (offset < record::kWalkEnd) {
        const auto found = r.Le32(offset);
        if (!found || *found == attr::kEnd) break;
        if (*found == type && seen++ == n) return offset;
        const u32 length = r.Le32(offset + attr::kLength).value_or(0);
        if (length == 0) break;
        offset += length;
    }
    return 0xFFFFFFFF;
}

ByteReader CNTFSFileRecord::FindAttibute(const u8* buf, int size, u32 type, u32 n) {
    const u32 offset = GetAttributeOffset(buf, size, type, n);
    return offset == 0xFFFFFFFF ? ByteReader() : AttributeAt(buf, size, offset);
}

u32 CNTFSFileRecord::GetAttributeOffset(u32 type, u32 n) const {
    if (!m_record) return 0xFFFFFFFF;
    if (m_slotCount > kAttributeSlots) return GetAttributeOffset(m_record, m_size, type, n);
    for (u32 i = 0; i < m_slotCount; ++i) {
        if (m_slots[i].type == type && n-- == 0) return m_slots[i].offset;
    }
    return 0xFFFFFFFF;
}

ByteReader CNTFSFileRecord::FindAttibute(u32 type, u32 n) const {
    if (!m_record) return ByteReader();
    const u32 offset = GetAttributeOffset(type, n);
    return offset == 0xFFFFFFFF ? ByteReader() : AttributeAt(m_record, m_size, offset);
}

u32 CNTFSFileRecord::GetAttibuteCountofSpecifiedType(const u8* buf, int size, u32 type) {
    const ByteReader r(buf, size_t(std::max(size, 0)));
    u32 offset = r.Le16(record::kFirstAttribute).value_or(record::kWalkEnd);
    u32 count = 0;
    while (offset < record::kWalkEnd) {
        const auto found = r.Le32(offset);
        const u32 length = r.Le32(offset + attr::kLength).value_or(0);
        if (!found || length == 0 || length >= record::kHandledSize) break;
        if (*found == type) ++count;
        offset += length;
    }
    return count;
}

bool CNTFSFileRecord::HasAttributeList(const u8* buf, int size) {
    return GetAttributeOffset(buf, size, attr::kAttributeList, 0) != 0xFFFFFFFF;
}

u16 CNTFSFileRecord::Flags(const u8* buf, int size) {
    return ByteReader(buf, size_t(std::max(size, 0))).Le16(record::kFlags).value_or(0);
}
bool CNTFSFileRecord::IsExtendFileRecord(const u8* buf, int size) {
    return ByteReader(buf, size_t(std::max(size, 0))).Le64(record::kBaseReference).value_or(0) != 0;
}
bool CNTFSFileRecord::HasXPNumber(const u8* buf, int size) {
    const ByteReader r(buf, size_t(std::max(size, 0)));
    return r.Le16(record::kUsaOffset).value_or(0) >= 48 && r.Le16(record::kNumberGuard).value_or(1) == 0;
}
u32 CNTFSFileRecord::XPNumber(const u8* buf, int size) {
    return ByteReader(buf, size_t(std::max(size, 0))).Le32(record::kRecordNumber).value_or(0);
}

bool CNTFSFileRecord::IsFolder() const { return Flags(m_record, m_size) & record::kDirectory; }
bool CNTFSFileRecord::IsinUse() const { return Flags(m_record, m_size) & record::kInUse; }
bool CNTFSFileRecord::IsExtendFileRecord() const { return IsExtendFileRecord(m_record, m_size); }
i64 CNTFSFileRecord::GetBaseFileRecordNumber() const {
    return i64(View().Le64(record::kBaseReference).value_or(0) & record::kReferenceMask);
}
i64 CNTFSFileRecord::GetLogFileSequenceNumber() const { return i64(View().Le64(record::kLogSequence).value_or(0)); }
u32 CNTFSFileRecord::GetFirstAttibuteOffset() const { return View().Le16(record::kFirstAttribute).value_or(0); }
u32 CNTFSFileRecord::GetLength() const { return View().Le32(record::kBytesInUse).value_or(0); }
u32 CNTFSFileRecord::GetAllocatedSize() const { return View().Le32(record::kBytesAllocated).value_or(0); }
bool CNTFSFileRecord::HasXPNumberOfthisMFTRecord() const { return HasXPNumber(m_record, m_size); }
u32 CNTFSFileRecord::GetXPNumberOfthisMFTRecord() const { return XPNumber(m_record, m_size); }

// ---------------------------------------------------------------------------------------------------
// Common attribute header

u32 CNTFSFileRecordAttribute::GetType(const ByteReader& a) { return a.Le32(attr::kType).value_or(attr::kEnd); }
u32 CNTFSFileRecordAttribute::GetLength(const ByteReader& a) { return a.Le32(attr::kLength).value_or(0); }
bool CNTFSFileRecordAttribute::IsResident(const ByteReader& a) { return a.U8(attr::kNonResident).value_or(1) == 0; }
bool CNTFSFileRecordAttribute::IsNamed(const ByteReader& a) { return a.U8(attr::kNameLength).value_or(0) != 0; }
u16 CNTFSFileRecordAttribute::GetOffsetToName(const ByteReader& a) { return a.Le16(attr::kNameOffset).value_or(0); }
u16 CNTFSFileRecordAttribute::GetID(const ByteReader& a) { return a.Le16(attr::kId).value_or(0); }
u16 CNTFSFileRecordAttribute::GetFlags(const ByteReader& a) { return a.Le16(attr::kFlags).value_or(0); }
bool CNTFSFileRecordAttribute::IsCompressed(const ByteReader& a) { return GetFlags(a) & attr::kCompressed; }
bool CNTFSFileRecordAttribute::IsEncrypted(const ByteReader& a) { return GetFlags(a) & attr::kEncrypted; }
u16 CNTFSFileRecordAttribute::GetOffsetToAttribute(const ByteReader& a) { return a.Le16(attr::kValueOffset).value_or(0); }
u32 CNTFSFileRecordAttribute::GetLengthOfAttribute(const ByteReader& a) { return a.Le32(attr::kValueLength).value_or(0); }
i64 CNTFSFileRecordAttribute::GetAllocSizeofAttribute(const ByteReader& a) {
    return i64(a.Le64(attr::kAllocatedSize).value_or(0));
}
i64 CNTFSFileRecordAttribute::GetRealSizeOfAttribute(const ByteReader& a) { return i64(a.Le64(attr::kRealSize).value_or(0)); }
i64 CNTFSFileRecordAttribute::GetInitializedDataSize(const ByteReader& a) {
    return i64(a.Le64(attr::kInitializedSize).value_or(0));
}
u16 CNTFSFileRecordAttribute::GetCompressionUnitSize(const ByteReader& a) {
    return a.Le16(attr::kCompressionUnit).value_or(0);
}

ByteReader CNTFSFileRecordAttribute::Value(const ByteReader& a) {
    if (!IsResident(a)) return {};
    return a.Sub(GetOffsetToAttribute(a), GetLengthOfAttribute(a)).value_or(ByteReader());
}

bool CNTFSFileRecordAttribute::IsValidResidentAttribute(const ByteReader& a) {
    const u32 length = GetLength(a);
    if (length < attr::kResidentHeader || length > a.size()) return false;
    return u64{GetOffsetToAttribute(a)} + GetLengthOfAttribute(a) <= length;
}

bool CNTFSFileRecordAttribute::IsValidNonResidentAttribute(const ByteReader& a) {
    const u32 length = GetLength(a);
    if (length < attr::kNonResidentHeader || length > a.size()) return false;
    const u32 pairs = a.Le16(attr::kPairsOffset).value_or(0xFFFF);
    if (pairs > length) return false;
    if (GetType(a) != attr::kData) return true;
    return CNTFSDataRunList::IsValid(a.data() + pairs, int(length - pairs));
}

bool CNTFSFileRecordAttribute::IsValid(const ByteReader& a, size_t remaining) {
    if (remaining < attr::kCommonHeader || a.size() < attr::kCommonHeader) return false;
    const u32 length = GetLength(a);
    if (length > remaining || length > a.size()) return false;
    const u32 nameLength = a.U8(attr::kNameLength).value_or(0);
    if (nameLength && u64{GetOffsetToName(a)} + 2 * nameLength > length) return false;
    return IsResident(a) ? IsValidResidentAttribute(a) : IsValidNonResidentAttribute(a);
}

// ---------------------------------------------------------------------------------------------------
// $FILE_NAME

i64 CNTFSFileRecordFileNameAttribute::GetFileRecordNumberofParentDirectory(const ByteReader& a) {
    const auto v = a.Le64(filename::kParent);
    return v ? i64(*v & record::kReferenceMask) : -1;
}
u64 CNTFSFileRecordFileNameAttribute::GetCreationFileTime(const ByteReader& a) {
    return a.Le64(filename::kCreation).value_or(0);
}
u64 CNTFSFileRecordFileNameAttribute::GetModificationFileTime(const ByteReader& a) {
    return a.Le64(filename::kModification).value_or(0);
}
u64 CNTFSFileRecordFileNameAttribute::GetLastAccessFileTime(const ByteReader& a) {
    return a.Le64(filename::kAccess).value_or(0);
}
i64 CNTFSFileRecordFileNameAttribute::GetFileRealSize(const ByteReader& a) {
    return i64(a.Le64(filename::kRealSize).value_or(0));
}
u32 CNTFSFileRecordFileNameAttribute::GetFlags(const ByteReader& a) { return a.Le32(filename::kFlags).value_or(0); }
bool CNTFSFileRecordFileNameAttribute::IsDirectory(const ByteReader& a) {
    return GetFlags(a) & filename::kDirectoryFlag;
}
bool CNTFSFileRecordFileNameAttribute::IsEncrypted(const ByteReader& a) {
    return GetFlags(a) & filename::kEncryptedFlag;
}
u8 CNTFSFileRecordFileNameAttribute::GetFileNameLength(const ByteReader& a) {
    return a.U8(filename::kNameLength).value_or(0);
}
ByteReader CNTFSFileRecordFileNameAttribute::GetFileName(const ByteReader& a) {
    return a.Sub(filename::kName, 2 * size_t(GetFileNameLength(a))).value_or(ByteReader());
}
u8 CNTFSFileRecordFileNameAttribute::GetFileNameNamespaceType(const ByteReader& a) {
    const u8 v = a.U8(filename::kNamespace).value_or(4);
    return v > 3 ? 4 : v;
}

bool CNTFSFileRecordFileNameAttribute::IsFileNameEqual(const ByteReader& a, const wchar_t* name) {
    if (!name) return false;
    const size_t length = std::wcslen(name);
    if (length != GetFileNameLength(a)) return false;
    const ByteReader stored = GetFileName(a);
    if (stored.size() != 2 * length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (stored.Le16(2 * i) != u16(name[i] & 0xFFFF)) return false;
    }
    return true;
}

bool CNTFSFileRecordFileNameAttribute::IsValid(const ByteReader& a, size_t remaining) {
    return CNTFSFileRecordAttribute::IsValid(a, remaining) && IsValidName(a);
}

bool CNTFSFileRecordFileNameAttribute::IsValidName(const ByteReader& a) {
    if (CNTFSFileRecordAttribute::GetType(a) != attr::kFileName) return false;
    // The name must lie inside the attribute (the fields are read at fixed offsets from its start).
    const u32 length = CNTFSFileRecordAttribute::GetLength(a);
    if (length < filename::kName) return false;
    const u8 chars = GetFileNameLength(a);
    if (filename::kName + 2 * size_t(chars) > length) return false;
    // The units read in place: the view holds the 2 * chars bytes checked above.
    const ByteReader name = GetFileName(a);
    const u8* units = name.data();
    size_t i = 0;
    // Four ASCII units at a time while none of them is a stop; the unit loop below decides the rest.
    for (; i + 8 <= name.size(); i += 8) {
        const u64 w = name.Le64(i).value_or(kNonAsciiBits);
        if ((w & kNonAsciiBits) != 0 ||
            (kNameStops[w & 0x7F] | kNameStops[(w >> 16) & 0x7F] | kNameStops[(w >> 32) & 0x7F] | kNameStops[(w >> 48) & 0x7F]))
            break;
    }
    for (; i + 1 < name.size(); i += 2) {
        const u16 c = u16(units[i] | units[i + 1] << 8);
        if (c == 0) break;
        if (IsForbiddenNameCharacter(c)) return false;
    }
    return true;
}

bool IsValidFileName(const u16* name, int length) {
    if (!name || length < 1) return true;
    for (int i = 0; i < length && name[i] != 0; ++i) {
        if (IsForbiddenNameCharacter(name[i])) return false;
    }
    return true;
}

void WCH2U16(const wchar_t* in, unsigned count, u16* out) {
    if (!in || !out || count == 0) return;
    for (unsigned i = 0; i < count; ++i) out[i] = u16(u32(in[i]) & 0xFFFF);
}

bool Utf16LeAsciiToChars(const u8* bytes, size_t length, char* out) {
    if (length % 2 != 0) return false;
    const size_t count = length / 2;
    const ByteReader units(bytes, length);
    size_t i = 0;
    // Four units at a time, then one by one.
    for (; 2 * i + 8 <= length; i += 4) {
        const u64 w = units.Le64(2 * i).value_or(kNonAsciiBits);
        if (w & kNonAsciiBits) break;
        out[i] = char(w);
        out[i + 1] = char(w >> 16);
        out[i + 2] = char(w >> 32);
        out[i + 3] = char(w >> 48);
    }
    for (; i < count && bytes[2 * i] < 0x80 && bytes[2 * i + 1] == 0; ++i) out[i] = char(bytes[2 * i]);
    return i == count;
}

bool Utf16LeToUtf8(const u8* bytes, size_t length, std::string& out) {
    out.clear();
    if (length == 0) return true;
    // Most names are ASCII: copied as they are, without a conversion (names of up to 255 units through a
    // buffer on the stack, so that the string is made once at its size).
    if (length % 2 == 0) {
        const size_t count = length / 2;
        std::array<char, 256> small;
        std::string large;
        char* text = small.data();
        if (count > small.size()) {
            large.resize(count);
            text = large.data();
        }
        if (Utf16LeAsciiToChars(bytes, length, text)) {
            if (count > small.size()) {
                out = std::move(large);
            } else {
                out = std::string(text, count);
            }
            return true;
        }
    }
    // Any other name unit by unit: an unpaired surrogate (or an odd last byte) becomes U+FFFD, so a
    // name is never cut at a unit that is no character.
    std::u16string units(length / 2 + length % 2, u'\0');
    for (size_t i = 0; i < length / 2; ++i) units[i] = char16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (length % 2) units.back() = u'\xFFFD';
    out = fat::Utf16ToUtf8(units);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// $STANDARD_INFORMATION

u64 CNTFSFileRecordStandardInformationAttribute::GetCreationFileTime(const ByteReader& a) {
    return a.Le64(stdinfo::kCreation).value_or(0);
}
u64 CNTFSFileRecordStandardInformationAttribute::GetModificationFileTime(const ByteReader& a) {
    return a.Le64(stdinfo::kModification).value_or(0);
}
u64 CNTFSFileRecordStandardInformationAttribute::GetLastAccessFileTime(const ByteReader& a) {
    return a.Le64(stdinfo::kAccess).value_or(0);
}
u32 CNTFSFileRecordStandardInformationAttribute::GetDosFilePermission(const ByteReader& a) {
    return a.Le32(stdinfo::kDosAttributes).value_or(0);
}
bool CNTFSFileRecordStandardInformationAttribute::IsValid(const ByteReader& a, u32 length) {
    if (!CNTFSFileRecordAttribute::IsResident(a) || !a.Has(stdinfo::kDosAttributes, 4)) return false;
    return (length & 0xFFFF) >= u32{CNTFSFileRecordAttribute::GetOffsetToAttribute(a)} + stdinfo::kMinValue;
}

// ---------------------------------------------------------------------------------------------------
// $INDEX_ROOT

bool CNTFSFileRecordIndexRootAttribute::IsValid(const ByteReader& a, size_t size) {
    if (!CNTFSFileRecordAttribute::IsValid(a, size) || !CNTFSFileRecordAttribute::IsResident(a)) return false;
    const ByteReader value = CNTFSFileRecordAttribute::Value(a);
    const auto total = value.Le32(indexroot::kEntriesTotal);
    return total && u64{*total} + 16 <= value.size();
}

i64 CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(const ByteReader& a) {
    if (!IsValid(a, a.size())) return -1;
    const ByteReader value = CNTFSFileRecordAttribute::Value(a);
    const u32 total = value.Le32(indexroot::kEntriesTotal).value_or(0);
    const u64 first = u64{indexroot::kEntriesOffset} + value.Le32(indexroot::kEntriesOffset).value_or(0);
    if (total <= 16 || first >= value.size()) return -1;
    // The walk stays inside the value whatever the header claims.
    const ByteReader entries = value.From(size_t(first));
    const size_t end = std::min<size_t>(total - 16, entries.size());
    i64 parent = -1;
    for (size_t at = 0; at < end;) {
        const u16 length = entries.Le16(at + entry::kLength).value_or(0);
        if (length == 0) break;
        const u16 flags = entries.Le16(at + entry::kFlags).value_or(entry::kLast);
        if (flags != entry::kSubNode) {
            if ((flags & entry::kLast) || entries.U8(at + entry::kNameLength).value_or(0) == 0) break;
            const auto real = entries.Le64(at + entry::kRealSize);
            const auto allocated = entries.Le64(at + entry::kAllocatedSize);
            if (!real || !allocated || i64(*real) > i64(*allocated)) break;
        }
        const auto reference = entries.Le64(at + entry::kParent);
        if (!reference) break;
        const i64 number = i64(*reference & record::kReferenceMask);
        if (parent != -1 && parent != number) return -1;
        parent = number;
        at += length;
    }
    return parent;
}
