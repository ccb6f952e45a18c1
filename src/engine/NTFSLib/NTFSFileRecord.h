// FILE records of the master file table and the attributes the search reads: validation, the
// update-sequence protection, attribute walks, and readers of $STANDARD_INFORMATION, $FILE_NAME and
// $INDEX_ROOT. Attributes are handed out as bounded views (ByteReader) of their own bytes.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"
#include "engine/NTFSLib/NTFSUpdateSequence.h"

class CNTFSFileRecordHeader {
public:
    static bool IsValid(const u8* buf, u32 size);
    // Keeps the header bytes up to the first attribute when the header is valid.
    bool InitFromBuffer(const u8* buf, u32 size);
    const std::vector<u8>& Bytes() const { return m_header; }

private:
    std::vector<u8> m_header;
};

class CNTFSFileRecord {
public:
    // Holds the record in buf when it is a valid one (nothing otherwise). The caller's bytes are only
    // read: when the update sequence matches, the record is read from a copy of its own with the
    // protection of every stride removed; otherwise from buf itself, or from a copy when `copy` is set.
    CNTFSFileRecord(const u8* buf, int size, int copy) : CNTFSFileRecord(buf, size, copy, false) {}
    // The same for bytes whose attributes were found valid before (by this class, at the same size):
    // the header and the protection are handled alike, the attributes are walked but not checked.
    CNTFSFileRecord(const u8* buf, int size, int copy, bool attributesChecked);
    CNTFSFileRecord(const CNTFSFileRecord&) = delete;
    CNTFSFileRecord& operator=(const CNTFSFileRecord&) = delete;

    bool IsValid() const { return m_record != nullptr; }
    // The record's bytes, protection removed.
    const u8* GetBuffer() const { return m_record; }
    int GetSize() const { return m_size; }
    ByteReader View() const { return ByteReader(m_record, m_record ? size_t(m_size) : 0); }

    // Whether buf holds a valid record (checked as the constructor checks it; buf is only read).
    static bool IsValid(const u8* buf, int size);
    static bool IsValidUpdateSequence(const u8* buf, int size);
    // Remove and put back the protection in the caller's own buffer.
    static bool UnfixupFileRecord(u8* buf, int size);
    static bool FixupFileRecord(u8* buf, int size);
    static bool CheckAttibutes(const u8* buf, int size);

    // The n-th attribute (from 0) of that type; an empty view when there is none.
    ByteReader FindAttibute(u32 type, u32 n) const;
    static ByteReader FindAttibute(const u8* buf, int size, u32 type, u32 n);
    // Its offset in the record, or 0xFFFFFFFF: the static form's answer, taken from the attributes the
    // validation walked when they were few enough to be kept.
    u32 GetAttributeOffset(u32 type, u32 n) const;
    // Its offset in the record, or 0xFFFFFFFF.
    static u32 GetAttributeOffset(const u8* buf, int size, u32 type, u32 n);
    static u32 GetAttibuteCountofSpecifiedType(const u8* buf, int size, u32 type);
    static bool HasAttributeList(const u8* buf, int size);
    // The attribute at offset, bounded by its length and the record; empty when it does not fit.
    static ByteReader AttributeAt(const u8* buf, int size, u32 offset);

    bool IsFolder() const;
    bool IsinUse() const;
    bool IsExtendFileRecord() const;
    i64 GetBaseFileRecordNumber() const;
    i64 GetLogFileSequenceNumber() const;
    u32 GetFirstAttibuteOffset() const;
    u32 GetLength() const;
    u32 GetAllocatedSize() const;
    bool HasXPNumberOfthisMFTRecord() const;
    u32 GetXPNumberOfthisMFTRecord() const;

    // The same header readers over a raw buffer.
    static u16 Flags(const u8* buf, int size);
    static bool IsExtendFileRecord(const u8* buf, int size);
    static bool HasXPNumber(const u8* buf, int size);
    static u32 XPNumber(const u8* buf, int size);

private:
    // An attribute met by the validation's walk.
    struct AttributeSlot {
        u32 type;
        u32 offset;
    };
    static constexpr size_t kAttributeSlots = 16;
    // CheckAttibutes that also keeps the walk's attributes (when all of them fit) in slots.
    static bool CheckAttibutes(const u8* buf, int size, AttributeSlot* slots, u32* count, bool check = true);

