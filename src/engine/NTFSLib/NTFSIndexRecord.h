// Directory index blocks ("INDX") and log-file record pages ("RCRD"): validation, protection, and
// the few fields the search reads. Every walk stays inside the block it was given.
#pragma once

#include "engine/Common/Types.h"

class CStandardIndexHeader {
public:
    static bool IsValidMagicNumber(const u8* buf, u32 size);
    static bool IsValid(const u8* buf, u32 size);
    // The u32 at 24 plus 24.
    static u64 GetOffsetofIndexEntries(const u8* buf, u32 size);
    static u32 GetSizeofIndexEntries(const u8* buf, u32 size);
    static i64 GetVCN(const u8* buf, u32 size);
    static i64 GetLogFileSequenceNumber(const u8* buf, u32 size);
};

class CIndexRecord {
public:
    // A valid header, a matching sequence and consistent entries (checked in a copy with the protection
    // removed: buf is only read).
    static bool IsValid(const u8* buf, u32 size);
    // One entry: its real size is at most its allocated size (the entry must hold 72 bytes).
    static bool IsValidEntry(const u8* entry, u32 size);
    static bool IsValidUpdateSequence(const u8* buf, u32 size);
    // Remove and put back the protection in the caller's own buffer.
    static bool UnfixupIndexRecord(u8* buf, u32 size);
    static bool FixupIndexRecord(u8* buf, u32 size);
    // The entries share one parent; an entry of length 0 ends the walk, which never leaves the block.
    static bool CheckIndexEntries(const u8* buf, u32 size);
    static i64 GetVCN(const u8* buf, u32 size) { return CStandardIndexHeader::GetVCN(buf, size); }
    static i64 GetLogFileSequenceNumber(const u8* buf, u32 size) {
        return CStandardIndexHeader::GetLogFileSequenceNumber(buf, size);
    }
    // The low 32 bits of the first entry's parent: the directory that owns the block; -1 when invalid.
    static i64 GetParentFileReference(const u8* buf, u32 size);
};

class CRCRDRecord {
public:
    static bool IsValidMagicNumber(const u8* buf, u32 size);
    static bool IsValidUpdateSequence(const u8* buf, u32 size);
    static bool IsValidRCRDRecordFirstSector(const u8* buf, u32 size);
    static bool IsValid(const u8* buf, u32 size);
    static bool Unfixup(u8* buf, u32 size);
    // The page start when it is a record page.
    static bool GetRecordHead(const u8* buf, u32 size, const u8** head);
    // The buffer start when at least 48 bytes remain.
    static bool GetOperationRecordHeader(const u8* buf, u32 size, const u8** head);
};

namespace NTFSPublicFunction {
// True when sector lies on a cluster boundary and is the start of that cluster. An spc of 0, or an
// odd spc other than 1, is refused (false).
bool IsClusterNOMatch(i64 sector, i64 cluster, i64 cluster0Sector, u32 sectorsPerCluster);
}  // namespace NTFSPublicFunction
