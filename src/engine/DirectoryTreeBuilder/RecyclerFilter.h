// Windows recycle-bin folders and their index ("$I") and content ("$R") files.
#pragma once

#include <string>

#include "engine/Common/SearcherTypes.h"
#include "engine/Common/Types.h"

class IFileNode;

class CRecyclerFilter {
public:
    static constexpr u16 kDirectoryBit = 0x10;
    static constexpr u32 kMaxIndexBytes = 1024;
    static constexpr u32 kMaxNameBytes = 512;

    // A folder named "Recycler", "Recycled", "$Recycle.Bin" or "$RECYCLE.BI0" (any case).
    static bool IsRecycleBinSigleNode(IFileNode* node);
    // The node or one of its linked ancestors is such a folder.
    static bool IsRecycleBin(IFileNode* node);
    // "$I..." or "#I...": an index file.
    static bool IsRecoverNode(IFileNode* node);
    // "$R..." or "#R...", but not an NTFS system name ($RmMetadata, $Reparse, $Repair).
    static bool IsRecoverNodeEx(IFileNode* node);
    // UTF-16LE -> UTF-8 into at most outLimit bytes; false when it cannot be converted or does not fit.
    static bool UTF162UTF8(const u8* in, size_t inBytes, std::string& out, size_t outLimit);
    // The former name of a recycled file from its index record (Windows layouts 1 and 2): the part of
    // the stored path after its last backslash. False for anything malformed or an unsafe name.
    static bool ParseIndexName(const u8* bytes, size_t length, std::string& name);
};