    const u8* m_record = nullptr;
    int m_size = 0;
    // The attributes of the walk in order, valid when m_slotCount <= kAttributeSlots.
    u32 m_slotCount = kAttributeSlots + 1;
    std::array<AttributeSlot, kAttributeSlots> m_slots;
    ntfs::PrivateCopy m_copy;
};

// Readers of the common attribute header.
class CNTFSFileRecordAttribute {
public:
    static u32 GetType(const ByteReader& a);
    static u32 GetLength(const ByteReader& a);
    static bool IsResident(const ByteReader& a);
    static bool IsNamed(const ByteReader& a);
    static u16 GetOffsetToName(const ByteReader& a);
    static u16 GetID(const ByteReader& a);
    static u16 GetFlags(const ByteReader& a);
    static bool IsCompressed(const ByteReader& a);
    static bool IsEncrypted(const ByteReader& a);
    static u16 GetOffsetToAttribute(const ByteReader& a);
    static u32 GetLengthOfAttribute(const ByteReader& a);
    static i64 GetAllocSizeofAttribute(const ByteReader& a);
    static i64 GetRealSizeOfAttribute(const ByteReader& a);
    static i64 GetInitializedDataSize(const ByteReader& a);
    static u16 GetCompressionUnitSize(const ByteReader& a);
    // The resident value (empty when it does not fit the attribute).
    static ByteReader Value(const ByteReader& a);
    // The whole header of its form fits, the length fits `remaining`, the name and the value (or the
    // mapping pairs, checked for $DATA) lie inside the attribute.
    static bool IsValid(const ByteReader& a, size_t remaining);
    static bool IsValidResidentAttribute(const ByteReader& a);
    static bool IsValidNonResidentAttribute(const ByteReader& a);
};

class CNTFSFileRecordFileNameAttribute {
public:
    static i64 GetFileRecordNumberofParentDirectory(const ByteReader& a);
    static u64 GetCreationFileTime(const ByteReader& a);
    static u64 GetModificationFileTime(const ByteReader& a);
    static u64 GetLastAccessFileTime(const ByteReader& a);
    static i64 GetFileRealSize(const ByteReader& a);
    static u32 GetFlags(const ByteReader& a);
    static bool IsDirectory(const ByteReader& a);
    static bool IsEncrypted(const ByteReader& a);
    // The UTF-16LE name bytes (2 x length), bounded by the attribute.
    static ByteReader GetFileName(const ByteReader& a);
    static u8 GetFileNameLength(const ByteReader& a);
    // The namespace byte, 4 for any value above 3.
    static u8 GetFileNameNamespaceType(const ByteReader& a);
    static bool IsFileNameEqual(const ByteReader& a, const wchar_t* name);
    // A valid $FILE_NAME whose whole name lies inside the attribute and holds no forbidden character.
    static bool IsValid(const ByteReader& a, size_t remaining);
    // The same for an attribute already found valid as an attribute.
    static bool IsValidName(const ByteReader& a);
};

// An empty name (or a length below 1) passes; otherwise none of " * / : < > ? \ | up to a 0 character.
bool IsValidFileName(const u16* name, int length);
// Copies count characters keeping the low 16 bits of each; nothing for null pointers or a count of 0.
void WCH2U16(const wchar_t* in, unsigned count, u16* out);
// UTF-16LE bytes whose units are all ASCII, as chars into out (room for length / 2); false (out partly
// written) when a unit is not ASCII or the length is odd.
bool Utf16LeAsciiToChars(const u8* bytes, size_t length, char* out);
// UTF-16LE bytes as UTF-8; a unit that is no character (an unpaired surrogate, an odd last byte) becomes
// U+FFFD. Always true.
bool Utf16LeToUtf8(const u8* bytes, size_t length, std::string& out);

class CNTFSFileRecordStandardInformationAttribute {
public:
    static u64 GetCreationFileTime(const ByteReader& a);
    static u64 GetModificationFileTime(const ByteReader& a);
    static u64 GetLastAccessFileTime(const ByteReader& a);
    static u32 GetDosFilePermission(const ByteReader& a);
    static bool IsValid(const ByteReader& a, u32 length);
};

class CNTFSFileRecordIndexRootAttribute {
public:
    static bool IsValid(const ByteReader& a, size_t size);
    // The record number of the directory that owns the index root, read from its entries; -1 when
    // the entries disagree, none was read, or the attribute is not valid.
    static i64 GetMFTFileRecordNumberfrom0x90(const ByteReader& a);
};
