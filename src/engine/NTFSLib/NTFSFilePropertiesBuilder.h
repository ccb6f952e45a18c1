// Builds the properties of one file from its base record and extension records: which $FILE_NAME
// names it, its parent, its times, and its size bounded by its extents.
#pragma once

#include "engine/NTFSLib/NTFSFileProperties.h"

class CNTFSMultiFileRecord;

class CNTFSFilePropertiesBuilder {
public:
    // New properties (the caller owns them), or null when the record has no usable $FILE_NAME.
    // *parent receives the parent record number when one is known.
    static CNTFSFileProperties* BuildFileProperties(i64 recordSector, CNTFSMultiFileRecord& multi, i64 bytesPerCluster,
                                                    i64* parent);
    static bool BuildFilePropertiesFrom0x30(CNTFSMultiFileRecord& multi, CNTFSFilePropertiesStruct& out, i64* parent);
    static void BuildFilePropertiesFrom0x10(CNTFSMultiFileRecord& multi, CNTFSFilePropertiesStruct& out);
    static void BuildFilePropertiesFrom0x80(CNTFSMultiFileRecord& multi, CNTFSFilePropertiesStruct& out,
                                            i64 bytesPerCluster);
    // A negative size becomes the clusters of the extents x spc x 512 (non-resident lists only).
    static void AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(CNTFSFileProperties* properties, u32 spc);
};
